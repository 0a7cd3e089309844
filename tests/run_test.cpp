#include "fakes.h"

#include <gtest/gtest.h>

namespace {

using Answer = ScriptedIcmp::Answer;

const QString kSummaryPrefix = QStringLiteral(u"\r\n 平均速度: ");

QString replyLine(const char* from, int bytes, int rtt, int ttl) {
    return QStringLiteral(" Reply from %1: Bytes = %2 RTT = %3ms TTL = %4\r\n")
        .arg(QString::fromLatin1(from))
        .arg(bytes)
        .arg(rtt)
        .arg(ttl);
}

QString summary(int average) {
    return kSummaryPrefix + QString::number(average) + QStringLiteral("ms.");
}

// A form set to ping 127.0.0.1 with a size of 32.
struct PingRun : FakeForm {
    PingRun() { form.Host.setText(QStringLiteral("127.0.0.1")); }
    void start(const char16_t* count, std::deque<Answer> answers) {
        form.lblPingTimes.setText(QString::fromUtf16(count));
        icmp.answers = std::move(answers);
        form.cmdPing_Click();
    }
    const QString& text() const { return form.txtStatus.text(); }
};

TEST(Run, shouldOnlyAskForAHostWhenTheHostIsEmpty) {
    PingRun r;
    r.form.Host.setText(QString());
    r.form.txtStatus.setText(QStringLiteral("earlier"));
    r.form.cmdPing_Click();
    ASSERT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.ui.boxes[0].prompt, QStringLiteral(u"请输入ip地址或域名。"));
    EXPECT_EQ(r.ui.boxes[0].style, MsgBox::OkOnly | MsgBox::Information);
    EXPECT_EQ(r.ui.boxes[0].title, QStringLiteral("Sondrel Ping"));
    EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral(u"开始"));
    EXPECT_TRUE(r.form.cmdClose.enabled());
    EXPECT_EQ(r.text(), QStringLiteral("earlier"));
    EXPECT_TRUE(r.icmp.sent.empty());
}

TEST(Run, shouldWriteOneLinePerEchoAndTheRoundedAverage) {
    const struct {
        const char* name;
        const char16_t* count;
        std::deque<Answer> answers;
        QString text;
    } cases[] = {
        {"count 0 sends nothing", u"0", {}, summary(0)},
        {"count below 1 sends nothing", u"-3", {}, summary(0)},
        {"every echo timed out",
         u"4",
         {{0}, {0}, {0}, {0}},
         QStringLiteral(" Request Timeout\r\n").repeated(4) + summary(0)},
        {"10 and 11 give 10",
         u"2",
         {Answer{1, 0, 10}, Answer{1, 0, 11}},
         replyLine("127.0.0.1", 32, 10, 64) + replyLine("127.0.0.1", 32, 11, 64) + summary(10)},
        {"11 and 12 give 12",
         u"2",
         {Answer{1, 0, 11}, Answer{1, 0, 12}},
         replyLine("127.0.0.1", 32, 11, 64) + replyLine("127.0.0.1", 32, 12, 64) + summary(12)},
        {"10, 11 and 12 give 11",
         u"3",
         {Answer{1, 0, 10}, Answer{1, 0, 11}, Answer{1, 0, 12}},
         replyLine("127.0.0.1", 32, 10, 64) + replyLine("127.0.0.1", 32, 11, 64) +
             replyLine("127.0.0.1", 32, 12, 64) + summary(11)},
        {"a fraction runs its whole part",
         u"2.9",
         {Answer{1, 0, 4}, Answer{1, 0, 6}},
         replyLine("127.0.0.1", 32, 4, 64) + replyLine("127.0.0.1", 32, 6, 64) + summary(5)},
        {"a count that is no number runs one echo",
         u"4abc",
         {Answer{1, 0, 3}, Answer{1, 0, 3}},
         replyLine("127.0.0.1", 32, 3, 64) + summary(3)},
        {"an empty count runs one echo",
         u"",
         {{0}},
         QStringLiteral(" Request Timeout\r\n") + summary(0)},
        {"a failure status is appended without a line break and the next reply passed over",
         u"4",
         {Answer{1, 11003, 0, {10, 0, 0, 1}}, Answer{1, 0, 5}, Answer{1, 0, 7}, Answer{1, 0, 9}},
         QStringLiteral("Destination Host Not Reachable") + replyLine("127.0.0.1", 32, 7, 64) +
             replyLine("127.0.0.1", 32, 9, 64) + summary(5)},
        {"an unknown status writes nothing",
         u"2",
         {Answer{1, 11013}, Answer{0}},
         QStringLiteral(" Request Timeout\r\n") + summary(0)},
        {"a status passed over stays so across timeouts",
         u"3",
         {Answer{1, 11050}, {0}, Answer{1, 0, 8}},
         QStringLiteral("General Failure Request Timeout\r\n") + summary(0)},
    };
    for (const auto& c : cases) {
        PingRun r;
        r.start(c.count, c.answers);
        EXPECT_EQ(r.text(), c.text) << c.name;
        EXPECT_EQ(r.form.txtStatus.selStart(), r.text().size()) << c.name;
        EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping")) << c.name;
        EXPECT_TRUE(r.form.cmdClose.enabled()) << c.name;
        EXPECT_EQ(r.winsock.starts, 0) << c.name;
        EXPECT_EQ(r.icmp.closed, std::vector<IcmpHelper::Handle>{7}) << c.name;
    }
}

