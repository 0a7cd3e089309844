#include "gui/window_contents.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

// Under X without a compositing window manager, what another window covered
// is gone, and the server asks the program to paint it again; the toolkit
// serves that request only together with input, timers and queued calls. The
// server's backing store keeps the picture instead. Wayland always does.
void keepContentsWhileCovered(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // The offscreen platform answers too, without a connection.
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return;
    }
    const uint32_t whenMapped = XCB_BACKING_STORE_WHEN_MAPPED;
    xcb_change_window_attributes(connection, static_cast<xcb_window_t>(window.winId()),
                                 XCB_CW_BACKING_STORE, &whenMapped);
}
