#include "app/program.h"
#include "platform/icmp/privileges.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>

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
    // The window needs none: its ICMP helper holds the raw socket. A file
    // capability left from an older version, or an inherited ambient set,
    // goes before anything reads the environment. No no-new-privs: the
    // helper's own file capability would not work.
    if (!dropCapabilities()) {
        std::fputs("sondrel-ping: cannot drop the capabilities it was started with.\n", stderr);
        return 1;
    }
    std::setlocale(LC_ALL, "");
    if (!haveDisplay()) {
        std::fputs(
            "sondrel-ping: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it "
            "from a desktop session, over 'ssh -X', or under a virtual one with 'xvfb-run'.\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    Program program;
    program.form.Form_Load();
    return QApplication::exec();
}
