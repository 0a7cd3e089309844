#include "fakes.h"
#include "platform/qt_window_system.h"
#include "platform/socket_library_linux.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(HiByteLoByte, shouldSplitTheVersionWordTakenAsSigned) {
    const struct {
        uint16_t word;
        int32_t hi;
        int32_t lo;
    } cases[] = {{0x0101, 1, 1},   {0x0202, 2, 2},   {0x0002, 0, 2},   {0x7FFF, 127, 255},
                 {0x8101, 130, 1}, {0xFFFF, 0, 255}, {0xFF00, 255, 0}, {0x8000, 128, 0}};
    FakeForm f;
    for (const auto& c : cases) {
        const auto value = static_cast<int16_t>(c.word);
        EXPECT_EQ(f.form.HiByte(value), c.hi) << std::hex << c.word;
        EXPECT_EQ(f.form.LoByte(value), c.lo) << std::hex << c.word;
    }
}

// Records every text the results box is set to.
struct ShownTexts final : TextBoxView {
    void showText(const QString& text) override { texts.push_back(text); }
    void showAppended(QStringView) override {}
    void showSelection(const QString&, qsizetype, qsizetype) override {}
    void takeFocus() override {}
    std::vector<QString> texts;
};

TEST(vbWSAStartup, shouldPassAGoodLibraryAndEndTheProgramForAnOldOrSmallOne) {
    const struct {
        uint16_t version;
        uint16_t maxSockets;
        int32_t startResult;
        std::vector<QString> shown;  // empty: passes
    } cases[] = {
        {0x0101, 100, 0, {}},
        {0x0202, 100, 0, {}},
        {0x0002, 100, 0, {}},
        {0x0202, 0, 0, {}},
        {0x0202, 32767, 0, {}},
        {0x0001, 100, 0, {QStringLiteral("WinSock Version 1.0 is Not supported ")}},
        {0x0900, 100, 0, {QStringLiteral("WinSock Version 0.9 is Not supported ")}},
        {0x0202,
         0x8000,
         0,
         {QStringLiteral("This application requires a minimum of 0 supported sockets.")}},
        {0x0202,
         0xFFFF,
         0,
         {QStringLiteral("This application requires a minimum of 0 supported sockets.")}},
        {0x0202,
         100,
         10091,
         {QStringLiteral("WSock32.dll is Not responding!"),
          QStringLiteral("WinSock Version 0.0 is Not supported ")}},
    };
    for (const auto& c : cases) {
        FakeForm f;
        ShownTexts status;
        f.form.txtStatus.bind(&status);
        status.texts.clear();
        f.winsock.reported = {c.version, c.version, c.maxSockets};
        f.winsock.startResult = c.startResult;
        int exitStatus = -1;
        try {
            f.form.vbWSAStartup();
        } catch (const ProgramEnded& ended) {
            exitStatus = ended.status;
        }
        EXPECT_EQ(status.texts, c.shown) << std::hex << c.version << " " << c.maxSockets;
        EXPECT_EQ(exitStatus, c.shown.empty() ? -1 : 3);
        EXPECT_EQ(f.form.NetErrorFlag, c.shown.empty() ? 0 : 1);
        EXPECT_EQ(f.winsock.starts, c.startResult == 0 ? 1 : 0);
    }
}

// Shows nothing: a window shown would end the process with another status.
struct NeverShown final : WindowView {
    void showWindow() override { std::_Exit(4); }
    void closeWindow() override { std::_Exit(5); }
};

TEST(FormLoad, shouldEndTheProgramBeforeTheWindowIsShownWhenTheLibraryIsRefused) {
    const struct {
        const char* name;
        LinuxSocketLibrary::Traits traits;
    } cases[] = {
        {"too old", {0x0001, 100, std::nullopt}},
        {"too few sockets", {0x0202, 0x8000, std::nullopt}},
        {"not responding", {0x0202, 100, 10091}},
    };
    for (const auto& c : cases) {
        EXPECT_EXIT(
            {
                QtWindowSystem ui;
                ScriptedIcmp icmp;
                LinuxSocketLibrary winsock(c.traits);
                FrmPing form({ui, icmp, winsock, QString()});
                NeverShown window;
                form.bind(&window);
                form.Form_Load();
                std::_Exit(0);
            },
            testing::ExitedWithCode(3), "")
            << c.name;
    }
}

}  // namespace
