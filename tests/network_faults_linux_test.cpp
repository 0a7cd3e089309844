// Real ICMP in a network of our own, built for each test:
//   client 198.18.1.1 -- 198.18.1.2 router 198.18.2.1 -- 198.18.2.2 target (default TTL 100)
// The target has a second address, 198.18.2.3.
// The router has no default route (198.18.4.0/24: net unreachable), an unreachable
// route to 198.18.3.0/24, a blackhole for 198.18.6.0/24, and sends 198.18.5.0/24 to the target,
// whose default route sends it back. No ICMP type is rate-limited
// (icmp_ratemask 0); route errors still pass the router's own limiter (5,
// then 1/s): no test may need more.
// IPv6 the same way, 2001:db8:N::/64 for 198.18.N.0/24 with the hosts ::1
// and ::2 (the target's hop limit 100); but 2001:db8:7::/64 is on a link of
// the router's where no neighbour answers, whose addresses it gives up on at
// once. The link-local addresses are fe80::1 and ::2 (the router's on the
// client's link), and no address waits for duplicate detection (nodad): an
// interface without a link-local one cannot ask for its neighbours.

#include "netns.h"
#include "platform/icmp/icmp_packet_linux.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <future>
#include <optional>

// Names the instances on either socket kind. ADL finds it here, by the kind's namespace.
static void PrintTo(LinuxIcmpHelper::SocketKind kind, std::ostream* out) {
    *out << (kind == LinuxIcmpHelper::SocketKind::HelperOnly ? "Helper" : "Datagram");
}

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = LinuxIcmpHelper::SocketKind;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const uint32_t kClient = inet_addr("198.18.1.1");
const uint32_t kRouter = inet_addr("198.18.1.2");
const uint32_t kTarget = inet_addr("198.18.2.2");
const uint32_t kLoopback = inet_addr("127.0.0.1");

int msSince(Clock::time_point start) {
    return int((Clock::now() - start) / milliseconds(1));
}

Bytes icmpMessage(uint8_t type, uint16_t id, uint16_t seq, const Bytes& body, uint8_t code = 0) {
    Bytes m{type, code, 0, 0, uint8_t(id >> 8), uint8_t(id), uint8_t(seq >> 8), uint8_t(seq)};
    m.insert(m.end(), body.begin(), body.end());
    const uint16_t sum = icmp::checksum(m);
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m;
}

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
    uint16_t id = 7, seq = 9;
    uint32_t dst = kTarget;
    uint8_t protocol = IPPROTO_ICMP, type = 8;
    std::size_t icmpBytes = 8;
};

// From the router, quoting a request's IP header and first ICMP bytes.
Bytes errorPacket(uint8_t type, uint8_t code, const Quote& q = {}) {
    Bytes quoted = ipPacket(kClient, q.dst, icmpMessage(q.type, q.id, q.seq, {}), q.protocol);
    quoted.resize(20 + q.icmpBytes);
    return ipPacket(kRouter, kClient, icmpMessage(type, 0, 0, quoted, code));
}

