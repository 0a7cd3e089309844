// Hostile texts in the three boxes, each through a whole run with its decided
// outcome: none crashes, hangs or changes what the user typed.

#include "form/number_input.h"
#include "netns.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

// 127.0.0.1 as the resolver reads it: hexadecimal, zeros in front.
QString loopbackOfLength(qsizetype length) {
    return QStringLiteral("0x") + QString(length - 10, u'0') + QStringLiteral("7f000001");
}

// The real resolver and ICMP in a namespace with a loopback only: no lookup
// leaves the machine, none waits for a name server.
TEST(HostileInput, shouldEndARunForEveryHostTextAsDecided) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the lookups run in a private network namespace";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    const InNetns in(ns);
    const QString unresolved = QStringLiteral("Unable To Resolve Host");
    const QString loopbackReply = repliesPattern("127.0.0.1", 1, 64);
    const struct {
        const char* name;
        QString host;
        QString text;     // a pattern
        const char* box;  // the start of the one box shown, or none
    } rows[] = {
        {"blanks only", QStringLiteral("   "), unresolved, nullptr},
        {"64 characters", loopbackOfLength(64), loopbackReply, nullptr},
        // The original's error model: the box, then the echo goes to the
        // address of the last lookup, none yet here: 0.0.0.0, this machine.
        {"65 characters", loopbackOfLength(65), loopbackReply, "Error 5: Invalid argument"},
        {"control characters", QStringLiteral("\a\x1b[2J"), unresolved, nullptr},
        {"a line end after an address", QStringLiteral("127.0.0.1\r\n"), unresolved, nullptr},
        {"a Chinese domain name", QStringLiteral(u"例子.测试"), unresolved, nullptr},
        {"0.0.0.0: this machine", QStringLiteral("0.0.0.0"), loopbackReply, nullptr},
        // The kernel refuses the send (no route here, else no SO_BROADCAST): no wait.
        {"255.255.255.255", QStringLiteral("255.255.255.255"),
         QStringLiteral(" Request Timeout\\r\\n") + kAveragePattern, nullptr},
        {".", QStringLiteral("."), unresolved, nullptr},
        {"a..b", QStringLiteral("a..b"), unresolved, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RealForm r;
        const auto start = std::chrono::steady_clock::now();
        const QString& text = r.run(row.host, "1");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
        EXPECT_TRUE(fullMatch(row.text, text)) << text.toStdString();
        ASSERT_EQ(r.ui.boxes.size(), row.box != nullptr ? 1u : 0u);
        if (row.box != nullptr) {
            EXPECT_TRUE(r.ui.boxes[0].prompt.startsWith(QString::fromUtf8(row.box)));
        }
        EXPECT_EQ(r.form.Host.text(), row.host);
        EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
    }
}

// As the count every echo times out and a stop request comes before the
// seventh; as the size, after a run that sent 12 bytes.
TEST(HostileInput, shouldTakeEveryCountAndSizeAsDecided) {
    const struct {
        const char16_t* text;
        int echoes;      // as the count
        bool completed;  // with the average, not stopped
        int size;        // as the size: bytes sent, -1 reported and none sent
    } rows[] = {
        {u"", 1, true, 0},           {u"0", 0, true, 0},       {u"-1", 0, true, 12},
        {u"2.5", 2, true, 2},        {u"3.5", 3, true, 4},     {u"4abc", 1, true, 4},
        {u" 4 ", 4, true, 4},        {u"1 0 0", 1, true, 100}, {u"&H20", 1, true, 32},
        {u"1e9", 6, false, -1},      {u"NaN", 1, true, 0},     {u"&HFFFF", 1, true, -1},
        {u"32767", 6, false, 32767}, {u"32768", 6, false, -1}, {u"2147483648", 6, false, 12},
        {u"1e400", 1, true, 12},     {u"1,000", 6, false, 1},  {u"+3", 3, true, 3},
        {u"inf", 1, true, 0},        {u"0.5", 0, true, 0},     {u"-0.5", 0, true, 0},
    };
    for (const auto& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        SCOPED_TRACE(text.toStdString());
        PingRun count;
        count.ui.atYield[6] = [&] { count.form.cmdPing_Click(); };
        count.start(text);
        EXPECT_EQ(count.icmp.sent.size(), size_t(row.echoes));
        EXPECT_EQ(count.text().contains(u"平均速度"), row.completed);
        EXPECT_TRUE(count.ui.boxes.empty());
        EXPECT_EQ(count.form.lblPingTimes.text(), text);

        PingRun size;
        size.form.lblPacketSize.setText(QStringLiteral("12"));
        size.start(QStringLiteral("1"));
        size.form.lblPacketSize.setText(text);
        size.start(QStringLiteral("1"));
        ASSERT_EQ(size.icmp.sent.size(), row.size < 0 ? 1u : 2u);
        if (row.size >= 0) {
            EXPECT_EQ(size.icmp.sent[1].size, row.size);
        } else {
            ASSERT_EQ(size.ui.boxes.size(), 1u);
            EXPECT_TRUE(size.ui.boxes[0].prompt.startsWith(QStringLiteral("Error 6: ")));
            EXPECT_TRUE(size.ui.boxes[0].prompt.contains(QStringLiteral("\r\nin vbIcmpSendEcho")));
        }
        EXPECT_EQ(size.form.lblPacketSize.text(), text);
        EXPECT_TRUE(size.text().contains(u"平均速度"));
    }
}

// The size's reading, which keeps what it can: blanks, tabs and line feeds
// ignored, "." the decimal point, &H and &O hexadecimal and octal.
TEST(LeadingNumber, shouldReadTheNumberAtTheStartOfTheText) {
    const struct {
        const char16_t* text;
        double value;
    } cases[] = {
        {u"32", 32},    {u"32abc", 32},     {u"2.5", 2.5}, {u"3 2", 32}, {u"\t1\n2", 12},
        {u" -1", -1},   {u"- 1", -1},       {u"+7", 7},    {u".5", 0.5}, {u"1.2.3", 1.2},
        {u"1e3", 1000}, {u"1E+2x", 100},    {u"2d1", 20},  {u"1e", 1},   {u"&H10", 16},
        {u"&hff", 255}, {u"&HFFFF", 65535}, {u"&O17", 15}, {u"&o8", 0},  {u"&Hxyz", 0},
        {u"&", 0},      {u"abc", 0},        {u"", 0},      {u"\r32", 0}, {u"３２", 0},
        {u"1,5", 1},    {u"1e-400", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
    }
}

}  // namespace
