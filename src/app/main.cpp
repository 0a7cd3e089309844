#include "app/program.h"
#include "platform/privileges.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include <unistd.h>

namespace {

bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// --version and --help are answered at once, without a display or the
// capability; every other argument is the toolkit's.
std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::puts("sondrel-ping " PING_VERSION);
            return 0;
        }
        if (argument == "--help") {
            std::puts(
                "Usage: sondrel-ping [--version | --help]: opens a window that pings a host "
                "(see man sondrel-ping).");
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> answered = answerCommandLine(argc, argv)) {
        return *answered;
    }
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
