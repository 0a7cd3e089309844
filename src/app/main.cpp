#include "platform/icmp_linux.h"
#include "platform/privileges.h"
#include "platform/qt_window_system.h"
#include "platform/settings_folder.h"
#include "platform/socket_library_linux.h"
#include "ui/frm_ping.h"
#include "ui/window.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    const int rawIcmp = openRawIcmpSocketThenDropCapabilities();
    std::setlocale(LC_ALL, "");
    if (!haveDisplay()) {
        std::fputs(
            "sondrel-ping: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it "
            "from a desktop session, over 'ssh -X', or under a virtual one with 'xvfb-run'.\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QtWindowSystem windowSystem;
    LinuxIcmpHelper icmp(LinuxIcmpHelper::SocketKind::Auto, rawIcmp);
    if (rawIcmp >= 0) {
        close(rawIcmp);  // the helper keeps its own
    }
    LinuxSocketLibrary winsock;
    FrmPing form({windowSystem, icmp, winsock,
                  chooseSettingsFolder(QCoreApplication::applicationDirPath(),
                                       qEnvironmentVariable("XDG_CONFIG_HOME"),
                                       qEnvironmentVariable("HOME"))});
    FormWindow window(form);
    form.Form_Load();
    return QApplication::exec();
}
