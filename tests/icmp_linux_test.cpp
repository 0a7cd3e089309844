#include "platform/icmp_linux.h"
#include "netns.h"
#include "platform/icmp_packet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>  // <linux/errqueue.h> needs struct timespec
#include <unistd.h>

#include <linux/errqueue.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = LinuxIcmpHelper::SocketKind;
using Clock = std::chrono::steady_clock;

const uint32_t kLocal = inet_addr("10.1.0.1");
const uint32_t kRouter = inet_addr("10.1.0.2");
const uint32_t kTarget = inet_addr("10.9.9.9");
const uint32_t kLoopback = inet_addr("127.0.0.1");

Bytes ipPacket(uint32_t src, uint32_t dst, const Bytes& body, uint8_t protocol = IPPROTO_ICMP) {
    const auto length = 20 + body.size();
    Bytes p{0x45, 0, uint8_t(length >> 8), uint8_t(length), 0, 0, 0, 0, 61, protocol};
    p.resize(20);
    std::memcpy(&p[12], &src, 4);
    std::memcpy(&p[16], &dst, 4);
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

struct Quote {
    uint16_t id = 7;
    uint16_t seq = 9;
    uint32_t dst = kTarget;
    uint8_t protocol = IPPROTO_ICMP;
    uint8_t type = 8;
    std::size_t icmpBytes = 8;
};

// From kRouter, quoting a request's IP header and first ICMP bytes.
Bytes errorPacket(uint8_t type, uint8_t code, const Quote& q = {}) {
    Bytes quoted = ipPacket(kLocal, q.dst, icmpMessage(q.type, q.id, q.seq, {}), q.protocol);
    quoted.resize(20 + q.icmpBytes);
    return ipPacket(kRouter, kLocal, icmpMessage(type, 0, 0, quoted, code));
}

Bytes edit(Bytes bytes, std::size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

// Bad checksums are dropped: raw sockets get packets before the kernel checks.
TEST(IcmpPacket, RawPacketsAnswerOnlyTheirEcho) {
    const Bytes reply = ipPacket(kTarget, kLocal, icmpMessage(0, 7, 9, {'h', 'i'}));
    const struct {
        const char* name;
        Bytes packet;
        bool answers;
    } cases[] = {
        {"reply", reply, true},
        {"other id", ipPacket(kTarget, kLocal, icmpMessage(0, 8, 9, {})), false},
        {"other sequence", ipPacket(kTarget, kLocal, icmpMessage(0, 7, 8, {})), false},
        {"own request", ipPacket(kLocal, kTarget, icmpMessage(8, 7, 9, {})), false},
        {"truncated", Bytes(reply.begin(), reply.end() - 1), false},
        {"ICMP under 8 bytes", ipPacket(kTarget, kLocal, Bytes(7)), false},
        {"IP under 20 bytes", Bytes(reply.begin(), reply.begin() + 19), false},
        {"IHL 4", edit(reply, 0, 0x44), false},
        {"IHL past the end", edit(reply, 0, 0x4f), false},
        {"IPv6", edit(reply, 0, 0x65), false},
        {"UDP", edit(reply, 9, IPPROTO_UDP), false},
        {"bad checksum", edit(reply, 29, 'j'), false},
        {"error", errorPacket(11, 0), true},
        {"error, other id", errorPacket(11, 0, {.id = 8}), false},
        {"error, other sequence", errorPacket(11, 0, {.seq = 8}), false},
        {"error, other destination", errorPacket(3, 1, {.dst = kRouter}), false},
        {"error quoting UDP", errorPacket(3, 1, {.protocol = IPPROTO_UDP}), false},
        {"error quoting a reply", errorPacket(3, 1, {.type = 0}), false},
        {"error quoting 7 ICMP bytes", errorPacket(3, 1, {.icmpBytes = 7}), false},
        {"error, bad checksum", edit(errorPacket(3, 1), 24, 1), false},
        {"redirect", errorPacket(5, 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(icmp::answers(icmp::parseRawPacket(c.packet), {7, 9, kTarget, false}), c.answers);
    }
}

TEST(IcmpPacket, ErrorStatusTable) {
    const struct {
        uint8_t type;
        uint8_t code;
        int32_t status;  // 0: not an answer, keep waiting
    } rows[] = {
        {3, 0, 11002},  {3, 1, 11003},  {3, 2, 11004},  {3, 3, 11005},  {3, 4, 11009},
        {3, 5, 11012},  {3, 6, 11002},  {3, 7, 11003},  {3, 8, 11003},  {3, 9, 11002},
        {3, 10, 11003}, {3, 11, 11002}, {3, 12, 11003}, {3, 13, 11003}, {3, 14, 11003},
        {3, 15, 11003}, {3, 99, 11003}, {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015},
        {12, 2, 11015}, {4, 0, 11016},  {5, 0, 0},      {5, 1, 0},      {0, 0, 0},
        {8, 0, 0},      {13, 0, 0},     {11, 2, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << +row.type << " code " << +row.code);
        EXPECT_EQ(icmp::errorStatus(row.type, row.code).value_or(0), row.status);
        const icmp::Message m = icmp::parseRawPacket(errorPacket(row.type, row.code));
        const auto* error = std::get_if<icmp::Error>(&m);
        EXPECT_EQ(error != nullptr ? error->status : 0, row.status);
    }
}

void appendControl(Bytes& control, int type, const void* data, std::size_t size) {
    const std::size_t at = control.size();
    control.resize(at + CMSG_SPACE(size));
    const cmsghdr header{CMSG_LEN(size), IPPROTO_IP, type};
    std::memcpy(&control[at], &header, sizeof header);
    std::memcpy(&control[at + CMSG_LEN(0)], data, size);
}

Bytes errorControl(uint8_t origin, uint8_t type, uint8_t code) {
    struct {
        sock_extended_err record;
        sockaddr_in offender;
    } data{};
    data.record.ee_origin = origin;
    data.record.ee_type = type;
    data.record.ee_code = code;
    data.offender.sin_family = AF_INET;
    data.offender.sin_addr.s_addr = kRouter;
    const int ttl = 63;
    Bytes control;
    appendControl(control, IP_TTL, &ttl, sizeof ttl);
    appendControl(control, IP_RECVERR, &data, sizeof data);
    return control;
}

TEST(IcmpPacket, DatagramErrorQueueEntries) {
    const Bytes request = icmpMessage(8, 7, 9, {1, 2, 3});
    const Bytes unreachable = errorControl(SO_EE_ORIGIN_ICMP, 3, 1);
    const struct {
        const char* name;
        Bytes message;
        Bytes control;
        int32_t status;  // 0: nothing usable
    } cases[] = {
        {"host unreachable", request, unreachable, 11003},
        {"local error", request, errorControl(SO_EE_ORIGIN_LOCAL, 3, 1), 0},
        {"redirect", request, errorControl(SO_EE_ORIGIN_ICMP, 5, 0), 0},
        {"no record", request, {}, 0},
        {"cmsg_len past the end", request, edit(unreachable, 1, 1), 0},
        {"7 quoted bytes", Bytes(request.begin(), request.begin() + 7), unreachable, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = icmp::parseDatagramError(c.message, kTarget, c.control);
        EXPECT_EQ(error ? error->status : 0, c.status);
        if (error) {
            EXPECT_EQ(error->sender, kRouter);
            EXPECT_EQ(error->ttl, 63);
            EXPECT_TRUE(icmp::answers(*error, {0, 9, kTarget, true}));
        }
    }
}

// ---- Real sockets, in network namespaces made for each test.

// Sockets of the calling thread's namespace in /proc/net/<table> (icmp: datagram ones).
int socketsIn(const std::string& table) {
    std::ifstream file("/proc/thread-self/net/" + table);
    int lines = -1;  // the heading
    for (std::string line; std::getline(file, line);) {
        ++lines;
    }
    return lines;
}

// Host 10.1.0.1 -- veth -- router 10.1.0.2, which forwards, answers 10.9.9.9
// with host unreachable and ignores echoes itself. Unreachables from routes
// pass a kernel-wide limiter (5, then 1/s) that rate-limited ICMP types drain:
// hence icmp_ratemask 0, and a new topology for each test.
class IcmpInNamespace : public testing::Test {
protected:
    void SetUp() override {
        if (!ready) {
            GTEST_SKIP() << "needs root and iproute2 to build private network namespaces";
        }
        inHost.emplace(host);
    }
    ~IcmpInNamespace() override {
        close(host);
        close(router);
    }

    const int host = newNetns();
    const int router = newNetns();
    const bool ready =
        host >= 0 && router >= 0 &&
        shellIn(host,
                "ip link set lo up; echo 0 2147483647 >/proc/sys/net/ipv4/ping_group_range\n"
                "ip link add a0 type veth peer name b0 netns " +
                    netnsPath(router) +
                    "\nip addr add 10.1.0.1/24 dev a0; ip link set a0 up\n"
                    "ip route add default via 10.1.0.2; ip route add unreachable 10.9.9.99") &&
        shellIn(router,
                "ip link set lo up; ip addr add 10.1.0.2/24 dev b0; ip link set b0 up\n"
                "cd /proc/sys/net/ipv4; echo 1 >ip_forward; echo 0 >icmp_ratemask\n"
                "echo 1 >icmp_echo_ignore_all; ip route add unreachable 10.9.9.9\n"
                "ip route add 10.9.9.8 via 10.1.0.1");
    std::optional<InNetns> inHost;
};

struct Echo {
    uint32_t result = 0;
    EchoReply reply;
    int elapsedMs = 0;
    Bytes payload() const { return Bytes(reply.Payload, reply.Payload + reply.DataSize); }
};

Echo send(LinuxIcmpHelper& helper, IcmpHelper::Handle h, uint32_t to, const Bytes& payload,
          uint32_t timeoutMs, const EchoOptions* options = nullptr) {
    Echo echo;
    const auto start = Clock::now();
    // The smallest buffer allowed: a longer reply must not be taken.
    echo.result =
        helper.IcmpSendEcho(h, to, payload.data(), uint16_t(payload.size()), options, &echo.reply,
                            uint32_t(kEchoReplyHeaderSize + payload.size()), timeoutMs);
    echo.elapsedMs = int((Clock::now() - start) / std::chrono::milliseconds(1));
    return echo;
}

Bytes pattern(std::size_t size, uint8_t first) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);  // wraps at 256
    return bytes;
}

struct Setup {
    const char* name;
    Kind kind;
    bool shared;  // raw handles on the caller's socket
};

void PrintTo(const Setup& setup, std::ostream* out) {  // also names the instances
    *out << setup.name;
}

class LiveEcho : public IcmpInNamespace, public testing::WithParamInterface<Setup> {
protected:
    void SetUp() override {
        IcmpInNamespace::SetUp();
        if (!IsSkipped()) {
            helper = makeHelper(GetParam().kind, GetParam().shared);
            h = helper->IcmpCreateFile();
            ASSERT_NE(h, IcmpHelper::kInvalidHandle) << strerror(helper->lastOpenError());
        }
    }

    std::unique_ptr<LinuxIcmpHelper> helper;
    IcmpHelper::Handle h = IcmpHelper::kInvalidHandle;
};

// One after the other on one handle: nothing an echo leaves behind, such as an
// error after its time-out, spoils the next. A fresh namespace's default TTL
// is 64, the router's too.
TEST_P(LiveEcho, RepliesErrorsFailuresAndTimeouts) {
    const struct {
        const char* name;
        uint32_t to;
        std::size_t size;
        uint8_t ttl;  // 0: the default
        uint32_t timeoutMs;
        int32_t status;  // -1: no reply
        uint32_t from;
        int minMs, maxMs;
    } rows[] = {
        {"empty", kLoopback, 0, 0, 2000, IpStatus::Success, kLoopback, 0, 2000},
        {"32 bytes", kLoopback, 32, 0, 2000, IpStatus::Success, kLoopback, 0, 2000},
        {"1472 bytes", kLoopback, 1472, 0, 2000, IpStatus::Success, kLoopback, 0, 2000},
        {"32767 bytes", kLoopback, 32767, 0, 2000, IpStatus::Success, kLoopback, 0, 2000},
        {"TTL expired", inet_addr("10.9.9.8"), 16, 1, 2000, 11013, kRouter, 0, 2000},
        {"no time for the error", kTarget, 16, 0, 0, -1, 0, 0, 100},
        {"host unreachable", kTarget, 16, 0, 2000, 11003, kRouter, 0, 2000},
        {"local route unreachable, no wait", inet_addr("10.9.9.99"), 16, 0, 3000, -1, 0, 0, 1500},
        {"timeout", kRouter, 16, 0, 200, -1, 0, 200, 1200},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // late answers come between
        const EchoOptions options{row.ttl};
        const Bytes payload = pattern(row.size, uint8_t(row.size));
        const Echo echo = send(*helper, h, row.to, payload, row.timeoutMs, &options);
        EXPECT_GE(echo.elapsedMs, row.minMs);
        EXPECT_LT(echo.elapsedMs, row.maxMs);
        ASSERT_EQ(echo.result, row.status < 0 ? 0u : 1u);
        if (echo.result == 1) {
            EXPECT_EQ(echo.reply.Status, row.status);
            EXPECT_EQ(std::memcmp(echo.reply.Address, &row.from, 4), 0);
            EXPECT_EQ(echo.payload(), row.status == IpStatus::Success ? payload : Bytes{});
            EXPECT_EQ(echo.reply.Options.Ttl, 64);
            EXPECT_LE(echo.reply.RoundTripTime, echo.elapsedMs);
        }
    }
    EchoReply reply;
    EXPECT_EQ(helper->IcmpSendEcho(h, kLoopback, &reply, 8, nullptr, &reply,
                                   kEchoReplyHeaderSize + 7, 1000),
              0u)
        << "a buffer too small for the request's echo";
    EXPECT_TRUE(helper->IcmpCloseHandle(h));
    EXPECT_FALSE(helper->IcmpCloseHandle(h));
    EXPECT_EQ(send(*helper, h, kLoopback, {}, 1000).result, 0u);
}

TEST_P(LiveEcho, CallsItsWaitingHookOnceWhenNoAnswerComesWithinAFrame) {
    int calls = 0;
    helper->setWhileWaiting([&] { ++calls; });
    EXPECT_EQ(send(*helper, h, kRouter, {}, 0).result, 0u);  // no time left to wait
    EXPECT_EQ(calls, 0);
    const Echo silent = send(*helper, h, kRouter, {}, 100);
    EXPECT_EQ(silent.result, 0u);
    EXPECT_GE(silent.elapsedMs, 100);
    EXPECT_EQ(calls, 1);
}

Bytes answer(Bytes m, uint16_t idDelta = 0, bool corrupt = false, bool breakChecksum = false) {
    const uint16_t id = uint16_t((m[4] << 8 | m[5]) + idDelta);
    m[0] = m[2] = m[3] = 0;
    m[4] = uint8_t(id >> 8);
    m[5] = uint8_t(id);
    m.back() ^= corrupt ? 0x55 : 0;
    const uint16_t sum = uint16_t(icmp::checksum(m) ^ (breakChecksum ? 1 : 0));
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m;
}

// Answers echoes to the router, late and with forgeries first: the first
// request after the second came, one with another id, two with a changed
// payload (one too long for a buffer that fits the request), junk. Returns
// the TTL of each request.
std::vector<int> answerBadly(int ns, std::promise<void>& ready) {
    InNetns in(ns);
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const timeval patience{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ready.set_value();
    std::vector<int> ttls;
    std::vector<Bytes> requests;
    uint8_t buffer[2048];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    for (int i = 0; i < 10 && requests.size() < 2; ++i) {
        const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, (sockaddr*)&from, &length);
        if (n >= 28 && buffer[20] == 8) {
            ttls.push_back(buffer[8]);
            requests.emplace_back(buffer + 20, buffer + n);
        }
    }
    if (requests.size() == 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a visible round trip
        Bytes longer = requests[1];
        longer.push_back(0);
        for (const Bytes& m :
             {answer(requests[0]), answer(requests[1], 1, true), answer(requests[1], 0, true, true),
              answer(longer), Bytes{0, 0}, answer(requests[1])}) {
            sendto(fd, m.data(), m.size(), 0, (sockaddr*)&from, sizeof from);
        }
    }
    close(fd);
    return ttls;
}

TEST_P(LiveEcho, LateAndForgedRepliesAreNotTaken) {
    std::promise<void> listening;
    auto ttls = std::async(std::launch::async, answerBadly, router, std::ref(listening));
    listening.get_future().wait();
    const EchoOptions ttlFive{5};
    EXPECT_EQ(send(*helper, h, kRouter, pattern(100, 1), 100, &ttlFive).result, 0u);
    if (GetParam().shared) {
        // Same sequence on the same socket: only the identifier tells the late
        // reply apart. Closing the first handle must leave the socket open.
        EXPECT_TRUE(helper->IcmpCloseHandle(std::exchange(h, helper->IcmpCreateFile())));
        EXPECT_EQ(socketsIn("raw"), 1);
    }
    const Echo echo = send(*helper, h, kRouter, pattern(100, 2), 2000);
    EXPECT_EQ(ttls.get(), (std::vector<int>{5, 64})) << "without options the default TTL again";
    ASSERT_EQ(echo.result, 1u);
    EXPECT_EQ(echo.payload(), pattern(100, 2));
    EXPECT_GE(echo.reply.RoundTripTime, 50);
    EXPECT_LE(echo.reply.RoundTripTime, echo.elapsedMs);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LiveEcho,
                         testing::Values(Setup{"Raw", Kind::RawOnly, false},
                                         Setup{"Datagram", Kind::DatagramOnly, false},
                                         Setup{"SharedRaw", Kind::RawOnly, true}),
                         testing::PrintToStringParamName());

// main()'s setup: datagram sockets while ping_group_range allows them, then
// the raw socket handed over.
TEST_F(IcmpInNamespace, AutoPrefersDatagramThenSharesTheRawSocket) {
    const auto helper = makeHelper(Kind::Auto, true);
    LinuxIcmpHelper datagramOnly(Kind::DatagramOnly);
    const auto datagram = helper->IcmpCreateFile();
    ASSERT_TRUE(shellIn(host, "echo 1 0 >/proc/sys/net/ipv4/ping_group_range"));
    const auto raw = helper->IcmpCreateFile();
    EXPECT_EQ(helper->lastOpenError(), 0);
    EXPECT_EQ(datagramOnly.IcmpCreateFile(), IcmpHelper::kInvalidHandle);
    EXPECT_EQ(datagramOnly.lastOpenError(), EACCES);
    for (const auto h : {datagram, raw}) {
        EXPECT_EQ(send(*helper, h, kLoopback, pattern(8, 0), 1000).result, 1u);
    }
    EXPECT_EQ(socketsIn("icmp"), 1);  // datagram sockets show once bound by their first send
    EXPECT_EQ(socketsIn("raw"), 1);
}

// Its IP header would be ours to write: requests would go out malformed.
TEST_F(IcmpInNamespace, TakesNoSocketButRawIcmpWithoutHeaderIncluded) {
    const int one = 1;
    const int headerIncluded = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    setsockopt(headerIncluded, IPPROTO_IP, IP_HDRINCL, &one, sizeof one);
    for (const int fd : {headerIncluded, socket(AF_INET, SOCK_RAW, IPPROTO_UDP),
                         socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP)}) {
        EXPECT_EQ(LinuxIcmpHelper(Kind::RawOnly, fd).lastOpenError(), EPROTOTYPE);
        close(fd);
    }
}

}  // namespace