Bytes edit(Bytes bytes, std::size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

// Bad checksums are dropped: raw sockets get packets before the kernel checks.
// Replies keep spans into their packet, which no row reads.
TEST(IcmpPacket, RawPacketsAnswerOnlyTheirEcho) {
    const auto raw = [](const Bytes& packet) { return icmp::parseRawPacket(packet); };
    const icmp::EchoKey key{7, 9, kTarget, false};
    const Bytes reply = ipPacket(kTarget, kClient, icmpMessage(0, 7, 9, {'h', 'i'}));
    // ICMPv6 as a raw socket reads it, the message alone, from 2001:db8::1 or ::2.
    const auto six = [](uint8_t last) {
        return icmp::Address6{0x20, 1, 0xd, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
    };
    const icmp::EchoKey key6{7, 9, six(2), false};
    const auto reply6 = [&](uint16_t id, uint16_t seq, uint8_t from = 2) {
        return icmp::parseRawPacket6(icmpMessage(129, id, seq, {}), six(from), {});
    };
    // From the router, quoting the request's IPv6 header (and, as an echo
    // larger than the MTU, its fragment header) and `bytes` of all.
    const auto error6 = [&](uint8_t type, uint8_t code, uint8_t to = 2, uint8_t next = 58,
                            uint8_t quoted = 128, std::size_t bytes = 48) {
        Bytes quote{0x60, 0, 0, 0, 0, 8, next, 64};
        quote.resize(24);
        const icmp::Address6 dst = six(to);
        quote.insert(quote.end(), dst.begin(), dst.end());
        if (next == IPPROTO_FRAGMENT) {
            quote.insert(quote.end(), {58, 0, 0, 1, 0, 0, 0, 7});
        }
        const Bytes echo = icmpMessage(quoted, 7, 9, {});
        quote.insert(quote.end(), echo.begin(), echo.end());
        quote.resize(bytes);
        return icmp::parseRawPacket6(icmpMessage(type, 0, 0, quote, code), six(1), {});
    };
    const std::tuple<const char*, icmp::Message, icmp::EchoKey, bool> cases[] = {
        {"reply", raw(reply), key, true},
        {"reply from another address", raw(ipPacket(kRouter, kClient, icmpMessage(0, 7, 9, {}))),
         key, false},
        {"other id", raw(ipPacket(kTarget, kClient, icmpMessage(0, 8, 9, {}))), key, false},
        {"other sequence", raw(ipPacket(kTarget, kClient, icmpMessage(0, 7, 8, {}))), key, false},
        {"own request", raw(ipPacket(kClient, kTarget, icmpMessage(8, 7, 9, {}))), key, false},
        {"ICMP under 8 bytes", raw(ipPacket(kTarget, kClient, Bytes(7))), key, false},
        {"bad checksum", raw(edit(reply, 29, 'j')), key, false},
        {"error, other id", raw(errorPacket(11, 0, {.id = 8})), key, false},
        {"error, other sequence", raw(errorPacket(11, 0, {.seq = 8})), key, false},
        {"error, other destination", raw(errorPacket(3, 1, {.dst = kRouter})), key, false},
        {"error quoting UDP", raw(errorPacket(3, 1, {.protocol = IPPROTO_UDP})), key, false},
        {"error quoting a reply", raw(errorPacket(3, 1, {.type = 0})), key, false},
        {"error quoting 7 ICMP bytes", raw(errorPacket(3, 1, {.icmpBytes = 7})), key, false},
        {"error, bad checksum", raw(edit(errorPacket(3, 1), 24, 1)), key, false},
        {"to 0.0.0.0, which the kernel sends to 127.0.0.1",
         raw(ipPacket(kLoopback, kLoopback, icmpMessage(0, 7, 9, {}))),
         {7, 9, INADDR_ANY},
         true},
        {"IPv6 reply", reply6(7, 9), key6, true},
        {"IPv6 reply from another address", reply6(7, 9, 1), key6, false},
        {"IPv6 reply, other id", reply6(8, 9), key6, false},
        {"IPv6 reply, other sequence", reply6(7, 8), key6, false},
        {"IPv6 under 8 bytes", icmp::parseRawPacket6(Bytes{129, 0, 0, 0, 0, 7, 0}, six(2), {}),
         key6, false},
        {"IPv6 error, other destination", error6(1, 3, 3), key6, false},
        {"IPv6 error quoting UDP", error6(1, 3, 2, IPPROTO_UDP), key6, false},
        {"IPv6 error quoting a reply", error6(1, 3, 2, 58, 129), key6, false},
        {"IPv6 error quoting 7 ICMPv6 bytes", error6(1, 3, 2, 58, 128, 47), key6, false},
        {"IPv6 error about a first fragment", error6(1, 3, 2, IPPROTO_FRAGMENT, 128, 56), key6,
         true},
        {"the same, 7 ICMPv6 bytes", error6(1, 3, 2, IPPROTO_FRAGMENT, 128, 55), key6, false},
    };
    for (const auto& [name, message, to, answers] : cases) {
        EXPECT_EQ(icmp::answers(message, to), answers) << name;
    }
    // Errors of other types or codes are no answer: the wait goes on.
    using Kinds = std::initializer_list<std::pair<uint8_t, uint8_t>>;
    for (const auto& [type, code] : Kinds{{5, 1}, {0, 0}, {8, 0}, {11, 2}}) {
        EXPECT_FALSE(icmp::answers(raw(errorPacket(type, code)), key)) << +type << '/' << +code;
    }
    for (const auto& [type, code] : Kinds{{3, 2}, {137, 0}, {129, 0}, {128, 0}}) {
        EXPECT_FALSE(icmp::answers(error6(type, code), key6)) << +type << '/' << +code;
    }
}

// A datagram reply's TTL from its ancillary data, where the kernel gives 1 to 255.
TEST(IcmpPacket, DatagramRepliesTakeTheirTtlFrom1To255Only) {
    for (const auto& [value, ttl] : {std::pair(255, 255), {1, 1}, {0, 0}, {256, 0}, {-1, 0}}) {
        alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))] = {};
        auto* header = reinterpret_cast<cmsghdr*>(control);
        *header = {CMSG_LEN(sizeof(int)), IPPROTO_IP, IP_TTL};
        std::memcpy(CMSG_DATA(header), &value, sizeof value);
        const Bytes message = icmpMessage(0, 7, 9, {});
        const auto reply = icmp::parseDatagramReply(message, kTarget, control);
        EXPECT_EQ(reply ? reply->ttl : -1, ttl) << value;
    }
}

