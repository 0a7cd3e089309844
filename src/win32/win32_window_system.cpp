#include "win32/win32_window_system.h"

#include "platform/system_text_win32.h"

#include <chrono>
#include <cstdlib>
#include <string>

void dispatchMessage(MSG& msg) {
    const HWND top = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top != nullptr && IsDialogMessageW(top, &msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void dispatchWhileWaiting() {
    MSG msg;
    // Bounded: a window that never validates would otherwise hold the thread.
    // The sent messages are served inside PeekMessageW.
    for (int i = 0;
         i < 64 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE);
         ++i) {
        DispatchMessageW(&msg);
    }
}

void Win32WindowSystem::yield() {
    const auto now = std::chrono::steady_clock::now();
    if (now - yielded_ < kFrame) {
        return;
    }
    yielded_ = now;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the message loop, once the procedures have returned.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        dispatchMessage(msg);
    }
}

int Win32WindowSystem::messageBox(std::u16string_view prompt, int style,
                                  std::u16string_view title) {
    const std::u16string text(prompt);
    const std::u16string caption(title);
    return MessageBoxW(IsWindow(owner_) ? owner_ : nullptr, wideText(text), wideText(caption),
                       static_cast<UINT>(style) | MB_APPLMODAL);
}

void Win32WindowSystem::resetMousePointer() {
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void Win32WindowSystem::endProgram(int exitStatus) {
    std::_Exit(exitStatus);
}
