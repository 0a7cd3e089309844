#include "fakes.h"
#include "gui/qt_window_system.h"
#include "report/procedure.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using Answer = ScriptedIcmp::Answer;

// The fake's replies arrive with TTL 64.
QString replyLine(int rtt, const char* from = "127.0.0.1", int bytes = 32) {
    return QStringLiteral(" Reply from %1: Bytes = %2 RTT = %3ms TTL = 64\r\n")
        .arg(QString::fromLatin1(from))
        .arg(bytes)
        .arg(rtt);
}

QString summary(int average) {
    return QStringLiteral(u"\r\n 平均速度: %1ms.").arg(average);
}

const QString kTimeout = QStringLiteral(" Request Timeout\r\n");

void expectIdle(const FakeForm& f) {
    EXPECT_EQ(f.form.cmdPing.caption(), QStringLiteral("Ping"));
    EXPECT_TRUE(f.form.cmdClose.enabled());
    EXPECT_EQ(f.winsock.starts, 0);
}

TEST(Run, shouldOnlyAskForAHostWhenTheHostIsEmpty) {
    FakeForm f;
    f.form.txtStatus.setText(QStringLiteral("earlier"));
    f.form.Host.setText(QString());
    f.form.cmdPing_Click();
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].prompt, QStringLiteral(u"请输入ip地址或域名。"));
    EXPECT_EQ(f.ui.boxes[0].style, MsgBox::OkOnly | MsgBox::Information);
    EXPECT_EQ(f.ui.boxes[0].title, QStringLiteral("Sondrel Ping"));
    EXPECT_EQ(f.form.cmdPing.caption(), QStringLiteral(u"开始"));
    EXPECT_EQ(f.text(), QStringLiteral("earlier"));
    EXPECT_TRUE(f.icmp.sent.empty());
}