// ---- Real sockets.

class Network : public testing::Test {
protected:
    void SetUp() override {
        // `up DEVICE ADDRESS...`: the link up with its addresses, the IPv6 ones not waiting
        // for duplicate detection. Router and target forward, and send errors without limit.
        const std::string up =
            "up() { d=$1; shift; ip link set $d up; for a; do case $a in *:*) n=nodad;; *) n=;;\n"
            "esac; ip addr add $a dev $d $n; done; }; up lo\n";
        const std::string forwarding =
            up +
            "cd /proc/sys/net/ipv4; echo 1 >ip_forward; echo 0 >icmp_ratemask\n"
            "cd ../ipv6; echo 1 >conf/all/forwarding; echo 0 >icmp/ratelimit\n";
        const bool built =
            client.shell(
                up +
                "echo 0 2147483647 >/proc/sys/net/ipv4/ping_group_range\n"
                "ip link add c0 type veth peer name r0 netns " +
                router.path() +
                "\nup c0 198.18.1.1/24 2001:db8:1::1/64 fe80::1/64\n"
                "ip route add default via 198.18.1.2; ip route add default via 2001:db8:1::2") &&
            router.shell(
                forwarding +
                "up r0 198.18.1.2/24 2001:db8:1::2/64 fe80::2/64\n"
                "ip link add r1 type veth peer name t0 netns " +
                target.path() +
                "\nup r1 198.18.2.1/24 2001:db8:2::1/64 fe80::1/64\n"
                "ip link add r2 type veth peer name r3; up r3; up r2 2001:db8:7::1/64 fe80::1/64\n"
                "echo 1 >neigh/r2/mcast_solicit; echo 10 >neigh/r2/retrans_time_ms\n"
                "ip route add unreachable 198.18.3.0/24; ip route add blackhole 198.18.6.0/24\n"
                "ip route add 198.18.5.0/24 via 198.18.2.2\n"
                "ip route add blackhole 2001:db8:6::/64\n"
                "ip route add 2001:db8:5::/64 via 2001:db8:2::2") &&
            target.shell(
                forwarding +
                "up lo 198.18.3.1/32\n"
                "up t0 198.18.2.2/24 198.18.2.3/24 2001:db8:2::2/64 fe80::2/64\n"
                "ip route add default via 198.18.2.1; ip route add default via 2001:db8:2::1\n"
                "echo 100 >conf/t0/hop_limit; echo 100 >../ipv4/ip_default_ttl");
        if (!built) {
            GTEST_SKIP() << "no network of our own: needs root, iproute2 and veth links";
        }
        inClient.emplace(client);
    }

    Netns client, router, target;
    std::optional<InNetns> inClient;
};

const auto kKinds = testing::Values(Kind::DatagramOnly, Kind::HelperOnly);

// Sockets of the calling thread's namespace in /proc/net/<table> (icmp: datagram ones).
int socketsIn(const std::string& table) {
    std::ifstream file("/proc/thread-self/net/" + table);
    return int(std::count(std::istreambuf_iterator<char>(file), {}, '\n')) - 1;  // the heading
}

// What an echo got, over either protocol.
struct Echo {
    uint32_t result = 0;
    int32_t status = 0;
    std::string from;
    Bytes payload;
    int ttl = 0, rtt = 0, elapsedMs = 0;  // ttl: or hop limit
    auto seen() const { return std::tuple(result, status, from, ttl, payload); }
};

