#pragma once

#include "platform/window_system.h"

#include <windows.h>

#include <chrono>

// A frame of the display, at 60 Hz.
inline constexpr std::chrono::milliseconds kFrame{16};

// The window system services on Win32.
class Win32WindowSystem final : public WindowSystem {
public:
    // The window that the message boxes belong to and keep from input.
    void setOwner(HWND owner) { owner_ = owner; }

    // At most once a frame: a look at the queue costs a round trip to the
    // wineserver under Wine, as much as an echo to 127.0.0.1, and a run
    // yields twice an echo.
    void yield() override;
    // MessageBoxW: the styles are the system's own values.
    int messageBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    void resetMousePointer() override;
    [[noreturn]] void endProgram(int exitStatus) override;

private:
    HWND owner_ = nullptr;
    std::chrono::steady_clock::time_point yielded_;
};

// Hands one message on: the keys that move through a window's controls (Tab,
// Enter, Esc) to its dialog manager first. For the message loop and yield.
void dispatchMessage(MSG& msg);

// Paints what waits to be painted and serves what other threads send the
// thread's windows (a screen reader's questions), and nothing else: no
// input, no timer.
void dispatchWhileWaiting();
