#include "fakes.h"
#include "ui/window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A form set to ping 127.0.0.1, whose echoes all answer at once.
struct Pinging : FakeForm {
    Pinging() {
        form.Host.setText(QStringLiteral("127.0.0.1"));
        icmp.answers.assign(64, ScriptedIcmp::reply(1));
    }
};

TEST(HostKeyDown, shouldClickTheButtonOnceForEnterWhateverTheModifiers) {
    for (const int16_t shift : {int16_t{0}, int16_t{1}, int16_t{2}, int16_t{7}}) {
        Pinging p;
        int16_t key = 13;
        p.form.Host_KeyDown(key, shift);
        EXPECT_EQ(p.icmp.sent.size(), 4u) << shift;
        EXPECT_EQ(key, 13);
        EXPECT_EQ(p.ui.yields, 4 * 2 + 1) << shift;  // the run's, then one more
    }
    Pinging p;
    int16_t other = 65;
    p.form.Host_KeyDown(other, 0);
    EXPECT_TRUE(p.icmp.sent.empty());
    EXPECT_EQ(p.ui.yields, 0);
}

TEST(HostKeyDown, shouldStopTheRunWhenEnterComesDuringIt) {
    Pinging p;
    p.ui.atYield[1] = [&] {
        int16_t key = 13;
        p.form.Host_KeyDown(key, 0);
    };
    p.form.cmdPing_Click();
    EXPECT_EQ(p.icmp.sent.size(), 1u);
    EXPECT_EQ(p.form.cmdPing.caption(), QStringLiteral("Ping"));
}

TEST(LostFocus, shouldRemoveEveryBlankAndWriteTheTextBack) {
    const struct {
        const char16_t* text;
        const char16_t* left;
    } cases[] = {{u"1 0", u"10"},          {u"   ", u""},    {u" a b ", u"ab"},
                 {u"\u3000x\u3000", u"x"}, {u"\tx", u"\tx"}, {u"", u""}};
    for (const auto& c : cases) {
        FakeForm f;
        for (auto [box, handler] :
             {std::pair{&f.form.Host, &FrmPing::Host_LostFocus},
              std::pair{&f.form.lblPingTimes, &FrmPing::lblPingTimes_LostFocus},
              std::pair{&f.form.lblPacketSize, &FrmPing::lblPacketSize_LostFocus}}) {
            box->setText(QString::fromUtf16(c.text));
            (f.form.*handler)();
            EXPECT_EQ(box->text(), QString::fromUtf16(c.left));
        }
    }
}

TEST(Closing, shouldBeRefusedInEveryWayWhileTheButtonReadsStop) {
    const struct {
        const char* caption;
        bool closes;
    } cases[] = {{"Stop", false}, {"stop", true}, {"Ping", true}, {"开始", true}};
    for (const auto& c : cases) {
        FakeForm f;
        f.form.cmdPing.setCaption(QString::fromUtf8(c.caption));
        int16_t cancel = 0;
        f.form.Form_QueryUnload(cancel, 3);
        EXPECT_EQ(cancel, c.closes ? 0 : -1) << c.caption;
        f.form.cmdClose_Click();
        EXPECT_EQ(f.form.closed(), c.closes) << c.caption;
        EXPECT_EQ(f.form.StopFlag, -1);
        EXPECT_EQ(f.ui.yields, 2);
    }
}

TEST(Run, shouldDiscardWhatAnEarlierRunLeftPending) {
    Pinging p;
    p.form.StopFlag = -1;
    p.form.NetErrorFlag = 1;
    p.form.cmdPing_Click();
    EXPECT_EQ(p.icmp.sent.size(), 4u);
    EXPECT_EQ(p.form.cmdPing.caption(), QStringLiteral("Ping"));
}

TEST(Run, shouldStartAClickAfterAStopRequestOnlyOnceTheStoppedRunReturned) {
    Pinging p;
    // A run nested in another would hold a second echo handle open.
    int mostOpen = 0;
    p.icmp.whileBlocked = [&] {
        mostOpen = std::max(mostOpen, p.icmp.opened - static_cast<int>(p.icmp.closed.size()));
    };
    p.ui.atYield[1] = [&] {
        p.form.cmdPing_Click();  // the stop request
        p.form.cmdPing_Click();  // a start: waits for the first run
        EXPECT_EQ(p.form.cmdPing.caption(), QStringLiteral("Ping"));
    };
    p.form.cmdPing_Click();
    EXPECT_EQ(mostOpen, 1);
    EXPECT_EQ(p.icmp.sent.size(), 1u + 4u);
    EXPECT_EQ(p.icmp.closed.size(), 2u);
    EXPECT_EQ(p.winsock.starts, 0);
    EXPECT_TRUE(p.form.txtStatus.text().endsWith(QStringLiteral("ms.")));
    EXPECT_EQ(p.form.cmdPing.caption(), QStringLiteral("Ping"));
}

TEST(Run, shouldTouchNoControlOnceTheWindowClosedAfterAStopRequest) {
    for (int yield : {1, 2}) {  // before the send, before the reply line
        auto p = std::make_unique<Pinging>();
        QString textAtClose;
        p->ui.atYield[yield] = [&] {
            p->form.cmdPing_Click();
            p->form.cmdClose_Click();
            textAtClose = p->form.txtStatus.text();
        };
        p->form.cmdPing_Click();
        EXPECT_TRUE(p->form.closed());
        EXPECT_EQ(p->form.txtStatus.text(), textAtClose) << yield;
        EXPECT_EQ(p->form.cmdPing.caption(), QStringLiteral("Ping"));
        EXPECT_EQ(p->icmp.sent.size(), yield == 1 ? 0u : 1u);
        EXPECT_EQ(p->icmp.closed.size(), 1u);
        EXPECT_EQ(p->winsock.starts, 0);
    }
}

// Through the widgets: what a user's keys and clicks reach.
struct Window : Pinging {
    FormWindow window{form};
    Window() {
        window.show();
        QApplication::setActiveWindow(&window);
        QCoreApplication::processEvents();
    }
    QWidget* control(const char* name) { return window.control(name); }
};

TEST(WindowInput, shouldStartOneRunPerEnterInTheHostBoxOnly) {
    Window w;
    QTest::keyClick(w.control("Host"), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(w.icmp.sent.size(), 4u);
    QTest::keyClick(w.control("lblPingTimes"), Qt::Key_Return);
    EXPECT_EQ(w.icmp.sent.size(), 4u);
}

TEST(WindowInput, shouldRemoveTheBlanksOfTheBoxThatTheFocusLeaves) {
    Window w;
    auto* times = static_cast<QLineEdit*>(w.control("lblPingTimes"));
    times->setFocus();
    QTest::keyClicks(times, QStringLiteral(" 2 "));
    EXPECT_EQ(w.form.lblPingTimes.text(), QStringLiteral("4 2 "));
    QTest::mouseClick(w.control("cmdPing"), Qt::LeftButton);
    EXPECT_EQ(w.form.lblPingTimes.text(), QStringLiteral("42"));
    EXPECT_EQ(times->text(), QStringLiteral("42"));
}

TEST(WindowInput, shouldNotCloseWhileARunIsUnderWay) {
    Window w;
    bool closedDuringRun = true;
    w.ui.atYield[1] = [&] { closedDuringRun = w.window.close(); };
    w.form.cmdPing_Click();
    EXPECT_FALSE(closedDuringRun);
    EXPECT_TRUE(w.window.close());
    EXPECT_TRUE(w.form.closed());
}

}  // namespace