// To an IPv4 address, or an IPv6 one with its zone after '%', into the
// smallest buffer allowed: a longer reply must not be taken.
Echo send(LinuxIcmpHelper& helper, IcmpHelper::Handle h, const std::string& to, const Bytes& data,
          uint32_t timeoutMs, uint8_t ttl = 0) {
    const EchoOptions options{ttl};
    const EchoOptions* set = ttl == 0 ? nullptr : &options;
    const auto size = uint16_t(data.size());
    const auto start = Clock::now();
    const auto got = [&](uint32_t result, const auto& r, int family, int replyTtl) {
        char text[INET6_ADDRSTRLEN] = {};
        return Echo(result, r.Status, inet_ntop(family, r.Address, text, sizeof text),
                    Bytes(r.Payload, r.Payload + r.DataSize), replyTtl, r.RoundTripTime,
                    msSince(start));
    };
    if (to.find(':') == std::string::npos) {
        EchoReply r;
        r.Reserved = r.Options.Tos = 0xAB;  // what a reply does not carry reads 0
        const uint32_t result =
            helper.IcmpSendEcho(h, inet_addr(to.c_str()), data.data(), size, set, &r,
                                kEchoReplyHeaderSize + size, timeoutMs);
        if (result == 1) {
            EXPECT_EQ(r.Reserved + r.Options.Tos, 0);
        }
        return got(result, r, AF_INET, r.Options.Ttl);
    }
    const std::string address = to.substr(0, to.find('%'));
    Ipv6AddressEx where;
    inet_pton(AF_INET6, address.c_str(), where.sin6_addr);
    where.sin6_scope_id = if_nametoindex(to.c_str() + std::min(address.size() + 1, to.size()));
    EchoReply6 r;
    const uint32_t result = helper.Icmp6SendEcho2(h, &where, data.data(), size, set, &r,
                                                  kEchoReply6HeaderSize + size, timeoutMs);
    return got(result, r, AF_INET6, r.HopLimit);
}

// Answers the client's echoes in place of the target's kernel, told to keep
// quiet, `delay` late. Forges for each request a reply from the target's
// other address, an unreachable from the target about the echo sent
// elsewhere, and the previous request's reply (late); then sends the reply
// with one byte less, and the whole reply. All but the short reply leave with
// TTL 50, so any taken shows. Gives the TTL each request came with; ends
// after `requests` or 3 s of quiet.
std::future<std::vector<int>> standIn(const Netns& target, int requests, milliseconds delay) {
    EXPECT_TRUE(target.shell("echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all"));
    const InNetns in(target);
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int other = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const sockaddr_in otherAddress{AF_INET, 0, {inet_addr("198.18.2.3")}, {}};
    bind(other, (const sockaddr*)&otherAddress, sizeof otherAddress);
    const timeval patience{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return std::async(std::launch::async, [=] {
        const sockaddr_in client{AF_INET, 0, {kClient}, {}};
        std::vector<int> ttls;
        Bytes late;
        uint8_t buffer[2048];
        for (int reads = 0; int(ttls.size()) < requests && reads < 4 * requests; ++reads) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                break;
            }
            if (n < 28 || buffer[20] != icmp::kEchoRequest) {
                continue;
            }
            ttls.push_back(buffer[8]);
            const uint16_t id = uint16_t(buffer[24] << 8 | buffer[25]);
            const uint16_t seq = uint16_t(buffer[26] << 8 | buffer[27]);
            const Bytes reply = icmpMessage(0, id, seq, Bytes(buffer + 28, buffer + n));
            const Bytes elsewhere =
                ipPacket(kClient, inet_addr("198.18.3.1"), Bytes(buffer + 20, buffer + 28));
            const std::tuple<int, Bytes, int> all[] = {
                {other, reply, 50},
                {fd, icmpMessage(3, 0, 0, elsewhere, 1), 50},
                {fd, late, 50},
                {fd, icmpMessage(0, id, seq, Bytes(buffer + 28, buffer + n - 1)), 100},
                {fd, reply, 50},
            };
            std::this_thread::sleep_for(delay);
            for (const auto& [out, m, ttl] : all) {
                if (!m.empty()) {
                    setsockopt(out, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
                    sendto(out, m.data(), m.size(), 0, (const sockaddr*)&client, sizeof client);
                }
            }
            late = reply;
        }
        close(other);
        close(fd);
        return ttls;
    });
}

class LiveEcho : public Network, public testing::WithParamInterface<Kind> {
protected:
    void SetUp() override {
        Network::SetUp();
        if (!IsSkipped()) {
            h = helper.IcmpCreateFile();
            ASSERT_NE(h, IcmpHelper::kInvalidHandle) << utf8(helper.openFailure().reason);
        }
    }

