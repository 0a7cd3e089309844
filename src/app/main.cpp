#include "app/program.h"
#include "platform/icmp/privileges.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// What the toolkit says while it starts: held back, to be passed on once it
// has started, or else to say in one line why it could not.
struct Message {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<Message> heldBack;

// The toolkit looks up its runtime folder at start only to see whether it
// runs in a Flatpak; where XDG_RUNTIME_DIR is unset or not the user's own
// (xvfb-run, sudo), what it says of that folder is no concern of the window.
bool aboutRuntimeFolder(const Message& message) {
    return message.text.startsWith(QLatin1String("QStandardPaths: "));
}

// A fatal one means that no platform plugin could start (DISPLAY naming a
// display that is not there, say): one line with the first message, which
// tells why, and status 2, as without a display.
void holdBack(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    heldBack.push_back({type, context.category, text});
    if (type != QtFatalMsg) {
        return;
    }
    for (const Message& message : heldBack) {
        if (!aboutRuntimeFolder(message)) {
            std::fprintf(stderr, "sondrel-ping: no display to show the window on (%s).\n",
                         qPrintable(message.text.section(u'\n', 0, 0)));
            break;
        }
    }
    std::_Exit(2);
}

bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// --version and --help (-h) are answered at once, without a display. The
// toolkit takes its own options; main() refuses what is left.
std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::puts("sondrel-ping " PING_VERSION);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::puts(
                "Usage: sondrel-ping [--version | -h | --help] [Qt options]: opens a window "
                "that pings a host (see man sondrel-ping).");
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
    const QtMessageHandler passOn = qInstallMessageHandler(holdBack);
    QApplication app(argc, argv);
    qInstallMessageHandler(passOn);
    for (const Message& message : heldBack) {
        if (!aboutRuntimeFolder(message)) {
            passOn(message.type, {nullptr, 0, nullptr, message.category.constData()}, message.text);
        }
    }
    // The toolkit has taken its own options out of argv.
    if (argc > 1) {
        std::fprintf(stderr, "sondrel-ping: unknown argument '%s' (see sondrel-ping --help).\n",
                     argv[1]);
        return 2;
    }
    Program program;
    program.form.Form_Load();
    return QApplication::exec();
}
