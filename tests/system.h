#pragma once

// The system's own services, made as the program makes them, for the tests
// that run on every system.

#include "platform/settings_store.h"
#include "platform/socket_library.h"

#include <filesystem>
#include <memory>

// The store of a program in folder, the user's own folders within it too.
std::unique_ptr<SettingsStore> settingsStoreIn(const std::filesystem::path& folder);
std::unique_ptr<SocketLibrary> systemSocketLibrary();
