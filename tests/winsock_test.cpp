#include "fakes.h"
#include "gui/qt_window_system.h"
#include "platform/socket_library_linux.h"

namespace {

// Texts shown, "|" between them; none: the library passes.
TEST(vbWSAStartup, shouldPassAGoodLibraryAndEndTheProgramForAnOldOrSmallOne) {
    const struct {
        uint16_t version;
        uint16_t maxSockets;
        int32_t startResult;
        const char* shown;
    } cases[] = {
        {0x0101, 100, 0, ""},
        {0x0002, 100, 0, ""},
        {0x0202, 0, 0, ""},
        {0x8101, 32767, 0, ""},
        {0x0001, 100, 0, "WinSock Version 1.0 is Not supported "},
        {0x0900, 100, 0, "WinSock Version 0.9 is Not supported "},
        {0x8000, 100, 0, "WinSock Version 0.128 is Not supported "},
        {0xFF00, 100, 0, "WinSock Version 0.255 is Not supported "},
        {0xFF01, 100, 0, "WinSock Version 1.0 is Not supported "},  // -255 / 256 rounds to 0
        {0x0202, 0x8000, 0, "This application requires a minimum of 0 supported sockets."},
        {0x0202, 0xFFFF, 0, "This application requires a minimum of 0 supported sockets."},
        {0x0202, 100, 10091,
         "WSock32.dll is Not responding!|WinSock Version 0.0 is Not supported "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << c.maxSockets);
        FakeForm f;
        RecordedBox status;
        f.form.txtStatus.bind(&status);
        status.seen.clear();
        f.winsock.reported = {c.version, c.version, c.maxSockets};
        f.winsock.startResult = c.startResult;
        int exitStatus = -1;
        try {
            f.form.vbWSAStartup();
        } catch (const ProgramEnded& ended) {
            exitStatus = ended.status;
        }
        EXPECT_EQ(
            std::tuple(status.seen.join(u'|'), exitStatus, f.form.NetErrorFlag, f.winsock.starts),
            std::tuple(QString::fromLatin1(c.shown), *c.shown ? 3 : -1, *c.shown ? 1 : 0,
                       c.startResult == 0 ? 1 : 0));
    }
}

// Shows nothing: a window shown would end the process with another status.
struct NeverShown final : WindowView {
    void showWindow() override { std::_Exit(4); }
    void closeWindow() override { std::_Exit(5); }
};

// The table above has every refusal end the program; here it ends for real.
TEST(FormLoad, shouldEndTheProgramBeforeTheWindowIsShownWhenTheLibraryIsRefused) {
    EXPECT_EXIT(
        {
            QtWindowSystem ui;
            ScriptedIcmp icmp;
            LinuxSocketLibrary winsock({0x0202, 100, 10091});
            FakeSettings settings;
            FrmPing form({ui, icmp, winsock, settings});
            NeverShown window;
            form.bind(&window);
            form.Form_Load();
            std::_Exit(0);
        },
        testing::ExitedWithCode(3), "");
}

// Without a display, with one that is not there, for --version and --help,
// and for an argument that is not the toolkit's: one line, and the end.
TEST(Program, shouldAnswerInOneLineWhereItOpensNoWindow) {
    const struct {
        const char* arguments;
        int status;
        const char* said;
        const char* display = nullptr;  // NAME=VALUE
    } cases[] = {
        {nullptr, 2, "no display"},
        {nullptr, 2, "(could not connect to display :79)", "DISPLAY=:79"},
        {"--version", 0, "sondrel-ping " PING_VERSION},
        {"--help", 0, "Usage: sondrel-ping [--version | -h | --help]"},
        {"-h", 0, "Usage: sondrel-ping [--version | -h | --help]"},
        {"-reverse --bogus", 2, "unknown argument '--bogus'", "QT_QPA_PLATFORM=offscreen"},
    };
    for (const auto& c : cases) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(QString::fromLatin1(name));
        }
        if (c.display != nullptr) {
            const QStringList set = QString::fromLatin1(c.display).split(u'=');
            env.insert(set[0], set[1]);
        }
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PING_PROGRAM),
                      c.arguments ? QString::fromLatin1(c.arguments).split(u' ') : QStringList{});
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitCode(), c.status);
        const QString said =
            QString::fromUtf8(program.readAllStandardError() + program.readAllStandardOutput());
        EXPECT_EQ(said.count(u'\n'), 1) << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromLatin1(c.said))) << said.toStdString();
    }
}

// The high byte of a negative word is that of the quotient by 256, which
// rounds toward zero: one more where the low byte is not 0.
TEST(HiByte, shouldTakeTheSignedQuotientBy256) {
    FakeForm f;
    for (const auto& [word, high] :
         {std::pair<uint16_t, int32_t>{0x8101, 130}, {0xFFFF, 0}, {0xFF00, 255}, {0x7FFF, 127}}) {
        EXPECT_EQ(f.form.HiByte(int16_t(word)), high) << std::hex << word;
    }
}

}  // namespace
