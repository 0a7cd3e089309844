#include "app/program_win32.h"

#include "platform/system_text_win32.h"

#include <windows.h>

#include <shlobj.h>

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

Program::Program()
    : settings(programFolder(), roamingAppData()),
      form({windowSystem, icmp, winsock, settings}),
      window(form) {
    windowSystem.setOwner(window.handle());
    icmp.setWhileWaiting([this] { window.paintWhileWaiting(); });
}
