#include "system.h"

#include "platform/settings_store_win32.h"
#include "platform/socket_library_win32.h"
#include "platform/system_text_win32.h"

std::unique_ptr<SettingsStore> settingsStoreIn(const std::filesystem::path& folder) {
    return std::make_unique<WindowsSettingsStore>(programText(folder.wstring()),
                                                  programText((folder / "appdata").wstring()));
}

std::unique_ptr<SocketLibrary> systemSocketLibrary() {
    return std::make_unique<WindowsSocketLibrary>();
}
