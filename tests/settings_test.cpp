#include "fakes.h"
#include "platform/locale_codec.h"

#include <clocale>

namespace {

using namespace std::string_literals;
using Texts = std::array<std::u16string, 3>;

Texts boxes(const FrmPing& form) {
    return {form.Host.text(), form.lblPingTimes.text(), form.lblPacketSize.text()};
}

struct ShownWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

// Shown once, with the socket library's start kept for the program's life;
// the host box focused with its default selected, then filled from the file.
// A box keeps what precedes a NUL; bytes invalid in UTF-8 become U+FFFD.
TEST(FormLoad, shouldShowTheWindowWithTheHostBoxSelectedThenFillTheBoxesFromTheFile) {
    FakeForm f;
    ShownWindow window;
    RecordedBox host;
    f.form.bind(&window);
    f.form.Host.bind(&host);
    f.settings.files[f.settings.path] = "[settings]\r\nhostname=a\0b\r\nbytes=\xFF\xC3(\r\n"s;
    f.form.Form_Load();
    EXPECT_EQ(boxes(f.form), (Texts{u"a", u"", u"\uFFFD\uFFFD("}));
    EXPECT_EQ(f.form.SettingsPath, f.settings.path);
    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(f.winsock.starts, 1);
    EXPECT_EQ(host.seen,
              (std::vector<std::u16string>{u"www.example.com", u"focus", u"0+15", u"a"}));
}

// Four lines, which the load reads back the same; where the save fails, a
// box says where and why, and nothing is confirmed.
TEST(ComdSave, shouldWriteFourLinesThatReadBackTheSameOrSayWhyNot) {
    // The boxes, the locale, the file writer's failure, the reason said (none: confirmed).
    const std::tuple<Texts, const char*, const char16_t*, const char16_t*> cases[] = {
        {{u"a=b", u" ;4 ", u"\"32\""}, "C.UTF-8", u"", nullptr},
        {{u"例子.测试", u"[settings]", u""}, "C.UTF-8", u"", nullptr},
        {{u"h", u"", u""}, "C.UTF-8", u"Disk full", u"Disk full"},
        {{u"例子", u"", u""}, "C", u"", u"有的字符无法用本机的字符编码保存"},  // last: may skip
    };
    for (const auto& [texts, locale, failure, said] : cases) {
        std::setlocale(LC_ALL, locale);
        if (said != nullptr && *failure == u'\0' && encodeLocale(texts[0])) {
            std::setlocale(LC_ALL, "C.UTF-8");
            GTEST_SKIP() << "the encoding holds " << utf8(texts[0]) << " whatever setlocale says "
                         << "(Windows' ANSI code page): a text it cannot hold is not tried";
        }
        FakeForm f;
        f.settings.failure = failure;
        f.settings.files[f.settings.path] = "earlier";
        f.form.Host.setText(texts[0]);
        f.form.lblPingTimes.setText(texts[1]);
        f.form.lblPacketSize.setText(texts[2]);
        f.form.ComdSave_Click();
        std::setlocale(LC_ALL, "C.UTF-8");
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        const std::u16string prompt =
            said ? u"参数没有保存。\n文件：" + f.settings.path + u"\n原因：" + said
                 : u"已经保存参数";
        EXPECT_EQ(f.ui.boxes[0].title, u"提示");
        EXPECT_EQ(f.ui.boxes[0].prompt, prompt);
        EXPECT_EQ(f.ui.boxes[0].style, said ? MsgBox::OkOnly | MsgBox::Critical : MsgBox::OkOnly);
        const std::string written = utf8(u"[settings]\r\nhostname=" + texts[0] + u"\r\ntimes=" +
                                         texts[1] + u"\r\nbytes=" + texts[2] + u"\r\n");
        EXPECT_EQ(f.settings.files[f.settings.path], said ? "earlier" : written);
        FrmPing loaded({f.ui, f.icmp, f.winsock, f.settings});
        loaded.Form_Load();
        EXPECT_EQ(boxes(loaded), said ? Texts{} : texts);
    }
}

TEST(ComdSave, shouldWriteTheCurrentTextsDuringARunWhichThenGoesOn) {
    PingRun r;
    r.ui.atYield[1] = [&] { r.form.ComdSave_Click(); };
    r.start(u"4");
    EXPECT_EQ(r.settings.files[r.settings.path],
              "[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n");
    EXPECT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.icmp.sent.size(), 4u);
}

}  // namespace
