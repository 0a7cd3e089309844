#pragma once

#include "platform/window_system.h"

#include <windows.h>

// The window system services on Win32.
class Win32WindowSystem final : public WindowSystem {
public:
    // The window that the message boxes belong to and keep from input.
    void setOwner(HWND owner) { owner_ = owner; }

    void yield() override;
    // MessageBoxW: the styles are the system's own values.
    int messageBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    void resetMousePointer() override;
    [[noreturn]] void endProgram(int exitStatus) override;

private:
    HWND owner_ = nullptr;
};

// Hands one message on: the keys that move through a window's controls (Tab,
// Enter, Esc) to its dialog manager first. For the message loop and yield.
void dispatchMessage(MSG& msg);

// Paints what waits to be painted and serves what other threads send the
// thread's windows (a screen reader's questions), and nothing else: no
// input, no timer.
void dispatchWhileWaiting();
