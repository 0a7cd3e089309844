#include "app/program_win32.h"

#include <windows.h>

#include <commctrl.h>

#include <clocale>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The user's number rules for the count.
    std::setlocale(LC_ALL, "");
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Program program;
    program.form.Form_Load();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        dispatchMessage(msg);
    }
    return static_cast<int>(msg.wParam);
}
