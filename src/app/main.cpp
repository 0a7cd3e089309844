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

// --version and --help (-h) are answered at once, without a display, and
// only alone. The toolkit takes its own options; main() refuses what is left.
std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument != "--version" && argument != "--help" && argument != "-h") {
            continue;
        }
        if (argc > 2) {
            std::fprintf(stderr, "sondrel-ping: %s takes no other argument.\n", argv[i]);
            return 2;
        }
        std::puts(argument == "--version"
                      ? "sondrel-ping " PING_VERSION
                      : "Usage: sondrel-ping [--version | -h | --help] [Qt options]: opens a "
                        "window that pings a host (see man sondrel-ping).");
        return 0;
    }
    return std::nullopt;
}

// The toolkit's options that it leaves in argv when their value is missing.
bool needsValue(std::string_view option) {
    if (option.starts_with("--")) {
        option.remove_prefix(1);
    }
    return option == "-style" || option == "-stylesheet" || option == "-display" ||
           option == "-name";
}

// A screen reader may ask the results box about an offset past its text; the
// toolkit answers with nothing, and says so on stderr each time.
QtMessageHandler passOn = nullptr;
void dropOffsetsOutOfRange(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.startsWith(u"QTextCursor::setPosition: Position '") ||
        !text.endsWith(u"' out of range")) {
        passOn(type, context, text);
    }
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
    // Without a display the toolkit still takes its options, on its minimal
    // platform, so that a bad one is named as such.
    const bool display = haveDisplay();
    if (!display) {
        qputenv("QT_QPA_PLATFORM", "minimal");
    }
    passOn = qInstallMessageHandler(holdBack);
    QApplication app(argc, argv);
    // The toolkit has taken its own options out of argv.
    if (argc > 1) {
        std::fprintf(stderr,
                     needsValue(argv[1]) && argc == 2
                         ? "sondrel-ping: option '%s' needs a value.\n"
                         : "sondrel-ping: unknown argument '%s' (see sondrel-ping --help).\n",
                     argv[1]);
        return 2;
    }
    // Unless an option named a platform that needs none.
    if (!display && QGuiApplication::platformName() == u"minimal") {
        std::fputs(
            "sondrel-ping: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it "
            "from a desktop session, over 'ssh -X', or under a virtual one with 'xvfb-run'.\n",
            stderr);
        return 2;
    }
    qInstallMessageHandler(dropOffsetsOutOfRange);
    for (const Message& message : heldBack) {
        if (!aboutRuntimeFolder(message)) {
            passOn(message.type, {nullptr, 0, nullptr, message.category.constData()}, message.text);
        }
    }
    Program program;
    program.form.Form_Load();
    return QApplication::exec();
}
