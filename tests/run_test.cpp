#include "fakes.h"
#include "report/checked.h"
#include "report/procedure.h"
#include "report/text.h"

namespace {

using Answer = ScriptedIcmp::Answer;
constexpr auto reply = ScriptedIcmp::reply;

const std::u16string kTimeout = u" Request Timeout\r\n";
const std::u16string kUnreachable = u"Destination Host Not Reachable";

// Whole runs: the results box, the echoes sent, the boxes shown (each
// answered by the next of `answers`), and the window idle at the end with
// every start of the library and every handle given back.
TEST(Run, shouldWriteWhatEachEchoGotThenTheRoundedAverage) {
    struct Row {
        const char* name;
        const char16_t* count;
        std::deque<Answer> echoes;
        std::u16string text;
        size_t sent;
        std::vector<std::u16string> boxes = {};  // the start of each box's prompt
        std::function<void(PingRun&)> before = [](PingRun&) {};
    };
    const Row rows[] = {
        Row("all time out", u"4", {}, repeated(kTimeout, 4) + summary(u"0"), 4),
        Row("10 and 11 give 10", u"4", {reply(10), reply(11)},
            replyLine(u"10") + replyLine(u"11") + repeated(kTimeout, 2) + summary(u"10"), 4),
        Row("11 and 12 give 12", u"2", {reply(11), reply(12)},
            replyLine(u"11") + replyLine(u"12") + summary(u"12"), 2),
        Row("a failure's text without a line break; the reply after it passed over", u"4",
            {{1, 11003, 0, {198, 18, 0, 1}}, reply(5), reply(7), reply(9)},
            kUnreachable + replyLine(u"7") + replyLine(u"9") + summary(u"5"), 4),
        Row("a status without text passed over, so across time-outs", u"4",
            {{1, 11013}, {0}, reply(8), {1, 11022}}, kTimeout + u"Unload" + summary(u"0"), 4),
        Row("an IPv4 host after an IPv6 one, counted afresh", u"1", {reply(9)},
            replyLine(u"9") + summary(u"9"), 1, {},
            [](PingRun& r) {
                r.form.Host.setText(u"v6.example");
                r.start(u"2", {reply(10), reply(20)});
                r.form.Host.setText(u"127.0.0.1");
            }),
        Row("a stop request at the second echo", u"4", {reply(1), reply(2), reply(3)},
            replyLine(u"1") + replyLine(u"2"), 2, {},
            [](PingRun& r) {
                r.ui.atYield[3] = [&r] {
                    r.form.cmdPing_Click();
                    EXPECT_EQ(r.form.cmdPing.caption(), u"Ping");
                    EXPECT_TRUE(r.form.cmdClose.enabled());
                };
            }),
        Row("a start clicked after a stop request: waits for the stopped run", u"4", {},
            repeated(kTimeout, 4) + summary(u"0"), 5, {},
            [](PingRun& r) {
                r.icmp.whileBlocked = [&r] {
                    EXPECT_EQ(r.icmp.opened - int(r.icmp.closed.size()), 1);  // never nested
                };
                r.ui.atYield[1] = [&r] {
                    r.form.cmdPing_Click();
                    r.form.cmdPing_Click();
                };
            }),
        Row("what an earlier run left pending discarded", u"1", {}, kTimeout + summary(u"0"), 1, {},
            [](PingRun& r) { r.form.StopFlag = -1, r.form.NetErrorFlag = 1; }),
        Row("no ICMP: why, once, then the summary", u"4", {},
            u"No ICMP socket could be opened: Too many open files.\r\n" + summary(u"0"), 0, {},
            [](PingRun& r) {
                r.icmp.failure.emplace().error = 24;
                r.icmp.failure->reason = u"Too many open files";
            }),
        Row("the count past 32767, Ignore each report", u"32770", std::deque(32770, reply(1)),
            repeated(replyLine(u"1"), 32770) + summary(u"1"), 32770,
            {kOverflow, kOverflow, kOverflow},
            [](PingRun& r) { r.ui.answers.assign(3, MsgBox::Ignore); }),
        Row("the count past 32767, Abort: a stop request", u"1e9", std::deque(32770, reply(1)),
            repeated(replyLine(u"1"), 32767), 32768, {kOverflow},
            [](PingRun& r) { r.ui.answers = {MsgBox::Abort}; }),
        Row("a size past 32767, Abort", u"1e9", {}, {}, 0, {kOverflow},
            [](PingRun& r) {
                r.form.lblPacketSize.setText(u"32768");
                r.ui.answers = {MsgBox::Abort};
            }),
        Row("the total past 2^31: Retry asks again, Abort stops", u"2", {reply(1), reply(2)}, {}, 1,
            {kOverflow, kOverflow},
            [](PingRun& r) {
                r.ui.answers = {MsgBox::Retry, MsgBox::Abort};
                r.ui.atYield[1] = [&r] { r.form.TotalRtt = 2147483647; };
            }),
        Row("an IPv6 host: its short text, the hop limit as TTL", u"3",
            {reply(10), {1, 11003}, reply(5)},
            replyLine(u"10", u"2001:db8::1") + kUnreachable + summary(u"5"), 3, {},
            [](PingRun& r) { r.form.Host.setText(u"v6.example"); }),
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PingRun r;
        row.before(r);
        r.ui.atYield[70000] = [&r] { r.form.cmdPing_Click(); };  // bounds a run not stopped
        const size_t sentBefore = r.icmp.sent.size();
        const auto aborts = std::count(r.ui.answers.begin(), r.ui.answers.end(), MsgBox::Abort);
        r.start(row.count, row.echoes);
        EXPECT_EQ(r.text(), row.text);
        EXPECT_EQ(r.icmp.sent.size() - sentBefore, row.sent);
        EXPECT_TRUE(
            std::ranges::equal(r.ui.boxes, row.boxes, [](const auto& box, const auto& start) {
                return box.prompt.starts_with(start) &&
                       box.style == (MsgBox::AbortRetryIgnore | MsgBox::Critical);
            }));
        EXPECT_EQ(r.ui.pointerResets, aborts);
        EXPECT_EQ(r.form.txtStatus.selStart(), std::ssize(r.text()));
        // StopFlag 0: a stop request taken is none pending.
        EXPECT_EQ(std::tuple(r.form.cmdPing.caption(), r.form.cmdClose.enabled(), r.form.StopFlag,
                             r.winsock.starts, r.icmp.opened),
                  std::tuple(u"Ping", true, 0, 0, int(r.icmp.closed.size())));
    }
}

// Each echo as sent, to the host the check of its text looked up and the run
// looked up again. Where no host is pinged, the last run's counts stay.
TEST(Run, shouldSendEachEchoToTheHostLookedUpAndAskForAHostOnlyWhenItIsEmpty) {
    PingRun r;
    r.winsock.names["a.example"] = {198, 18, 0, 1};
    r.form.Host.setText(u"a.example");
    r.start(u"2", {reply(10), reply(20)});
    ASSERT_EQ(r.icmp.sent.size(), 2u);
    for (const auto& sent : r.icmp.sent) {  // to 198.18.0.1
        EXPECT_EQ(std::tuple(sent.handle, sent.destination, sent.size, sent.ttl, sent.timeoutMs),
                  std::tuple(7u, 0x010012C6u, 32, 255, 2700u));
        EXPECT_GE(sent.replySize, 28u + 32767u);
    }
    EXPECT_EQ(r.winsock.lookups, (std::vector<std::string>{"a.example", "a.example"}));
    r.form.Host.setText(u"");
    r.start(u"2");
    ASSERT_EQ(r.ui.boxes.size(), 1u);
    const auto& [prompt, title, style] = r.ui.boxes[0];
    EXPECT_EQ(std::tie(prompt, title, style), std::tuple(u"请输入ip地址或域名。", u"Sondrel Ping",
                                                         MsgBox::OkOnly | MsgBox::Information));
    EXPECT_TRUE(r.text().ends_with(summary(u"15")));
    r.form.Host.setText(u"nowhere.invalid");
    r.start(u"2");
    EXPECT_EQ(r.text(), u"Unable To Resolve Host");
    EXPECT_EQ(std::tuple(r.form.ReplyCount, r.form.TotalRtt, r.icmp.opened), std::tuple(2, 15, 1));
}

// A window closed after a stop request is left alone by the run, which
// sends no more and writes nothing.
TEST(Run, shouldNotTouchAClosedWindow) {
    for (int yield : {1, 2}) {  // before the send, before the reply line
        PingRun c;
        std::u16string atClose;
        c.ui.atYield[yield] = [&] {
            c.form.cmdPing_Click();
            c.form.cmdClose_Click();
            atClose = c.text();
        };
        c.start(u"4", {reply(1)});
        EXPECT_EQ(std::tuple(c.form.closed(), c.text(), c.icmp.sent.size(), c.icmp.closed.size(),
                             c.form.StopFlag),
                  std::tuple(true, atClose, yield == 1 ? 0u : 1u, 1u, -1));
    }
}

TEST(LostFocus, shouldRemoveEveryBlankAndWriteTheTextBack) {
    for (const auto& [text, left] :
         {std::pair(u"1 0", u"10"), std::pair(u"   ", u""), std::pair(u" a b ", u"ab"),
          std::pair(u"\u3000x\u3000", u"x"), std::pair(u"\tx", u"\tx")}) {
        FakeForm f;
        for (const FormControl& control : kFormControls) {
            if (control.box != nullptr && control.box != &FrmPing::txtStatus) {
                (f.form.*control.box).setText(text);
                control.handler(f.form);
                EXPECT_EQ((f.form.*control.box).text(), left);
            }
        }
    }
}

// The average's rounding takes both ends of its range, and no more.
TEST(Checked, shouldRoundToEveryInt32AndNoMore) {
    EXPECT_EQ(roundToInt32(-2147483648.0), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(roundToInt32(2147483646.5), 2147483646);
    EXPECT_THROW(roundToInt32(2147483647.5), ProcedureFailure);
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
    EXPECT_EQ(procedureErrorText(u"in X", {-5, {}, 0}),
              u"Error -5: \r\nin X\r\nThe error occured at line: 0");
}

}  // namespace
