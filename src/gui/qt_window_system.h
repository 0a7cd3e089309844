#pragma once

#include "platform/window_system.h"

// The window system services on Qt.
class QtWindowSystem final : public WindowSystem {
public:
    void yield() override;
    int messageBox(const QString& prompt, int style, const QString& title) override;
    void resetMousePointer() override;
    [[noreturn]] void endProgram(int exitStatus) override;
};
