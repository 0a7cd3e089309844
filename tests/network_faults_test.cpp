// Whole runs in the client of a network of our own, over the real ICMP layer
// and resolver: what the program writes when the network misbehaves.

#include "fakes.h"
#include "netns.h"
#include "platform/socket_library_linux.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = LinuxIcmpHelper::SocketKind;
using Clock = std::chrono::steady_clock;

QString literal(const char16_t* text) {
    return QRegularExpression::escape(QString::fromUtf16(text));
}

const QString kAverage = literal(u"\r\n 平均速度: ") + QStringLiteral("\\d+ms\\.");
const QString kNoAverage = literal(u"\r\n 平均速度: 0ms.");

QString replyLines(const char* from, int count, int ttl) {
    return QStringLiteral("( Reply from %1: Bytes = 32 RTT = \\d+ms TTL = %2\\r\\n){%3}")
        .arg(QRegularExpression::escape(QString::fromLatin1(from)))
        .arg(ttl)
        .arg(count);
}

// client 10.1.0.1 -- 10.1.0.2 router 10.2.0.1 -- 10.2.0.2 target, whose
// default TTL is 100. The router has no default route (10.4/24: no route), an
// unreachable route to 10.3/24, a blackhole for 10.6/24, and sends 10.5/24 to
// the target, whose default route sends it back. No ICMP type is rate-limited
// (icmp_ratemask 0); route errors still pass the router's own limiter (5, then
// 1/s), enough for one table.
struct Sockets {
    const char* name;
    Kind kind;
};

void PrintTo(const Sockets& sockets, std::ostream* out) {  // also names the instances
    *out << sockets.name;
}

class RealNetwork : public testing::TestWithParam<Sockets> {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to build network namespaces";
        }
        const bool built =
            client.fd >= 0 && router.fd >= 0 && target.fd >= 0 &&
            shellIn(client.fd,
                    "ip link set lo up; echo 0 2147483647 >/proc/sys/net/ipv4/ping_group_range\n"
                    "ip link add c0 type veth peer name r0 netns " +
                        netnsPath(router.fd) +
                        "\nip addr add 10.1.0.1/24 dev c0; ip link set c0 up\n"
                        "ip route add default via 10.1.0.2") &&
            shellIn(router.fd,
                    "ip link set lo up; ip addr add 10.1.0.2/24 dev r0; ip link set r0 up\n"
                    "ip link add r1 type veth peer name t0 netns " +
                        netnsPath(target.fd) +
                        "\nip addr add 10.2.0.1/24 dev r1; ip link set r1 up\n"
                        "cd /proc/sys/net/ipv4; echo 1 >ip_forward; echo 0 >icmp_ratemask\n"
                        "ip route add unreachable 10.3.0.0/24; ip route add blackhole 10.6.0.0/24\n"
                        "ip route add 10.5.0.0/24 via 10.2.0.2") &&
            shellIn(target.fd,
                    "ip link set lo up; ip addr add 10.2.0.2/24 dev t0; ip link set t0 up\n"
                    "ip addr add 10.3.0.1/32 dev lo; ip route add default via 10.2.0.1\n"
                    "cd /proc/sys/net/ipv4; echo 1 >ip_forward; echo 0 >icmp_ratemask\n"
                    "echo 100 >ip_default_ttl");
        if (!built) {
            GTEST_SKIP() << "no network of our own: needs iproute2 and veth links";
        }
        inClient.emplace(client.fd);
    }

    Netns client;
    Netns router;
    Netns target;
    std::optional<InNetns> inClient;
};

// The program's run as main() sets it up: raw sockets share the one opened
// first; the socket library started by the load.
struct ClientRun {
    explicit ClientRun(Kind kind) : icmp(makeHelper(kind, kind == Kind::RawOnly)) {
        WsaData data;
        winsock.WSAStartup(0x0202, data);
    }
    const QString& run(const char* host, const char* count) {
        form.Host.setText(QString::fromLatin1(host));
        form.lblPingTimes.setText(QString::fromLatin1(count));
        form.cmdPing_Click();
        return form.txtStatus.text();
    }

    ScriptedWindowSystem ui;
    std::unique_ptr<LinuxIcmpHelper> icmp;
    LinuxSocketLibrary winsock;
    FrmPing form{{ui, *icmp, winsock, {}}};
};

bool matches(const QString& pattern, const QString& text) {
    return QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(pattern)).match(text).hasMatch();
}

