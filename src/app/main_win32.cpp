#include "form/frm_ping.h"
#include "platform/icmp_library_win32.h"
#include "platform/settings_store_win32.h"
#include "platform/socket_library_win32.h"
#include "platform/system_text_win32.h"
#include "win32/form_window.h"
#include "win32/win32_window_system.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <clocale>
#include <string>

namespace {

std::u16string programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) ==
           path.size()) {
        path.resize(path.size() * 2);
    }
    path.resize(length);
    return programText(path.substr(0, path.find_last_of(L'\\')));
}

std::u16string roamingAppData() {
    wchar_t* folder = nullptr;
    std::u16string path;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder) == S_OK) {
        path = programText(folder);
    }
    CoTaskMemFree(folder);
    return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The user's number rules for the count.
    std::setlocale(LC_ALL, "");
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Win32WindowSystem windowSystem;
    WindowsIcmpLibrary icmp;
    WindowsSocketLibrary winsock;
    WindowsSettingsStore settings(programFolder(), roamingAppData());
    FrmPing form({windowSystem, icmp, winsock, settings});
    FormWindow window(form);
    windowSystem.setOwner(window.handle());
    icmp.setWhileWaiting([&window] { window.paintWhileWaiting(); });

    form.Form_Load();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        dispatchMessage(msg);
    }
    return static_cast<int>(msg.wParam);
}