TEST(Run, shouldSendEachEchoAsDesigned) {
    PingRun r;
    r.winsock.names["a.example"] = {192, 168, 0, 1};
    r.form.Host.setText(QStringLiteral("a.example"));
    r.start(u"2", {{0}, {0}});
    ASSERT_EQ(r.icmp.sent.size(), 2u);
    for (const auto& sent : r.icmp.sent) {
        EXPECT_EQ(sent.handle, 7u);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&sent.destination);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{192, 168, 0, 1}));
        EXPECT_EQ(sent.size, 32);
        EXPECT_EQ(sent.ttl, 255);
        EXPECT_EQ(sent.timeoutMs, 2700u);
        EXPECT_GE(sent.replySize, 28u + 32767u);
    }
    // The check of the host text, then the run's own lookup.
    EXPECT_EQ(r.winsock.lookups, (std::vector<std::string>{"a.example", "a.example"}));
}

TEST(Run, shouldBuildThePayloadFromTheLeadingNumberOfTheSize) {
    const struct {
        const char16_t* size;
        uint16_t sent;
    } cases[] = {{u"32abc", 32}, {u"2.5", 2},     {u"3.5", 4},   {u"abc", 0},
                 {u"", 0},       {u"1 0 0", 100}, {u"&H20", 32}, {u"32767", 32767}};
    for (const auto& c : cases) {
        PingRun r;
        r.form.lblPacketSize.setText(QString::fromUtf16(c.size));
        r.start(u"1", {{0}});
        ASSERT_EQ(r.icmp.sent.size(), 1u);
        EXPECT_EQ(r.icmp.sent[0].size, c.sent) << QString::fromUtf16(c.size).toStdString();
    }
}

TEST(Run, shouldSendThePreviousPayloadWhenTheSizeIsNegative) {
    PingRun r;
    r.form.lblPacketSize.setText(QStringLiteral("12"));
    r.start(u"1", {{0}});
    r.form.lblPacketSize.setText(QStringLiteral("-1"));
    r.start(u"1", {{0}});
    ASSERT_EQ(r.icmp.sent.size(), 2u);
    EXPECT_EQ(r.icmp.sent[1].size, 12);
}