TEST_P(RealNetwork, shouldWriteWhatTheNetworkAnswered) {
    const struct {
        const char* name;
        const char* host;
        const char* count;
        QString text;  // a pattern
        int16_t replies;
        int16_t statusShown;
        const char* from;         // the last counted answer's sender
        const char* routerLater;  // a change on the router before the second echo
        int minMs, maxMs;         // from the first send to the end of the run
    } rows[] = {
        {"a target that answers, with its TTL less the router's hop", "10.2.0.2", "4",
         replyLines("10.2.0.2", 4, 99) + kAverage, 4, 0, "10.2.0.2", nullptr, 0, 2700},
        {"host unreachable, counted; the reply after it passed over", "10.3.0.1", "2",
         literal(u"Destination Host Not Reachable") + kNoAverage, 1, 0, "10.1.0.2",
         "ip route replace 10.3.0.0/24 via 10.2.0.2", 0, 2700},
        {"no route on the router: net unreachable", "10.4.0.1", "1",
         literal(u"Destination Unreahable") + kNoAverage, 1, 1, "10.1.0.2", nullptr, 0, 2700},
        {"a routing loop: time exceeded, which has no text", "10.5.0.1", "1", kNoAverage, 1, 1,
         "10.1.0.2", nullptr, 0, 2700},
        {"a silent drop: a time-out after 2700 ms", "10.6.0.1", "1",
         literal(u" Request Timeout\r\n") + kNoAverage, 0, 0, "", nullptr, 2700, 2800},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ClientRun r(GetParam().kind);
        Clock::time_point firstSend;
        r.ui.atYield[1] = [&] { firstSend = Clock::now(); };
        if (row.routerLater != nullptr) {
            r.ui.atYield[3] = [&] { EXPECT_TRUE(shellIn(router.fd, row.routerLater)); };
        }
        const QString& text = r.run(row.host, row.count);
        const auto elapsedMs = (Clock::now() - firstSend) / std::chrono::milliseconds(1);
        EXPECT_TRUE(matches(row.text, text)) << text.toStdString();
        EXPECT_EQ(r.form.ReplyCount, row.replies);
        EXPECT_EQ(r.form.StatusShown, row.statusShown);
        EXPECT_EQ(r.form.ReplyAddressText, QString::fromLatin1(row.from));
        EXPECT_GE(elapsedMs, row.minMs);
        EXPECT_LT(elapsedMs, row.maxMs);
        EXPECT_TRUE(r.ui.boxes.empty());
    }
}

std::vector<int> roundTrips(const QString& text) {
    std::vector<int> rtts;
    auto it = QRegularExpression(QStringLiteral("RTT = (\\d+)ms")).globalMatch(text);
    while (it.hasNext()) {
        rtts.push_back(it.next().captured(1).toInt());
    }
    return rtts;
}

// tc netem on one of the router's links; false where the kernel has none.
bool netem(int router, const char* link, const char* impairment) {
    return shellIn(router, std::string("tc qdisc add dev ") + link + " root netem " + impairment +
                               " 2>/dev/null");
}

// Answers the client's echoes in place of the target's kernel, `delay` late.
// With forgeries: for each request first forgeries, then the previous
// request's reply (late), then the reply, twice; all but the first copy of the
// reply leave with TTL 50, so any taken shows. Returns the requests answered;
// ends after `requests` or 3 s of quiet.
int answerInstead(int ns, std::promise<void>& listening, int requests,
                  std::chrono::milliseconds delay, bool forge) {
    InNetns in(ns);
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const timeval patience{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    listening.set_value();
    int answered = 0;
    Bytes late;
    uint8_t buffer[2048];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    for (int reads = 0; answered < requests && reads < 4 * requests; ++reads) {
        const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, (sockaddr*)&from, &length);
        if (n < 0) {
            break;
        }
        if (n < 28 || buffer[20] != icmp::kEchoRequest) {
            continue;
        }
        const uint16_t id = uint16_t(buffer[24] << 8 | buffer[25]);
        const uint16_t seq = uint16_t(buffer[26] << 8 | buffer[27]);
        const Bytes payload(buffer + 28, buffer + n);
        Bytes quoted(buffer, buffer + 28);  // the request's IP header and ICMP header
        Bytes otherEcho = quoted;
        otherEcho[27] ^= 1;
        Bytes badChecksum = icmpMessage(0, id, seq, payload);
        badChecksum[2] ^= 1;
        const Bytes reply = icmpMessage(0, id, seq, payload);
        const Bytes truncated(payload.begin(), payload.begin() + payload.size() / 2);
        std::vector<std::pair<Bytes, int>> messages = {
            {icmpMessage(0, uint16_t(id + 1), seq, payload), 50},
            {icmpMessage(0, id, uint16_t(seq + 1), payload), 50},
            {icmpMessage(0, id, seq, truncated), 50},
            {badChecksum, 50},
            {Bytes{0, 0, 0xff, 0xff}, 50},
            {icmpMessage(3, 0, 0, otherEcho, 1), 50},
            {icmpMessage(5, 0, 0, quoted, 1), 50},
            {late, 50},
            {reply, 100},
            {reply, 50},
        };
        if (!forge) {
            messages = {{reply, 100}};
        }
        std::this_thread::sleep_for(delay);
        for (const auto& [m, ttl] : messages) {
            setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
            if (!m.empty()) {
                sendto(fd, m.data(), m.size(), 0, (sockaddr*)&from, sizeof from);
            }
        }
        late = reply;
        ++answered;
    }
    close(fd);
    return answered;
}

