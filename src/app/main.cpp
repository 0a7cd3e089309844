#include "app/program.h"
#include "platform/icmp/privileges.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// --version and --help are answered at once, without a display; every other
// argument is the toolkit's.
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
    // The window needs none: its ICMP helper holds the raw socket. A file
    // capability left from an older version, or an inherited ambient set,
    // goes before anything reads the environment. No no-new-privs: the
    // helper's own file capability would not work.
    if (!dropCapabilities()) {
        std::fputs("sondrel-ping: cannot drop the capabilities it was started with.\n", stderr);
        return 1;
    }
    if (const std::optional<int> answered = answerCommandLine(argc, argv)) {
        return *answered;
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
