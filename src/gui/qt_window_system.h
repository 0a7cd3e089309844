#pragma once

#include "platform/window_system.h"

// The window system services on Qt.
class QtWindowSystem final : public WindowSystem {
public:
    void yield() override;
    int messageBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    void resetMousePointer() override;
    [[noreturn]] void endProgram(int exitStatus) override;
};