// The target's kernel told to keep quiet, answerInstead in its place.
struct StandIn {
    StandIn(int target, int requests, std::chrono::milliseconds delay, bool forge) {
        EXPECT_TRUE(shellIn(target, "echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all"));
        answered = std::async(std::launch::async, answerInstead, target, std::ref(listening),
                              requests, delay, forge);
        listening.get_future().wait();
    }
    std::promise<void> listening;
    std::future<int> answered;
};

// Without netem in the kernel the target answers 30 ms late itself. The
// fastest of four echoes each: a busy machine delays some.
TEST_P(RealNetwork, shouldReportTheRoundTripTimeThatPingReports) {
    std::optional<StandIn> slowTarget;
    if (!netem(router.fd, "r1", "delay 30ms")) {
        slowTarget.emplace(target.fd, 8, std::chrono::milliseconds(30), false);
    }
    QProcess ping;
    ping.start(QStringLiteral("nsenter"),
               {QString::fromStdString("--net=" + netnsPath(client.fd)), QStringLiteral("ping"),
                QStringLiteral("-n"), QStringLiteral("-c4"), QStringLiteral("-i0.2"),
                QStringLiteral("10.2.0.2")});
    if (!ping.waitForFinished(10000) || ping.exitCode() != 0) {
        GTEST_SKIP() << "no iputils ping to compare with";
    }
    // "rtt min/avg/max/mdev = 30.1/30.2/30.3/0.1 ms"
    const auto summary = QRegularExpression(QStringLiteral("= ([\\d.]+)/"))
                             .match(QString::fromLatin1(ping.readAllStandardOutput()));
    ASSERT_TRUE(summary.hasMatch());
    const double pingFastest = summary.captured(1).toDouble();

    ClientRun r(GetParam().kind);
    const std::vector<int> rtts = roundTrips(r.run("10.2.0.2", "4"));
    ASSERT_EQ(rtts.size(), 4u) << r.form.txtStatus.text().toStdString();
    const int fastest = *std::min_element(rtts.begin(), rtts.end());
    EXPECT_GE(fastest, 30);
    EXPECT_NEAR(fastest, pingFastest, 1.0);
    if (slowTarget) {
        EXPECT_EQ(slowTarget->answered.get(), 8);
    }
}

TEST_P(RealNetwork, shouldTakeNoForgedLateOrDuplicatedReply) {
    StandIn forger(target.fd, 4, std::chrono::milliseconds(0), true);
    ClientRun r(GetParam().kind);
    const QString& text = r.run("10.2.0.2", "4");
    EXPECT_EQ(forger.answered.get(), 4);
    EXPECT_TRUE(matches(replyLines("10.2.0.2", 4, 99) + kAverage, text)) << text.toStdString();
    EXPECT_EQ(r.form.ReplyCount, 4);
}

TEST_P(RealNetwork, shouldCountEachEchoOnceOnALinkThatDuplicatesAndReorders) {
    if (!netem(router.fd, "r0", "delay 10ms 8ms reorder 25% 50% duplicate 100%")) {
        GTEST_SKIP() << "no tc netem in this kernel (sch_netem): duplicates and reordering are "
                        "tested by the forged replies only";
    }
    ClientRun r(GetParam().kind);
    const QString& text = r.run("10.2.0.2", "4");
    EXPECT_TRUE(matches(replyLines("10.2.0.2", 4, 99) + kAverage, text)) << text.toStdString();
    EXPECT_EQ(r.form.ReplyCount, 4);
}

INSTANTIATE_TEST_SUITE_P(Sockets, RealNetwork,
                         testing::Values(Sockets{"Datagram", Kind::DatagramOnly},
                                         Sockets{"Raw", Kind::RawOnly}),
                         testing::PrintToStringParamName());

}  // namespace