TEST(Run, shouldWriteOneLinePerEchoAndTheRoundedAverage) {
    const struct {
        const char* name;
        std::deque<Answer> answers;
        QString text;
    } cases[] = {
        {"every echo timed out", {{0}, {0}, {0}, {0}}, kTimeout.repeated(4) + summary(0)},
        {"10 and 11 give 10",
         {Answer{1, 0, 10}, Answer{1, 0, 11}, {0}, {0}},
         replyLine(10) + replyLine(11) + kTimeout.repeated(2) + summary(10)},
        {"11 and 12 give 12",
         {Answer{1, 0, 11}, Answer{1, 0, 12}, {0}, {0}},
         replyLine(11) + replyLine(12) + kTimeout.repeated(2) + summary(12)},
        {"a failure status is appended without a line break and the next reply passed over",
         {Answer{1, 11003, 0, {10, 0, 0, 1}}, Answer{1, 0, 5}, Answer{1, 0, 7}, Answer{1, 0, 9}},
         QStringLiteral("Destination Host Not Reachable") + replyLine(7) + replyLine(9) +
             summary(5)},
        {"a status without text is passed over, so across time-outs",
         {Answer{1, 11013}, {0}, Answer{1, 0, 8}, {0}},
         kTimeout.repeated(2) + summary(0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PingRun r;
        r.start(QStringLiteral("4"), c.answers);
        EXPECT_EQ(r.text(), c.text);
        EXPECT_EQ(r.form.txtStatus.selStart(), r.text().size());
        expectIdle(r);
        EXPECT_EQ(r.icmp.closed, std::vector<IcmpHelper::Handle>{7});
    }
}

TEST(Run, shouldSendEachEchoAsDesigned) {
    PingRun r;
    r.winsock.names["a.example"] = {192, 168, 0, 1};
    r.form.Host.setText(QStringLiteral("a.example"));
    r.start(QStringLiteral("2"));
    ASSERT_EQ(r.icmp.sent.size(), 2u);
    for (const auto& sent : r.icmp.sent) {
        EXPECT_EQ(std::tuple(sent.handle, sent.destination, sent.size, sent.ttl, sent.timeoutMs),
                  std::tuple(7u, 0x0100A8C0u, uint16_t{32}, uint8_t{255}, 2700u));
        EXPECT_GE(sent.replySize, 28u + 32767u);
    }
    // The check of the host text, then the run's own lookup.
    EXPECT_EQ(r.winsock.lookups, (std::vector<std::string>{"a.example", "a.example"}));
}

TEST(Run, shouldEndWithoutSummaryAtTheTurnAfterAStopRequest) {
    PingRun r;
    // The second echo's first yield serves a click on the button.
    r.ui.atYield[3] = [&] {
        r.form.cmdPing_Click();
        EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
        EXPECT_TRUE(r.form.cmdClose.enabled());
    };
    r.start(QStringLiteral("4"), {Answer{1, 0, 1}, Answer{1, 0, 2}, Answer{1, 0, 3}});
    EXPECT_EQ(r.icmp.sent.size(), 2u);
    EXPECT_EQ(r.text(), replyLine(1) + replyLine(2));
    expectIdle(r);
    EXPECT_EQ(r.icmp.closed.size(), 1u);
}

TEST(Run, shouldKeepTheCountersWhenTheHostDoesNotResolve) {
    PingRun r;
    r.start(QStringLiteral("2"), {Answer{1, 0, 10}, Answer{1, 0, 20}});
    r.form.Host.setText(QStringLiteral("nowhere.invalid"));
    r.start(QStringLiteral("2"));
    EXPECT_EQ(r.text(), QStringLiteral("Unable To Resolve Host"));
    EXPECT_EQ(r.form.ReplyCount, 2);
    EXPECT_EQ(r.form.TotalRtt, 15);
    expectIdle(r);
    EXPECT_EQ(r.icmp.opened, 1);
}

TEST(Run, shouldSayOnceThatIcmpIsNotPermittedAndEndWithTheSummary) {
    PingRun r;
    r.icmp.createFails = true;
    r.start(QStringLiteral("4"));
    EXPECT_TRUE(r.icmp.sent.empty());
    EXPECT_TRUE(r.text().startsWith(QStringLiteral("ICMP is not permitted")));
    EXPECT_EQ(r.text().count(QStringLiteral("\r\n")), 2);  // its own line, then the summary's
    EXPECT_TRUE(r.text().endsWith(summary(0)));
}

// Nothing that an earlier run left pending is this run's.
TEST(Run, shouldDiscardWhatAnEarlierRunLeftPending) {
    PingRun r;
    r.form.StopFlag = -1;
    r.form.NetErrorFlag = 1;
    r.start(QStringLiteral("4"));
    EXPECT_EQ(r.icmp.sent.size(), 4u);
    expectIdle(r);
}

TEST(Run, shouldStartAClickAfterAStopRequestOnlyOnceTheStoppedRunReturned) {
    PingRun r;
    // A run nested in another would hold a second echo handle open.
    int mostOpen = 0;
    r.icmp.whileBlocked = [&] {
        mostOpen = std::max(mostOpen, r.icmp.opened - static_cast<int>(r.icmp.closed.size()));
    };
    r.ui.atYield[1] = [&] {
        r.form.cmdPing_Click();  // the stop request
        r.form.cmdPing_Click();  // a start: waits for the first run
    };
    r.start(QStringLiteral("4"));
    EXPECT_EQ(mostOpen, 1);
    EXPECT_EQ(r.icmp.sent.size(), 1u + 4u);
    EXPECT_EQ(r.icmp.closed.size(), 2u);
    EXPECT_TRUE(r.text().endsWith(summary(0)));
    expectIdle(r);
}

TEST(Run, shouldTouchNoControlOnceTheWindowClosedAfterAStopRequest) {
    for (int yield : {1, 2}) {  // before the send, before the reply line
        SCOPED_TRACE(yield);
        PingRun r;
        QString textAtClose;
        r.ui.atYield[yield] = [&] {
            r.form.cmdPing_Click();
            r.form.cmdClose_Click();
            textAtClose = r.text();
        };
        r.start(QStringLiteral("4"), {Answer{1, 0, 1}});
        EXPECT_TRUE(r.form.closed());
        EXPECT_EQ(r.text(), textAtClose);
        EXPECT_EQ(r.icmp.sent.size(), yield == 1 ? 0u : 1u);
        EXPECT_EQ(r.icmp.closed.size(), 1u);
        expectIdle(r);
    }
}

// Enter clicks the button whatever the modifiers, then yields once more;
// during a run that click is the stop request.
TEST(HostKeyDown, shouldClickTheButtonForEnterOnly) {
    PingRun r;
    int16_t key = 65;
    r.form.Host_KeyDown(key, 0);
    EXPECT_EQ(r.ui.yields, 0);
    key = 13;
    r.ui.atYield[2] = [&] { r.form.Host_KeyDown(key, 7); };
    r.form.Host_KeyDown(key, 2);
    EXPECT_EQ(key, 13);
    EXPECT_EQ(r.icmp.sent.size(), 2u);
    EXPECT_EQ(r.ui.yields, 4);
    expectIdle(r);
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

TEST(GetRCode, shouldWriteTheTextOfEveryStatusOfTheTable) {
    const struct {
        int32_t status;
        const char* text;
    } cases[] = {{11001, "Buffer too Small"},
                 {11002, "Destination Unreahable"},
                 {11003, "Destination Host Not Reachable"},
                 {11004, "Destination Protocol Not Reachable"},
                 {11005, "Destination Port Not Reachable"},
                 {11006, "No Resources Available"},
                 {11007, "Bad Option"},
                 {11008, "Hardware Error"},
                 {11009, "Packet too Big"},
                 {11010, "Requested Timed Out"},
                 {11011, "Bad Request"},
                 {11012, "Bad Route"},
                 {11013, ""},
                 {11014, "TTL Exprd Reassemb"},
                 {11015, "Parameter Problem"},
                 {11016, "Source Quench"},
                 {11017, "Option too Big"},
                 {11018, "Bad Destination"},
                 {11019, "Address Deleted"},
                 {11020, "Spec MTU Change"},
                 {11021, "MTU Change"},
                 {11022, "Unload"},
                 {11023, ""},
                 {11049, ""},
                 {11050, "General Failure"},
                 {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        FakeForm f;
        f.form.txtStatus.setText(QStringLiteral("x"));
        f.form.EchoReply.Status = c.status;
        f.form.EchoReply.RoundTripTime = 15;
        f.form.GetRCode();
        EXPECT_EQ(f.text(), QStringLiteral("x") + QString::fromLatin1(c.text));
        EXPECT_EQ(f.form.StatusShown, 1);
        EXPECT_EQ(f.form.TotalRtt, 0);
        EXPECT_EQ(f.form.txtStatus.selStart(), f.text().size());
    }
}

// Abort leaves GetRCode without its line and, during a run, takes the run's
// stop request; Retry asks again; Ignore goes on without the sum.
TEST(GetRCode, shouldOfferAbortRetryAndIgnoreWhenTheTotalOverflows) {
    const struct {
        std::deque<int> answers;
        QString text;
    } cases[] = {
        {{MsgBox::Abort}, QString()},
        {{MsgBox::Retry, MsgBox::Retry, MsgBox::Abort}, QString()},
        {{MsgBox::Ignore}, replyLine(1) + replyLine(2) + summary(1)},
        {{MsgBox::Ok}, replyLine(2) + summary(1)},  // leaves, the pointer kept, the run goes on
    };
    for (const auto& c : cases) {
        PingRun r;
        r.ui.answers = c.answers;
        r.ui.atYield[1] = [&] { r.form.TotalRtt = 2147483647; };
        r.ui.atYield[3] = [&] {
            EXPECT_EQ(r.form.TotalRtt, 2147483647);
            r.form.TotalRtt = 0;
        };
        r.start(QStringLiteral("2"), {Answer{1, 0, 1}, Answer{1, 0, 2}});
        EXPECT_EQ(r.text(), c.text);
        ASSERT_EQ(r.ui.boxes.size(), c.answers.size());
        EXPECT_EQ(r.ui.boxes[0].prompt,
                  QStringLiteral("Error 6: Overflow: the number does not fit its variable\r\n"
                                 "in GetRCode\r\nThe error occured at line: 0"));
        EXPECT_EQ(r.ui.boxes[0].style, MsgBox::AbortRetryIgnore | MsgBox::Critical);
        EXPECT_EQ(r.ui.boxes[0].title, QStringLiteral("Error"));
        EXPECT_EQ(r.ui.pointerResets, c.answers.back() == MsgBox::Abort ? 1 : 0);
        expectIdle(r);
    }
}

// A report that comes at every echo: Ignore goes on to the summary, Abort
// ends the run as a stop request does. A click at the 70000th yield bounds
// a run that Abort did not stop.
TEST(vbIcmpSendEcho, shouldEndTheRunAtAbortWhenEveryEchoReports) {
    const struct {
        const char* name;
        const char* count;
        const char* size;
        int answer;
        size_t sent;
        size_t boxes;
    } cases[] = {
        {"the count past 32767, Ignore", "32770", "32", MsgBox::Ignore, 32770, 3},
        {"the count past 32767, Abort", "1e9", "32", MsgBox::Abort, 32768, 1},
        {"a size past 32767, Abort", "1e9", "32768", MsgBox::Abort, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PingRun r;
        r.form.lblPacketSize.setText(QString::fromLatin1(c.size));
        r.ui.answers.assign(c.boxes, c.answer);
        r.ui.atYield[70000] = [&] { r.form.cmdPing_Click(); };
        r.start(QString::fromLatin1(c.count), std::deque<Answer>(32770, ScriptedIcmp::reply(1)));
        EXPECT_EQ(r.icmp.sent.size(), c.sent);
        ASSERT_EQ(r.ui.boxes.size(), c.boxes);
        for (const auto& box : r.ui.boxes) {
            EXPECT_TRUE(box.prompt.startsWith(QStringLiteral("Error 6: ")));
            EXPECT_TRUE(box.prompt.contains(QStringLiteral("\r\nin vbIcmpSendEcho\r\n")));
        }
        EXPECT_EQ(static_cast<size_t>(r.form.ReplyCount), std::min<size_t>(c.sent, 32767));
        EXPECT_EQ(r.text().endsWith(summary(1)), c.answer == MsgBox::Ignore);
        expectIdle(r);
        EXPECT_EQ(r.icmp.closed.size(), 1u);
    }
}

// Where a button box puts each role is the style's choice.
class ButtonLayoutStyle final : public QProxyStyle {
public:
    explicit ButtonLayoutStyle(int layout) : layout_(layout) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        return hint == SH_DialogButtonLayout ? layout_
                                             : QProxyStyle::styleHint(hint, option, widget, data);
    }

private:
    int layout_;
};

// The real box, seen and answered through its widgets once it is up: Abort,
// Retry, Ignore in every style's button layout, Abort the default, and
// neither Esc nor the close request answers it.
TEST(QtWindowSystem, shouldOfferAbortRetryAndIgnoreInThatOrderAndTakeOnlyTheirAnswers) {
    ButtonLayoutStyle styles[] = {ButtonLayoutStyle(QDialogButtonBox::WinLayout),
                                  ButtonLayoutStyle(QDialogButtonBox::MacLayout),
                                  ButtonLayoutStyle(QDialogButtonBox::KdeLayout),
                                  ButtonLayoutStyle(QDialogButtonBox::GnomeLayout),
                                  ButtonLayoutStyle(QDialogButtonBox::AndroidLayout)};
    for (const int answer : {MsgBox::Abort, MsgBox::Retry, MsgBox::Ignore}) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            auto* buttons = box->findChild<QDialogButtonBox*>();
            QList<QPushButton*> shown;
            for (ButtonLayoutStyle& style : styles) {
                buttons->setStyle(&style);
                shown.clear();
                QString texts;
                for (int i = 0; i < buttons->layout()->count(); ++i) {
                    if (auto* button =
                            qobject_cast<QPushButton*>(buttons->layout()->itemAt(i)->widget())) {
                        shown.append(button);
                        texts += button->text() + u' ';
                    }
                }
                EXPECT_EQ(texts, QStringLiteral("Abort Retry Ignore "));
            }
            if (shown.size() != 3) {
                box->done(0);
                return;
            }
            EXPECT_EQ(box->defaultButton(), shown[0]);
            QTest::keyClick(box, Qt::Key_Escape);
            EXPECT_FALSE(box->windowHandle()->close());
            EXPECT_TRUE(box->isVisible());
            shown[answer - MsgBox::Abort]->click();
        });
        QtWindowSystem ws;
        EXPECT_EQ(
            ws.messageBox(QStringLiteral("Error 6: ..."),
                          MsgBox::AbortRetryIgnore | MsgBox::Critical, QStringLiteral("Error")),
            answer);
    }
}

// A condition whose test fails and is passed over counts as true.
TEST(Procedure, shouldEnterTheFirstBranchWhenAFailingTestIsPassedOver) {
    ScriptedWindowSystem ui;
    ui.answers = {MsgBox::Ignore};
    for (Procedure procedure : {Procedure::skip(), Procedure::report(ui, u"in Test", [] {})}) {
        bool first = false;
        procedure.run([&](Procedure& s) {
            first = s.test([]() -> bool { raise(FailureKind::TypeMismatch); });
        });
        EXPECT_TRUE(first);
    }
}

}  // namespace
