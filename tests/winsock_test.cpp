#include "fakes.h"

namespace {

struct CountedWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

// The load's check of the socket library: the texts shown, "|" between them;
// none: the library passes and the window is shown. A refusal ends the
// program before the window is shown.
TEST(FormLoad, shouldShowTheWindowForAGoodLibraryAndEndTheProgramForAnOldOrSmallOne) {
    const struct {
        uint16_t version;
        uint16_t maxSockets;
        int32_t startResult;
        const char16_t* shown;
    } cases[] = {
        {0x0101, 100, 0, u""},
        {0x0002, 100, 0, u""},
        {0x0202, 0, 0, u""},
        {0x8101, 32767, 0, u""},
        {0x0001, 100, 0, u"WinSock Version 1.0 is Not supported "},
        {0x0900, 100, 0, u"WinSock Version 0.9 is Not supported "},
        {0x8000, 100, 0, u"WinSock Version 0.128 is Not supported "},
        {0xFF00, 100, 0, u"WinSock Version 0.255 is Not supported "},
        {0xFF01, 100, 0, u"WinSock Version 1.0 is Not supported "},  // -255 / 256 rounds to 0
        {0x0202, 0x8000, 0, u"This application requires a minimum of 0 supported sockets."},
        {0x0202, 0xFFFF, 0, u"This application requires a minimum of 0 supported sockets."},
        {0x0202, 100, 10091,
         u"WSock32.dll is Not responding!|WinSock Version 0.0 is Not supported "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << c.maxSockets);
        FakeForm f;
        RecordedBox status;
        CountedWindow window;
        f.form.bind(&window);
        f.form.txtStatus.bind(&status);
        status.seen.clear();
        f.winsock.reported = {c.version, c.version, c.maxSockets};
        f.winsock.startResult = c.startResult;
        int exitStatus = -1;
        try {
            f.form.Form_Load();
        } catch (const ProgramEnded& ended) {
            exitStatus = ended.status;
        }
        std::u16string shown;
        for (const std::u16string& text : status.seen) {
            shown += (shown.empty() ? u"" : u"|") + text;
        }
        const bool refused = *c.shown != u'\0';
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(exitStatus, refused ? FrmPing::kExitSocketLibraryRefused : -1);
        EXPECT_EQ(window.shows, refused ? 0 : 1);
        EXPECT_EQ(f.form.NetErrorFlag, refused ? 1 : 0);
        // The start the load keeps, and the check's unless it ended the program.
        EXPECT_EQ(f.winsock.starts, c.startResult != 0 ? 0 : refused ? 2 : 1);
    }
}

}  // namespace
