// Hostile texts in the three boxes, each through a whole run with its decided
// outcome: none crashes, hangs or changes what the user typed.

#include "fakes.h"
#include "netns.h"
#include "platform/socket_library_linux.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const QString kAverage =
    QRegularExpression::escape(QStringLiteral(u"\r\n 平均速度: ")) + QStringLiteral("\\d+ms\\.");
const QString kLoopbackReply =
    QStringLiteral(" Reply from 127\\.0\\.0\\.1: Bytes = 32 RTT = \\d+ms TTL = 64\\r\\n") +
    kAverage;
const QString kUnresolved = QStringLiteral("Unable To Resolve Host");

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
    ASSERT_TRUE(ns.fd >= 0 && shellIn(ns.fd, "ip link set lo up"));
    const InNetns in(ns.fd);
    const struct {
        const char* name;
        QString host;
        QString text;     // a pattern
        const char* box;  // the start of the one box shown, or none
    } rows[] = {
        {"empty: asks for a host", QString(), QString(), "请输入ip地址或域名。"},
        {"blanks only", QStringLiteral("   "), kUnresolved, nullptr},
        {"64 characters", loopbackOfLength(64), kLoopbackReply, nullptr},
        // The original's error model: the box, then the echo goes to the
        // address of the last lookup, none yet here: 0.0.0.0, this machine.
        {"65 characters", loopbackOfLength(65), kLoopbackReply, "Error 5: Invalid argument"},
        {"control characters", QStringLiteral("\a\x1b[2J"), kUnresolved, nullptr},
        {"a line end after an address", QStringLiteral("127.0.0.1\r\n"), kUnresolved, nullptr},
        {"a Chinese domain name", QStringLiteral(u"例子.测试"), kUnresolved, nullptr},
        {"0.0.0.0: this machine", QStringLiteral("0.0.0.0"), kLoopbackReply, nullptr},
        // The kernel refuses the send (no route here, else no SO_BROADCAST): no wait.
        {"255.255.255.255", QStringLiteral("255.255.255.255"),
         QStringLiteral(" Request Timeout\\r\\n") + kAverage, nullptr},
        {".", QStringLiteral("."), kUnresolved, nullptr},
        {"a..b", QStringLiteral("a..b"), kUnresolved, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedWindowSystem ui;
        LinuxIcmpHelper icmp;
        LinuxSocketLibrary winsock;
        WsaData data;
        winsock.WSAStartup(0x0202, data);
        FrmPing form({ui, icmp, winsock, {}});
        form.Host.setText(row.host);
        form.lblPingTimes.setText(QStringLiteral("1"));
        const auto start = Clock::now();
        form.cmdPing_Click();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(row.text))
                        .match(form.txtStatus.text())
                        .hasMatch())
            << form.txtStatus.text().toStdString();
        ASSERT_EQ(ui.boxes.size(), row.box != nullptr ? 1u : 0u);
        if (row.box != nullptr) {
            EXPECT_TRUE(ui.boxes[0].prompt.startsWith(QString::fromUtf8(row.box)));
        }
        EXPECT_EQ(form.Host.text(), row.host);
        EXPECT_NE(form.cmdPing.caption(), QStringLiteral("Stop"));
        EXPECT_TRUE(form.cmdClose.enabled());
    }
}

// Every echo times out at once; a stop request comes before the seventh.
TEST(HostileInput, shouldTakeEveryCountAndSizeAsDecided) {
    const struct {
        const char16_t* text;
        int echoes;      // as the count
        bool completed;  // with the average, not stopped
        int size;        // as the size: bytes sent, -1 none
    } rows[] = {
        {u"", 1, true, 0},        {u"-1", 0, true, 0},  // the size: the previous payload, none yet
        {u"2.5", 2, true, 2},     {u"4abc", 1, true, 4},        {u" 4 ", 4, true, 4},
        {u"1e9", 6, false, -1},   {u"NaN", 1, true, 0},         {u"&HFFFF", 1, true, -1},
        {u"32768", 6, false, -1}, {u"2147483648", 6, false, 0}, {u"1e400", 1, true, 0},
    };
    for (const auto& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        SCOPED_TRACE(text.toStdString());
        FakeForm count;
        count.form.Host.setText(QStringLiteral("127.0.0.1"));
        count.form.lblPingTimes.setText(text);
        count.ui.atYield[6] = [&] { count.form.cmdPing_Click(); };
        count.form.cmdPing_Click();
        EXPECT_EQ(count.icmp.sent.size(), size_t(row.echoes));
        EXPECT_EQ(count.form.txtStatus.text().contains(u"平均速度"), row.completed);
        EXPECT_TRUE(count.ui.boxes.empty());
        EXPECT_EQ(count.form.lblPingTimes.text(), text);

        FakeForm size;
        size.form.Host.setText(QStringLiteral("127.0.0.1"));
        size.form.lblPingTimes.setText(QStringLiteral("1"));
        size.form.lblPacketSize.setText(text);
        size.form.cmdPing_Click();
        ASSERT_EQ(size.icmp.sent.size(), row.size < 0 ? 0u : 1u);
        if (row.size >= 0) {
            EXPECT_EQ(size.icmp.sent[0].size, row.size);
        }
        // A payload beyond a request's length is reported, not sent.
        ASSERT_EQ(size.ui.boxes.size(), row.size < 0 ? 1u : 0u);
        if (row.size < 0) {
            EXPECT_TRUE(size.ui.boxes[0].prompt.startsWith(QStringLiteral("Error 6: ")));
        }
        EXPECT_EQ(size.form.lblPacketSize.text(), text);
        EXPECT_TRUE(size.form.txtStatus.text().contains(u"平均速度"));
    }
}

}  // namespace
