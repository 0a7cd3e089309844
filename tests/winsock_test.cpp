#include "fakes.h"

namespace {

// Texts shown, "|" between them; none: the library passes.
TEST(vbWSAStartup, shouldPassAGoodLibraryAndEndTheProgramForAnOldOrSmallOne) {
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
        std::u16string shown;
        for (const std::u16string& text : status.seen) {
            shown += (shown.empty() ? u"" : u"|") + text;
        }
        const bool refused = *c.shown != u'\0';
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(exitStatus, refused ? 3 : -1);
        EXPECT_EQ(f.form.NetErrorFlag, refused ? 1 : 0);
        EXPECT_EQ(f.winsock.starts, c.startResult == 0 ? 1 : 0);
    }
}

struct CountedWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

// The program ends before the window is shown when the library is refused.
TEST(FormLoad, shouldEndTheProgramBeforeTheWindowIsShownWhenTheLibraryIsRefused) {
    FakeForm f;
    CountedWindow window;
    f.form.bind(&window);
    f.winsock.startResult = 10091;
    int exitStatus = -1;
    try {
        f.form.Form_Load();
    } catch (const ProgramEnded& ended) {
        exitStatus = ended.status;
    }
    EXPECT_EQ(exitStatus, FrmPing::kExitSocketLibraryRefused);
    EXPECT_EQ(window.shows, 0);
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
