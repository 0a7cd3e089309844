#pragma once

#include <string_view>

// Message-box styles and answers, as the form's procedures ask for them.
namespace MsgBox {
inline constexpr int OkOnly = 0;
inline constexpr int AbortRetryIgnore = 2;
inline constexpr int Critical = 16;
inline constexpr int Information = 64;

inline constexpr int Ok = 1;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
}  // namespace MsgBox

// The window system's services that the procedures call, apart from the
// controls themselves.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Lets the message loop handle every message that is waiting.
    virtual void yield() = 0;

    // A modal, application-wide message box; returns the button chosen. The
    // first button is the default.
    virtual int messageBox(std::u16string_view prompt, int style, std::u16string_view title) = 0;

    // Puts the application-wide mouse pointer back to the default.
    virtual void resetMousePointer() = 0;

    // Ends the process at once: no further statement and no closing handler
    // runs, nothing is released.
    [[noreturn]] virtual void endProgram(int exitStatus) = 0;
};
