#pragma once

#include "app/toolkit_language.h"
#include "form/frm_ping.h"
#include "gui/form_window.h"
#include "gui/qt_window_system.h"
#include "platform/icmp_library_linux.h"
#include "platform/settings_store_linux.h"
#include "platform/socket_library_linux.h"

// The program's parts, wired together: the window on the real platform layer.
// Make it after the QApplication; then Form_Load starts it.
struct Program {
    explicit Program(LinuxIcmpLibrary::SocketKind icmpKind = LinuxIcmpLibrary::SocketKind::Auto);

    ToolkitLanguage language;  // before any widget is made
    QtWindowSystem windowSystem;
    LinuxIcmpLibrary icmp;
    LinuxSocketLibrary winsock;
    LinuxSettingsStore settings;
    FrmPing form;
    FormWindow window;
};
