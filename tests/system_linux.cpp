#include "system.h"

#include "platform/settings_store_linux.h"
#include "platform/socket_library_linux.h"

std::unique_ptr<SettingsStore> settingsStoreIn(const std::filesystem::path& folder) {
    return std::make_unique<LinuxSettingsStore>(folder.string(), (folder / "config").string(), "",
                                                (folder / "xdg").string());
}

std::unique_ptr<SocketLibrary> systemSocketLibrary() {
    return std::make_unique<LinuxSocketLibrary>();
}