    LinuxIcmpHelper helper{GetParam()};
    IcmpHelper::Handle h = IcmpHelper::kInvalidHandle;
};

// An error that comes after its echo's time-out is no answer to the next
// echo, which it reaches during the wait: only the sequence tells them apart.
TEST_P(LiveEcho, EchoesTheLargestPayloadAfterAnErrorLeftBehind) {
    const Bytes payload(32767, ' ');
    EXPECT_EQ(send(helper, h, "198.18.2.2", payload, 0, 1).result, 0u);
    const Echo echo = send(helper, h, "198.18.2.2", payload, 2000);
    EXPECT_EQ(echo.seen(), std::tuple(1u, IpStatus::Success, "198.18.2.2", 99, payload));
    EchoReply reply;
    EXPECT_EQ(helper.IcmpSendEcho(h, kLoopback, &reply, 8, nullptr, &reply,
                                  kEchoReplyHeaderSize + 7, 1000),
              0u)
        << "a buffer too small for the request's echo";
    // The helper sends blanks of its own, nothing else.
    EXPECT_EQ(send(helper, h, "127.0.0.1", {'x'}, 1000).result,
              GetParam() == Kind::HelperOnly ? 0u : 1u);
    // IPv6: the largest payload, and with a hop limit of 1 the router's error
    // about its first fragment.
    const Echo echo6 = send(helper, h, "2001:db8:2::2", payload, 2000);
    EXPECT_EQ(echo6.seen(), std::tuple(1u, IpStatus::Success, "2001:db8:2::2", 99, payload));
    const Echo expired = send(helper, h, "2001:db8:2::2", payload, 2000, 1);
    EXPECT_EQ(std::tuple(expired.result, expired.status, expired.from),
              std::tuple(1u, IpStatus::HopLimitExceeded, "2001:db8:1::2"));
    // A link-local address is looked for on the link its zone names only.
    EXPECT_EQ(send(helper, h, "fe80::2%lo", {}, 300).result, 0u);
    EXPECT_EQ(helper.Icmp6SendEcho2(h, nullptr, nullptr, 0, nullptr, &reply, sizeof reply, 1000),
              0u);
    // No echo to a group, nor to :: or an IPv4-mapped address: not sent, no
    // wait, the same helper.
    const auto helpers = childrenOf(getpid());
    for (const char* group :
         {"255.255.255.255", "224.0.0.1", "ff02::1", "::", "::ffff:198.18.2.2"}) {
        const Echo none = send(helper, h, group, {}, 1000);
        EXPECT_EQ(none.result, 0u);
        EXPECT_LT(none.elapsedMs, 500);
    }
    EXPECT_EQ(childrenOf(getpid()), helpers);
    EXPECT_TRUE(helper.IcmpCloseHandle(h));
    EXPECT_FALSE(helper.IcmpCloseHandle(h));
    EXPECT_EQ(send(helper, h, "127.0.0.1", {}, 1000).result, 0u);
}

// The i-th call no sooner than the i-th frame after the send; a busy machine
// may skip some.
TEST_P(LiveEcho, CallsItsWaitingHookEveryFrameUntilTheDeadline) {
    std::vector<int> calls;
    auto start = Clock::now();
    helper.setWhileWaiting([&] { calls.push_back(msSince(start)); });
    EXPECT_EQ(send(helper, h, "198.18.6.1", {}, 0).result, 0u);  // no time left to wait
    EXPECT_TRUE(calls.empty());
    start = Clock::now();
    const Echo silent = send(helper, h, "198.18.6.1", {}, 200);
    EXPECT_EQ(silent.result, 0u);
    EXPECT_GE(silent.elapsedMs, 200);
    ASSERT_GE(calls.size(), 6u);
    EXPECT_LE(calls.size(), 12u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_GE(calls[i], 16 * int(i + 1));
    }
    EXPECT_LE(calls.back(), 200);
}

