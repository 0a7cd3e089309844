#pragma once

#include "app/toolkit_language.h"
#include "form/frm_ping.h"
#include "gui/qt_window_system.h"
#include "gui/window.h"
#include "platform/icmp_linux.h"
#include "platform/settings_store_linux.h"
#include "platform/socket_library_linux.h"

// The program's parts, wired together: the window on the real platform layer.
// Make it after the QApplication; then Form_Load starts it.
struct Program {
    explicit Program(LinuxIcmpHelper::SocketKind icmpKind = LinuxIcmpHelper::SocketKind::Auto);

    ToolkitLanguage language;  // before any widget is made
    QtWindowSystem windowSystem;
    LinuxIcmpHelper icmp;
    LinuxSocketLibrary winsock;
    LinuxSettingsStore settings;
    FrmPing form;
    FormWindow window;
};
