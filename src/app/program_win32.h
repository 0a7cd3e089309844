#pragma once

#include "form/frm_ping.h"
#include "platform/icmp_library_win32.h"
#include "platform/settings_store_win32.h"
#include "platform/socket_library_win32.h"
#include "win32/form_window.h"
#include "win32/win32_window_system.h"

// The program's parts, wired together: the window on the Windows layer, its
// settings beside the program or in the user's roaming folder. Form_Load
// starts it.
struct Program {
    Program();

    Win32WindowSystem windowSystem;
    WindowsIcmpLibrary icmp;
    WindowsSocketLibrary winsock;
    WindowsSettingsStore settings;
    FrmPing form;
    FormWindow window;
};
