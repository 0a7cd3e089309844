#pragma once

#include "platform/icmp_linux.h"
#include "platform/qt_window_system.h"
#include "platform/socket_library_linux.h"
#include "ui/frm_ping.h"
#include "ui/window.h"

// The program's parts, wired together: the window on the real platform layer.
// Make it after the QApplication; then Form_Load starts it.
struct Program {
    // rawIcmp: the raw ICMP socket opened while the capability was held, or -1.
    explicit Program(int rawIcmp);

    QtWindowSystem windowSystem;
    LinuxIcmpHelper icmp;
    LinuxSocketLibrary winsock;
    FrmPing form;
    FormWindow window;
};