// The same payload twice: only the sequence tells the late reply apart.
TEST_P(LiveEcho, TakesItsReplyFromTheTargetOnlyWhateverItsData) {
    auto ttls = standIn(target, 2, milliseconds(50));
    const Echo first = send(helper, h, "198.18.2.2", Bytes(100, ' '), 2000, 5);
    const Echo second = send(helper, h, "198.18.2.2", Bytes(100, ' '), 2000);
    // As they reach the target, one hop on; without options the default TTL again.
    EXPECT_EQ(ttls.get(), (std::vector<int>{4, 63}));
    for (const Echo& echo : {first, second}) {
        EXPECT_EQ(echo.seen(), std::tuple(1u, IpStatus::Success, "198.18.2.2", 99, Bytes(99, ' ')));
        EXPECT_GE(echo.rtt, 50);
        EXPECT_LE(echo.rtt, echo.elapsedMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, LiveEcho, kKinds, testing::PrintToStringParamName());

// Datagram sockets while ping_group_range allows them, then one helper for
// every handle, started at the first that needs it, again after it ended, and
// ended with the layer; the raw socket is the helper's alone.
// While a handle uses the helper, the caller and the helper share one
// processor; after it, the caller's own choice is back.
TEST_F(Network, AutoPrefersDatagramThenOneHelper) {
    const auto processors = [](pid_t pid) {
        cpu_set_t set;
        CPU_ZERO(&set);
        sched_getaffinity(pid, sizeof set, &set);
        return set;
    };
    const cpu_set_t own = processors(0);
    // Out of descriptors: that reason, not a helper that could not start either.
    EXPECT_EXIT(
        {
            LinuxIcmpHelper helper(Kind::Auto);  // before: the sanitizers need descriptors
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = 0;
            setrlimit(RLIMIT_NOFILE, &limit);
            const bool refused = helper.IcmpCreateFile() == IcmpHelper::kInvalidHandle;
            const IcmpOpenFailure failure = helper.openFailure();
            std::_Exit(refused && failure.step == IcmpOpenFailure::Step::Socket &&
                               failure.error == EMFILE
                           ? 0
                           : 1);
        },
        testing::ExitedWithCode(0), "");
    {
        LinuxIcmpHelper helper(Kind::Auto);
        LinuxIcmpHelper datagramOnly(Kind::DatagramOnly);
        const auto datagram = helper.IcmpCreateFile();
        EXPECT_TRUE(childrenOf(getpid()).empty());
        ASSERT_TRUE(client.shell("echo 1 0 >/proc/sys/net/ipv4/ping_group_range"));
        EXPECT_EQ(datagramOnly.IcmpCreateFile(), IcmpHelper::kInvalidHandle);
        EXPECT_EQ(datagramOnly.lastOpenError(), EACCES);
        const auto viaHelper = helper.IcmpCreateFile();
        EXPECT_EQ(helper.lastOpenError(), 0);
        const auto again = helper.IcmpCreateFile();
        EXPECT_EQ(childrenOf(getpid()).size(), 1u);
        for (const auto handle : {datagram, viaHelper, again}) {
            EXPECT_EQ(send(helper, handle, "127.0.0.1", Bytes(8, ' '), 1000).result, 1u);
        }
        const cpu_set_t pinned = processors(0);
        const cpu_set_t helpers = processors(childrenOf(getpid()).at(0));
        EXPECT_EQ(CPU_COUNT(&pinned), 1);
        EXPECT_TRUE(CPU_EQUAL(&helpers, &pinned));
        EchoReply nothing;
        EXPECT_EQ(helper.IcmpSendEcho(datagram, inet_addr("127.0.0.1"), nullptr, 8, nullptr,
                                      &nothing, sizeof nothing, 100),
                  0u);                    // 8 bytes from nowhere
        EXPECT_EQ(socketsIn("icmp"), 1);  // datagram sockets show once bound by their first send
        EXPECT_EQ(socketsIn("raw"), 1);   // the helper's, none of ours
        // One that ends during a wait is no reply at once; one that stops
        // answering, a second after the time-out. The next echo has a new one.
        for (const int signal : {SIGKILL, SIGSTOP}) {
            const pid_t old = childrenOf(getpid()).at(0);
            helper.setWhileWaiting([&] { kill(old, signal); });
            const Echo lost = send(helper, viaHelper, "198.18.6.1", {}, 1000);
            EXPECT_EQ(lost.result, 0u);
            EXPECT_LT(lost.elapsedMs, signal == SIGKILL ? 400 : 2500);
            helper.setWhileWaiting(nullptr);
            EXPECT_EQ(send(helper, viaHelper, "127.0.0.1", {}, 1000).result, 1u);
            const auto now = childrenOf(getpid());
            ASSERT_EQ(now.size(), 1u);
            EXPECT_NE(now[0], old);
        }
        helper.IcmpCloseHandle(viaHelper);
        helper.IcmpCloseHandle(again);
        const cpu_set_t after = processors(0);
        EXPECT_TRUE(CPU_EQUAL(&after, &own));
        LinuxIcmpHelper ending(Kind::HelperOnly);  // ends holding a handle
        EXPECT_EQ(send(ending, ending.IcmpCreateFile(), "127.0.0.1", {}, 1000).result, 1u);
    }
    const cpu_set_t afterEnd = processors(0);
    EXPECT_TRUE(CPU_EQUAL(&afterEnd, &own));
    EXPECT_TRUE(childrenOf(getpid()).empty());
}

// ---- Whole runs in the client.

class RealRun : public Network, public testing::WithParamInterface<Kind> {};

// Each row: what the text shows, and the last counted answer's sender.
TEST_P(RealRun, shouldWriteWhatTheNetworkAnswered) {
    // A text without a character that patterns treat specially.
    const auto failed = [](const char* text) {
        return std::string(text) + "\r\n 平均速度: 0ms\\.";
    };
    const struct {
        const char* host;
        const char* count;
        std::string text;  // a pattern
        int16_t replies, statusShown;
        const char* from;
        const char* routerLater = nullptr;  // a change on the router before the second echo
    } rows[] = {
        // The target's TTL less the router's hop.
        {"198.18.2.2", "4", repliesPattern("198.18.2.2", 4, 99), 4, 0, "198.18.2.2"},
        // Host unreachable, counted; the reply after it passed over.
        {"198.18.3.1", "2", failed("Destination Host Not Reachable"), 1, 0, "198.18.1.2",
         "ip route replace 198.18.3.0/24 via 198.18.2.2"},
        // No route on the router.
        {"198.18.4.1", "1", failed("Destination Unreahable"), 1, 1, "198.18.1.2"},
        // A routing loop: time exceeded, which has no text.
        {"198.18.5.1", "1", failed(""), 1, 1, "198.18.1.2"},
        // A silent drop: a time-out after 2700 ms.
        {"198.18.6.1", "1", failed(" Request Timeout\r\n"), 0, 0, ""},
        // IPv6: this machine; the target's hop limit less the router's hop; the router's
        // link-local address, by its zone.
        {"::1", "1", repliesPattern("::1", 1, 64), 1, 0, "::1"},
        {"2001:db8:2::2", "2", repliesPattern("2001:db8:2::2", 2, 99), 2, 0, "2001:db8:2::2"},
        {"fe80::2%c0", "1", repliesPattern("fe80::2", 1, 64), 1, 0, "fe80::2"},
        // Address unreachable; no route.
        {"2001:db8:7::9", "1", failed("Destination Host Not Reachable"), 1, 1, "2001:db8:1::2"},
        {"2001:db8:4::1", "1", failed("Destination Unreahable"), 1, 1, "2001:db8:1::2"},
        // Hop limit exceeded, from the looping link.
        {"2001:db8:5::1", "1", failed(""), 1, 1, "2001:db8:2::1"},
        {"2001:db8:6::1", "1", failed(" Request Timeout\r\n"), 0, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        RealForm r(GetParam());
        Clock::time_point firstSend;
        r.ui.atYield[1] = [&] { firstSend = Clock::now(); };
        if (row.routerLater != nullptr) {
            r.ui.atYield[3] = [&] { EXPECT_TRUE(router.shell(row.routerLater)); };
        }
        const std::u16string& text = r.run(ascii(row.host), ascii(row.count));
        const int elapsedMs = msSince(firstSend);
        EXPECT_TRUE(fullMatch(row.text, text)) << utf8(text);
        EXPECT_EQ(r.form.ReplyCount, row.replies);
        EXPECT_EQ(r.form.StatusShown, row.statusShown);
        EXPECT_EQ(r.form.ReplyAddressText, ascii(row.from));
        // From the first send: a time-out after 2700 ms, within 100 ms.
        EXPECT_GE(elapsedMs, row.replies == 0 ? 2700 : 0);
        EXPECT_LT(elapsedMs, row.replies == 0 ? 2800 : 2700);
        EXPECT_TRUE(r.ui.boxes.empty());
        EXPECT_EQ(r.winsock.startCount(), 1);  // only the one the load keeps
    }
}

INSTANTIATE_TEST_SUITE_P(Sockets, RealRun, kKinds, testing::PrintToStringParamName());

}  // namespace
