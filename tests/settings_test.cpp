// The load (its check of the socket library, the settings file) and the
// save, through the system's store in a folder of the test's own.

#include "fakes.h"
#include "platform/locale_codec.h"

#include <clocale>

namespace {

using namespace std::string_literals;
using Texts = std::array<std::u16string, 3>;

Texts boxes(const FrmPing& form) {
    return {form.Host.text(), form.lblPingTimes.text(), form.lblPacketSize.text()};
}

// The load checks the socket library: the texts shown; none: the library
// passes, its start is kept for the program's life, the window shown once
// with the host box focused and its default selected, then the boxes filled
// from the file (bytes invalid in the encoding become U+FFFD; a missing key
// empties a box). A refusal ends the program before the window is shown.
TEST(FormLoad, shouldShowTheWindowForAGoodLibraryAndEndTheProgramForAnOldOrSmallOne) {
    // The version and most sockets the library reports; its start's result;
    // the texts shown.
    const std::tuple<uint16_t, uint16_t, int32_t, std::vector<std::u16string>> cases[] = {
        {0x0101, 100, 0, {}},
        {0x0002, 100, 0, {}},
        {0x0202, 0, 0, {}},
        {0x8101, 32767, 0, {}},
        {0x0001, 100, 0, {u"WinSock Version 1.0 is Not supported "}},
        {0x0900, 100, 0, {u"WinSock Version 0.9 is Not supported "}},
        {0x8000, 100, 0, {u"WinSock Version 0.128 is Not supported "}},
        {0xFF00, 100, 0, {u"WinSock Version 0.255 is Not supported "}},
        {0xFF01, 100, 0, {u"WinSock Version 1.0 is Not supported "}},  // -255 / 256 rounds to 0
        {0x0202, 0x8000, 0, {u"This application requires a minimum of 0 supported sockets."}},
        {0x0202, 0xFFFF, 0, {u"This application requires a minimum of 0 supported sockets."}},
        {0x0202, 100, 10091,
         {u"WSock32.dll is Not responding!", u"WinSock Version 0.0 is Not supported "}},
    };
    for (const auto& [version, maxSockets, startResult, texts] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << version << " " << maxSockets);
        FakeForm f;
        RecordedBox host, status;
        ShownWindow window;
        f.form.bind(&window);
        f.form.Host.bind(&host);
        f.form.txtStatus.bind(&status);
        status.seen.clear();
        writeFile(f.folder.path / "Settings.inf",
                  "[settings]\r\nhostname=a\r\nbytes=\xFF\xC3(\r\n");
        f.winsock.reported = {version, version, maxSockets};
        f.winsock.startResult = startResult;
        int exitStatus = -1;
        try {
            f.form.Form_Load();
        } catch (const ProgramEnded& ended) {
            exitStatus = ended.status;
        }
        const bool refused = !texts.empty();
        EXPECT_EQ(std::tuple(status.seen, exitStatus, window.shows, f.form.NetErrorFlag),
                  std::tuple(texts, refused ? FrmPing::kExitSocketLibraryRefused : -1,
                             refused ? 0 : 1, refused ? 1 : 0));
        // The start the load keeps, and the check's unless it ended the program.
        EXPECT_EQ(f.winsock.starts, startResult != 0 ? 0 : refused ? 2 : 1);
        const std::vector<std::u16string> loaded = {u"www.example.com", u"focus", u"0+15", u"a"};
        EXPECT_EQ(host.seen, std::vector(loaded.begin(), loaded.begin() + (refused ? 1 : 4)));
        EXPECT_EQ(f.form.Host.selLength(), 0);  // of the text shown
        EXPECT_EQ(boxes(f.form), (refused ? Texts{u"www.example.com", u"4", u"32"}
                                          : Texts{u"a", u"", u"\uFFFD\uFFFD("}));
    }
}

// What a save confirms the load reads back the same, also a save during a
// run, which then goes on; where it fails (the program's folder a file, a
// text the locale cannot hold), a box says where and why, and nothing is
// confirmed.
TEST(ComdSave, shouldSaveWhatTheLoadReadsBackOrSayWhyNot) {
    const struct {
        Texts texts;
        const char* locale = "C.UTF-8";
        const char16_t* said = nullptr;  // the failure's reason; "": the system's own
        bool duringRun = false;
    } rows[] = {
        {{u"a=b", u";4", u"3\"2"}},
        {{u"例子.测试", u"[settings]", u""}},
        {{u"127.0.0.1", u"2", u"8"}, "C.UTF-8", nullptr, true},
        {{u"h", u"", u""}, "C.UTF-8", u""},
        {{u"例子", u"", u""}, "C", u"有的字符无法用本机的字符编码保存"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(utf8(row.texts[0]));
        std::setlocale(LC_ALL, row.locale);
        const bool fails = row.said != nullptr;
        if (row.locale == "C"s && decodeLocale("\xC3\xA9") == u"é") {
            std::setlocale(LC_ALL, "C.UTF-8");
            GTEST_SKIP() << "the encoding is UTF-8 whatever setlocale says (Windows' ANSI code "
                            "page): a text it cannot hold is not tried";
        }
        TempFolder outer;
        const auto program = outer.path / "program";
        if (fails && *row.said == u'\0') {
            writeFile(program, "a file");
        }
        FakeForm f(program);
        f.form.Host.setText(row.texts[0]);
        f.form.lblPingTimes.setText(row.texts[1]);
        f.form.lblPacketSize.setText(row.texts[2]);
        row.duringRun
            ? (
                  f.ui.atYield[1] = [&] { f.form.ComdSave_Click(); }, f.form.cmdPing_Click())
            : f.form.ComdSave_Click();
        std::setlocale(LC_ALL, "C.UTF-8");
        EXPECT_EQ(f.icmp.sent.size(), row.duringRun ? 2u : 0u);
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        const ScriptedWindowSystem::Box& box = f.ui.boxes[0];
        EXPECT_EQ(box.title, u"提示");
        EXPECT_EQ(box.style, fails ? MsgBox::OkOnly | MsgBox::Critical : MsgBox::OkOnly);
        const std::u16string failed =
            u"参数没有保存。\n文件：" + f.settings->writePath() + u"\n原因：";
        if (fails && *row.said == u'\0') {
            EXPECT_TRUE(box.prompt.starts_with(failed) && box.prompt.size() > failed.size())
                << utf8(box.prompt);
        } else {
            EXPECT_EQ(box.prompt, fails ? failed + row.said : u"已经保存参数");
        }
        FrmPing loaded({f.ui, f.icmp, f.winsock, *f.settings});
        loaded.Form_Load();
        EXPECT_EQ(boxes(loaded), fails ? Texts{} : row.texts);
    }
}

}  // namespace