TEST(Run, shouldReportEveryEchoOfAPayloadBeyondTheLengthWithoutSending) {
    for (const char16_t* size : {u"32768", u"2147483647"}) {
        PingRun r;
        r.form.lblPacketSize.setText(QString::fromUtf16(size));
        r.ui.answers = {MsgBox::Ignore, MsgBox::Ignore, MsgBox::Ignore};
        r.start(u"3", {});
        EXPECT_TRUE(r.icmp.sent.empty());
        ASSERT_EQ(r.ui.boxes.size(), 3u);
        EXPECT_TRUE(r.ui.boxes[0].prompt.startsWith(QStringLiteral("Error 6: ")));
        EXPECT_TRUE(r.ui.boxes[0].prompt.contains(QStringLiteral("\r\nin vbIcmpSendEcho\r\n")));
        EXPECT_EQ(r.form.EchoData.length(), QString::fromUtf16(size).toInt());
    }
}

TEST(Run, shouldEndWithoutSummaryAtTheTurnAfterAStopRequest) {
    PingRun r;
    // The second echo's first yield serves a click on the button.
    r.ui.atYield[3] = [&] {
        r.form.cmdPing_Click();
        EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
        EXPECT_TRUE(r.form.cmdClose.enabled());
        EXPECT_EQ(r.form.StopFlag, -1);
    };
    r.start(u"4", {Answer{1, 0, 1}, Answer{1, 0, 2}, Answer{1, 0, 3}});
    EXPECT_EQ(r.icmp.sent.size(), 2u);
    EXPECT_EQ(r.text(), replyLine("127.0.0.1", 32, 1, 64) + replyLine("127.0.0.1", 32, 2, 64));
    EXPECT_EQ(r.form.StopFlag, 0);
    EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
    EXPECT_EQ(r.winsock.starts, 0);
    EXPECT_EQ(r.icmp.closed.size(), 1u);
}

