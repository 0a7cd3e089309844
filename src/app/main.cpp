#include "app/program.h"
#include "platform/privileges.h"

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
    Program program(rawIcmp);
    if (rawIcmp >= 0) {
        close(rawIcmp);  // the ICMP helper keeps its own
    }
    program.form.Form_Load();
    return QApplication::exec();
}