TEST(Run, shouldYieldBeforeEachSendAndBeforeEachReplyIsWritten) {
    PingRun r;
    std::vector<int> sentAtYield;
    r.icmp.whileBlocked = [&] { sentAtYield.push_back(r.ui.yields); };
    r.start(u"3", {Answer{1, 0, 1}, {0}, Answer{1, 11003}});
    EXPECT_EQ(sentAtYield, (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(r.ui.yields, 5);
}

TEST(Run, shouldKeepTheCountersWhenTheHostDoesNotResolve) {
    PingRun r;
    r.start(u"2", {Answer{1, 0, 10}, Answer{1, 0, 20}});
    r.form.Host.setText(QStringLiteral("nowhere.invalid"));
    r.start(u"2", {});
    EXPECT_EQ(r.text(), QStringLiteral("Unable To Resolve Host"));
    EXPECT_EQ(r.form.ReplyCount, 2);
    EXPECT_EQ(r.form.TotalRtt, 15);
    EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
    EXPECT_TRUE(r.form.cmdClose.enabled());
    EXPECT_EQ(r.icmp.opened, 1);
}

TEST(Run, shouldSayOnceThatIcmpIsNotPermittedAndEndWithTheSummary) {
    PingRun r;
    r.icmp.createFails = true;
    r.start(u"4", {});
    EXPECT_TRUE(r.icmp.sent.empty());
    EXPECT_TRUE(r.text().startsWith(QStringLiteral("ICMP is not permitted")));
    EXPECT_EQ(r.text().count(QStringLiteral("\r\n")), 2);  // its own line, then the summary's
    EXPECT_TRUE(r.text().endsWith(summary(0)));
    EXPECT_EQ(r.form.NetErrorFlag, 0);
}

TEST(GetRCode, shouldWriteTheTextOfEveryStatusOfTheTable) {
    const struct {
        int32_t status;
        const char* text;
    } cases[] = {
        {11001, "Buffer too Small"},
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
        {-1, ""},
    };
    for (const auto& c : cases) {
        FakeForm f;
        f.form.txtStatus.setText(QStringLiteral("x"));
        f.form.EchoReply.Status = c.status;
        f.form.EchoReply.RoundTripTime = 15;
        f.form.GetRCode();
        EXPECT_EQ(f.form.txtStatus.text(), QStringLiteral("x") + QString::fromLatin1(c.text))
            << c.status;
        EXPECT_EQ(f.form.StatusShown, 1) << c.status;
        EXPECT_EQ(f.form.TotalRtt, 0) << c.status;
        EXPECT_EQ(f.form.txtStatus.selStart(), f.form.txtStatus.text().size());
    }
}

TEST(GetRCode, shouldWriteTheReplyLineAndAddTheTime) {
    FakeForm f;
    f.form.ReplyAddressText = QStringLiteral("10.0.0.1");
    f.form.EchoReply.DataSize = 32;
    f.form.EchoReply.RoundTripTime = 15;
    f.form.EchoReply.Options.Ttl = 128;
    f.form.TotalRtt = 5;
    f.form.GetRCode();
    EXPECT_EQ(f.form.txtStatus.text(), replyLine("10.0.0.1", 32, 15, 128));
    EXPECT_EQ(f.form.TotalRtt, 20);
    EXPECT_EQ(f.form.StatusShown, 0);
    EXPECT_EQ(f.form.ReplyStatusText, QStringLiteral("Success"));

    f.form.ReplyAddressText.clear();
    f.form.EchoReply.RoundTripTime = 0;
    f.form.EchoReply.Options.Ttl = 255;
    f.form.txtStatus.setText(QString());
    f.form.GetRCode();
    EXPECT_EQ(f.form.txtStatus.text(),
              QStringLiteral(" Reply from : Bytes = 32 RTT = 0ms TTL = 255\r\n"));
    EXPECT_EQ(f.form.TotalRtt, 20);
}

TEST(GetRCode, shouldOfferAbortRetryAndIgnoreWhenTheTotalOverflows) {
    const struct {
        std::deque<int> answers;
        bool lineWritten;
        size_t boxes;
    } cases[] = {
        {{MsgBox::Abort}, false, 1},
        {{MsgBox::Retry, MsgBox::Retry, MsgBox::Abort}, false, 3},
        {{MsgBox::Ignore}, true, 1},
    };
    for (const auto& c : cases) {
        FakeForm f;
        f.ui.answers = c.answers;
        f.form.TotalRtt = 2147483647;
        f.form.EchoReply.RoundTripTime = 1;
        f.form.GetRCode();
        EXPECT_EQ(f.form.TotalRtt, 2147483647);
        EXPECT_EQ(f.form.txtStatus.text().startsWith(QStringLiteral(" Reply from")), c.lineWritten);
        ASSERT_EQ(f.ui.boxes.size(), c.boxes);
        EXPECT_TRUE(f.ui.boxes[0].prompt.contains(QStringLiteral("\r\nin GetRCode\r\n")));
    }
}

TEST(Run, shouldGoOnWithTheNextEchoAfterAnAbortInGetRCode) {
    PingRun r;
    r.ui.answers = {MsgBox::Abort};
    r.ui.atYield[1] = [&] { r.form.TotalRtt = 2147483647; };
    r.ui.atYield[3] = [&] { r.form.TotalRtt = 0; };
    r.start(u"2", {Answer{1, 0, 1}, Answer{1, 0, 2}});
    EXPECT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.text(), replyLine("127.0.0.1", 32, 2, 64) + summary(1));
}

TEST(vbIcmpSendEcho, shouldReportTheCountPast32767AndKeepItOnIgnore) {
    FakeForm f;
    f.ui.answers = {MsgBox::Ignore};
    f.form.ReplyCount = 32767;
    f.icmp.answers = {Answer{1, 0, 3, {192, 168, 0, 1}}};
    f.form.vbIcmpSendEcho();
    EXPECT_EQ(f.form.ReplyCount, 32767);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_TRUE(f.ui.boxes[0].prompt.startsWith(QStringLiteral("Error 6: ")));
    EXPECT_EQ(f.form.txtStatus.text(), replyLine("192.168.0.1", 0, 3, 64));
}

}  // namespace
