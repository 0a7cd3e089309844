// Real ICMP in a network of our own, built for each test:
//   client 198.18.1.1 -- 198.18.1.2 router 198.18.2.1 -- 198.18.2.2 target (default TTL 100)
// The router has no default route (198.18.4.0/24: net unreachable), an unreachable
// route to 198.18.3.0/24, a blackhole for 198.18.6.0/24, and sends 198.18.5.0/24 to the target,
// whose default route sends it back. No ICMP type is rate-limited
// (icmp_ratemask 0); route errors still pass the router's own limiter (5,
// then 1/s): no test may need more.
// IPv6 the same way but for the blackhole, 2001:db8:N::/64 for 198.18.N.0/24
// with the hosts ::1 and ::2 (the target's hop limit 100); 2001:db8:7::/64 is
// on a link of the router's where no neighbour answers, whose addresses it
// gives up on after one try of 50 ms. The link-local addresses are fe80::1
// and ::2 (the router's on the client's link), and no address waits for
// duplicate detection (nodad): an interface without a link-local one cannot
// ask for its neighbours.

#include "netns.h"
#include "platform/blanks.h"
#include "real_form_linux.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>

// Names the instances on either socket kind. ADL finds it here, by the kind's namespace.
static void PrintTo(LinuxIcmpLibrary::SocketKind kind, std::ostream* out) {
    *out << (kind == LinuxIcmpLibrary::SocketKind::HelperOnly ? "Helper" : "Datagram");
}

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = LinuxIcmpLibrary::SocketKind;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const auto msSince = [](Clock::time_point start) { return int((Clock::now() - start) / 1ms); };

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
            "cd /proc/sys/net/ipv4; echo 1 >ip_forward; echo 0 >icmp_ratemask; cd ../ipv6\n"
            "echo 1 >conf/all/forwarding; echo 0 >icmp/ratelimit\n";
        const bool built =
            client.shell(up + "echo 0 2147483647 >/proc/sys/net/ipv4/ping_group_range\n" +
                         "ip link add c0 type veth peer name r0 netns " + router.path() +
                         "\nup c0 198.18.1.1/24 2001:db8:1::1/64 fe80::1/64; ip route add default "
                         "via 198.18.1.2; ip route add default via 2001:db8:1::2") &&
            router.shell(forwarding + "up r0 198.18.1.2/24 2001:db8:1::2/64 fe80::2/64\n" +
                         "ip link add r1 type veth peer name t0 netns " + target.path() +
                         "\nup r1 198.18.2.1/24 2001:db8:2::1/64 fe80::1/64; ip link add r2 type "
                         "veth peer name r3; up r3; up r2 2001:db8:7::1/64 fe80::1/64\n"
                         "echo 1 >neigh/r2/mcast_solicit; echo 50 >neigh/r2/retrans_time_ms\n"
                         "ip route add unreachable 198.18.3.0/24; ip route add blackhole "
                         "198.18.6.0/24; ip route add 198.18.5.0/24 via 198.18.2.2\n"
                         "ip route add 2001:db8:5::/64 via 2001:db8:2::2") &&
            target.shell(forwarding +
                         "up lo 198.18.3.1/32; up t0 198.18.2.2/24 2001:db8:2::2/64 "
                         "fe80::2/64\nip route add default via 198.18.2.1; ip route "
                         "add default via 2001:db8:2::1; echo 100 >conf/t0/hop_limit; "
                         "echo 100 >../ipv4/ip_default_ttl");
        if (!built) {
            GTEST_SKIP() << "no network of our own: needs root, iproute2 and veth links";
        }
        ASSERT_EQ(setns(client.fd, CLONE_NEWNET), 0) << strerror(errno);
    }
    // Home again before the namespaces go.
    void TearDown() override { setns(home.fd, CLONE_NEWNET); }

    Netns client, router, target;
    const Netns home{open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)};
};

// What an echo got, over either protocol.
struct Echo {
    uint32_t result = 0;
    int32_t status = 0;
    std::string from;
    Bytes payload;
    int ttl = 0, rtt = 0, elapsedMs = 0;  // ttl: or hop limit
};

// To an IPv4 address, or an IPv6 one with its zone after '%', into the
// smallest buffer allowed: a longer reply must not be taken.
Echo send(LinuxIcmpLibrary& helper, IcmpLibrary::Handle h, const std::string& to, const Bytes& data,
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
        EXPECT_TRUE(result == 0 || r.Reserved + r.Options.Tos == 0);
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

// Either socket kind, in the client.
class EitherSocket : public Network, public testing::WithParamInterface<Kind> {
protected:
    LinuxIcmpLibrary helper{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Kinds, EitherSocket, testing::Values(Kind::DatagramOnly, Kind::HelperOnly),
                         testing::PrintToStringParamName());

// An error that comes after its echo's time-out is no answer to the next
// echo, which it reaches during the wait: only the sequence tells them apart.
// The echo without options has the system's TTL again. The waiting hook is
// called at each frame of a wait, none without time to wait.
TEST_P(EitherSocket, shouldEchoTheLargestPayloadAfterAnErrorLeftBehind) {
    const auto h = helper.IcmpCreateFile();
    ASSERT_NE(h, IcmpLibrary::kInvalidHandle) << utf8(helper.openFailure().reason);
    std::vector<int> calls;
    auto start = Clock::now();
    helper.setWhileWaiting([&] { calls.push_back(msSince(start)); });
    const Bytes payload(32767, ' ');
    EXPECT_EQ(send(helper, h, "198.18.2.2", payload, 0, 1).result, 0u);
    EXPECT_TRUE(calls.empty());
    for (const std::string to : {"198.18.2.2", "2001:db8:2::2"}) {
        const Echo echo = send(helper, h, to, payload, 2000);
        EXPECT_EQ(std::tie(echo.result, echo.status, echo.from, echo.ttl),
                  std::tuple(1u, 0, to, 99));
        EXPECT_TRUE(echo.payload == payload) << "the data echoed";
    }
    // The i-th call no sooner than the i-th frame after the send, none after
    // the time-out; a busy machine may skip some.
    calls.clear();
    start = Clock::now();
    EXPECT_GE(send(helper, h, "198.18.6.1", {}, 200).elapsedMs, 200);
    ASSERT_GE(calls.size(), 6u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_GE(calls[i], 16 * int(i + 1));
    }
    EXPECT_LE(calls.back(), 200);
    // The helper sends blanks of its own, nothing else.
    EXPECT_EQ(send(helper, h, "127.0.0.1", {'x'}, 1000).result,
              GetParam() == Kind::HelperOnly ? 0u : 1u);
    // IPv6 with a hop limit of 1: the router's error about the first fragment.
    const Echo expired = send(helper, h, "2001:db8:2::2", payload, 2000, 1);
    EXPECT_EQ(std::tie(expired.status, expired.from),
              std::tuple(IpStatus::HopLimitExceeded, "2001:db8:1::2"));
    // The round trip from the send to the router's error, which it sends
    // once its one try to find the neighbour is over.
    const Echo unreachable = send(helper, h, "2001:db8:7::9", {}, 2000);
    EXPECT_EQ(unreachable.status, IpStatus::DestAddrUnreachable);
    EXPECT_GE(unreachable.rtt, 50);
    EXPECT_LE(unreachable.rtt, unreachable.elapsedMs);
    // A link-local address is looked for on the link its zone names only.
    EXPECT_EQ(send(helper, h, "fe80::2%lo", {}, 300).result, 0u);
    EchoReply6 reply;
    EXPECT_EQ(helper.Icmp6SendEcho2(h, nullptr, nullptr, 0, nullptr, &reply, sizeof reply, 1000),
              0u);
    // No echo to a group, nor to :: or an IPv4-mapped address: not sent, no
    // wait, the same helper.
    const auto helpers = childrenOf(getpid());
    for (const char* group :
         {"255.255.255.255", "224.0.0.1", "ff02::1", "::", "::ffff:198.18.2.2"}) {
        const Echo none = send(helper, h, group, {}, 1000);
        EXPECT_EQ(std::pair(none.result, none.elapsedMs < 500), std::pair(0u, true));
    }
    EXPECT_EQ(childrenOf(getpid()), helpers);
    EXPECT_TRUE(helper.IcmpCloseHandle(h));
    EXPECT_FALSE(helper.IcmpCloseHandle(h));
    EXPECT_EQ(send(helper, h, "127.0.0.1", {}, 1000).result, 0u);
}

// Datagram sockets while ping_group_range allows them, then one helper for
// every handle, started at the first that needs it, again after it ended, and
// ended with the layer. While a handle uses the helper, the caller and the
// helper share one processor; after it, the caller's own choice is back.
TEST_F(Network, shouldPreferDatagramThenOneHelper) {
    // The processors a thread may run on, as a list: "0-1".
    const auto processors = [](const std::string& thread) {
        std::smatch list;
        const std::string status = content("/proc/" + thread + "/status");
        std::regex_search(status, list, std::regex("Cpus_allowed_list:\t(.*)\n"));
        return list[1].str();
    };
    const std::string own = processors("thread-self");
    {
        LinuxIcmpLibrary helper(Kind::Auto);
        // Out of descriptors: that reason, not a helper that could not start either.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const rlimit none{0, limit.rlim_max};
        setrlimit(RLIMIT_NOFILE, &none);
        const auto starved = helper.IcmpCreateFile();
        setrlimit(RLIMIT_NOFILE, &limit);
        EXPECT_EQ(std::tuple(starved, helper.openFailure().step, helper.openFailure().error),
                  std::tuple(IcmpLibrary::kInvalidHandle, IcmpOpenFailure::Step::Socket, EMFILE));
        const auto datagram = helper.IcmpCreateFile();
        EXPECT_TRUE(childrenOf(getpid()).empty());
        ASSERT_TRUE(client.shell("echo 1 0 >/proc/sys/net/ipv4/ping_group_range"));
        LinuxIcmpLibrary datagramOnly(Kind::DatagramOnly);
        EXPECT_EQ(datagramOnly.IcmpCreateFile(), IcmpLibrary::kInvalidHandle);
        EXPECT_EQ(datagramOnly.openFailure().error, EACCES);
        const auto viaHelper = helper.IcmpCreateFile();
        EXPECT_EQ(helper.openFailure().error, 0);
        const auto again = helper.IcmpCreateFile();
        EXPECT_EQ(childrenOf(getpid()).size(), 1u);
        for (const auto handle : {datagram, viaHelper, again}) {
            EXPECT_EQ(send(helper, handle, "127.0.0.1", Bytes(8, ' '), 1000).result, 1u);
        }
        const std::string here = std::to_string(sched_getcpu());
        EXPECT_EQ(processors("thread-self"), here);
        EXPECT_EQ(processors(std::to_string(childrenOf(getpid()).at(0))), here);
        EchoReply nothing;
        EXPECT_EQ(helper.IcmpSendEcho(datagram, inet_addr("127.0.0.1"), nullptr, 8, nullptr,
                                      &nothing, sizeof nothing, 100),
                  0u);  // 8 bytes from nowhere
        // One that ends during a wait is no reply at once; one that stops
        // answering, a second after the time-out. The next echo has a new one.
        for (const int signal : {SIGKILL, SIGSTOP}) {
            const pid_t old = childrenOf(getpid()).at(0);
            helper.setWhileWaiting([&] { kill(old, signal); });
            EXPECT_LT(send(helper, viaHelper, "198.18.6.1", {}, 1000).elapsedMs,
                      signal == SIGKILL ? 400 : 2500);
            helper.setWhileWaiting(nullptr);
            EXPECT_EQ(send(helper, viaHelper, "127.0.0.1", {}, 1000).result, 1u);
            const auto now = childrenOf(getpid());
            ASSERT_EQ(now.size(), 1u);
            EXPECT_NE(now[0], old);
        }
        helper.IcmpCloseHandle(viaHelper);
        helper.IcmpCloseHandle(again);
        EXPECT_EQ(processors("thread-self"), own);
        LinuxIcmpLibrary ending(Kind::HelperOnly);  // ends holding a handle
        EXPECT_EQ(send(ending, ending.IcmpCreateFile(), "127.0.0.1", {}, 1000).result, 1u);
    }
    EXPECT_EQ(processors("thread-self"), own);
    EXPECT_TRUE(childrenOf(getpid()).empty());
}

// Whole runs in the client. Each row: what the text shows, and the last
// counted answer's sender.
TEST_P(EitherSocket, shouldWriteWhatTheNetworkAnswered) {
    // After a text without a character that patterns treat specially.
    const std::string failed = "\r\n 平均速度: 0ms\\.";
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
        {"198.18.3.1", "2", "Destination Host Not Reachable" + failed, 1, 0, "198.18.1.2",
         "ip route replace 198.18.3.0/24 via 198.18.2.2"},
        // No route on the router.
        {"198.18.4.1", "1", "Destination Unreahable" + failed, 1, 1, "198.18.1.2"},
        // A routing loop: time exceeded, which has no text.
        {"198.18.5.1", "1", failed, 1, 1, "198.18.1.2"},
        // A silent drop: a time-out after 2700 ms.
        {"198.18.6.1", "1", " Request Timeout\r\n" + failed, 0, 0, ""},
        // IPv6: the target's hop limit less the router's hop; the router's link-local
        // address, by its zone.
        {"2001:db8:2::2", "2", repliesPattern("2001:db8:2::2", 2, 99), 2, 0, "2001:db8:2::2"},
        {"fe80::2%c0", "1", repliesPattern("fe80::2", 1, 64), 1, 0, "fe80::2"},
        // Address unreachable; no route.
        {"2001:db8:7::9", "1", "Destination Host Not Reachable" + failed, 1, 1, "2001:db8:1::2"},
        {"2001:db8:4::1", "1", "Destination Unreahable" + failed, 1, 1, "2001:db8:1::2"},
        // Hop limit exceeded, from the looping link.
        {"2001:db8:5::1", "1", failed, 1, 1, "2001:db8:2::1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        RealForm r(GetParam());
        Clock::time_point firstSend;
        r.ui.atYield[1] = [&] { firstSend = Clock::now(); };
        r.ui.atYield[3] = [&] { EXPECT_TRUE(!row.routerLater || router.shell(row.routerLater)); };
        const std::u16string& text = r.run(ascii(row.host), ascii(row.count));
        const int elapsedMs = msSince(firstSend);
        EXPECT_TRUE(fullMatch(row.text, text)) << utf8(text);
        EXPECT_EQ(std::tuple(r.form.ReplyCount, r.form.StatusShown, r.form.ReplyAddressText),
                  std::tuple(row.replies, row.statusShown, ascii(row.from)));
        // From the first send: a time-out after 2700 ms, within 100 ms.
        EXPECT_GE(elapsedMs, row.replies == 0 ? 2700 : 0);
        EXPECT_LT(elapsedMs, row.replies == 0 ? 2800 : 2700);
        EXPECT_TRUE(r.ui.boxes.empty());
    }
}

// The first name asked of a name server on 127.0.0.1 since the last call,
// from a raw socket that sees every UDP datagram in the calling thread's
// namespace. No server listens: each query is refused at once.
std::string firstAsked(int udp) {
    std::string first = "none";
    for (char p[512] = {}; recv(udp, p, sizeof p - 1, MSG_DONTWAIT) > 40;) {
        // Past the IP, UDP and DNS headers and the first label's length, up to
        // the name's closing zero; each further length a dot.
        std::string name(p + 41);
        for (std::size_t i = uint8_t(p[40]); i < name.size(); i += 1 + uint8_t(p[41 + i])) {
            name[i] = '.';
        }
        first = first == "none" ? name : first;
    }
    return first;
}

// Hostile texts in the host box, each through a whole run with the real
// resolver: none crashes, hangs or changes what the user typed. This test's
// thread has a resolv.conf that names a name server on 127.0.0.1, which none
// of the texts that cannot be a host name may reach, and a hosts file that
// names those the resolver would not ask it for, and names with the client's
// IPv6 address.
TEST_F(Network, shouldTakeEveryHostTextWithoutSendingWhatCannotBeAName) {
    const std::string a63 = "AZaz09-_" + std::string(55, 'a'), label64 = a63 + "a.test";
    const std::string name253 = a63 + ".y." + a63 + '.' + a63 + '.' + std::string(57, 'a') + ".x";
    const TempFolder etc;
    writeFile(etc.path / "hosts", "127.0.0.1 a..b both.test " + label64 + ' ' + name253 + "x" +
                                      "\n2001:db8:1::1 v6.test both.test\n");
    writeFile(etc.path / "resolv.conf", "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
    const std::string unresolved = "Unable To Resolve Host";
    const std::string loopback = repliesPattern("127.0.0.1", 1, 64);
    // 127.0.0.1 as the resolver reads it, in 64 characters: hexadecimal, zeros in front.
    const std::u16string hex64 = u"0x" + std::u16string(54, u'0') + u"7f000001";
    const struct {
        const char* name;
        std::u16string host;
        std::string text;            // a pattern
        std::string asked = "none";  // the name the name server is asked for
        std::u16string box = {};     // the one box shown, answered Ignore
        const char* locale = "C.UTF-8";
    } rows[] = {
        {"blanks only", u"   ", unresolved},
        {"64 characters, blanks around", u' ' + hex64 + u' ', loopback},
        {"65 characters", u"0x0" + hex64.substr(2), loopback, "none",
         u"Error 5: Invalid argument\r\nin vbGetHostByName\r\nThe error occured at line: 0"},
        {"white space but blanks", u"\t127.0.0.1\r\n", unresolved},
        {"a..b", u"a..b", unresolved},
        {"a label of 64 bytes", ascii(label64), unresolved},
        {"254 bytes", ascii(name253 + 'x'), unresolved},
        {"253 bytes and a final dot", ascii(name253 + '.'), unresolved, name253},
        {"no UTF-8 locale", u"例子.测试", unresolved, "none", {}, "C"},
        // 64 bytes in UTF-8, 38 in the ASCII form that the name server sees.
        {"a label of 32 Cyrillic letters", std::u16string(32, u'а') + u".com", unresolved,
         "xn--80aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.com"},
        {"IPv6 in brackets, blanks around", u" [::1] ", repliesPattern("::1", 1, 64)},
        {"a bracket that none opened", u"x::1]", unresolved},
        // Both families at once: no name server needed, reachable or not.
        {"IPv6 only, in the hosts file", u"v6.test", repliesPattern("2001:db8:1::1", 1, 64)},
        {"a name with both: IPv4", u"both.test", loopback},
        {"::ffff:127.0.0.2, IPv4 as the resolver reads it", u"::ffff:127.0.0.2",
         repliesPattern("127.0.0.2", 1, 64)},
    };
    // This thread alone sees the two files in /etc.
    const std::vector<Mount> mounts{{etc.path / "hosts", "/etc/hosts", nullptr, {}},
                                    {etc.path / "resolv.conf", "/etc/resolv.conf", nullptr, {}}};
    withMounts(mounts, [&] {
        const int udp = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
        ASSERT_GE(udp, 0) << strerror(errno);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            // This thread's alone.
            uselocale(newlocale(LC_ALL_MASK, row.locale, nullptr));
            RealForm r;
            r.ui.answers = {MsgBox::Ignore};
            const auto start = Clock::now();
            const std::u16string& shown = r.run(row.host, u"1");
            EXPECT_LT(msSince(start), 2000);
            EXPECT_TRUE(fullMatch(row.text, shown)) << utf8(shown);
            EXPECT_LE(r.ui.boxes.size(), 1u);
            EXPECT_EQ(r.ui.boxes.empty() ? u"" : r.ui.boxes[0].prompt, row.box);
            EXPECT_EQ(firstAsked(udp), row.asked);
            // The lookup of a run that got past its check shows the text without
            // the blanks around it.
            EXPECT_EQ(r.form.Host.text(),
                      row.text == unresolved ? row.host : trimmed<char16_t>(row.host, u" "));
            EXPECT_EQ(r.form.cmdPing.caption(), u"Ping");
            freelocale(uselocale(LC_GLOBAL_LOCALE));
        }
        close(udp);
    });
}

// A screen reader while an echo waits for a host that does not answer:
// tests/screen_reader.py, through AT-SPI, in a network namespace whose
// loopback ignores echoes, on a session bus of its own.
TEST(ScreenReader, shouldBeAnsweredWithinAnEchosWait) {
    const Netns quiet;
    if (*PING_PROGRAM == '\0' ||
        !quiet.shell("ip link set lo up; cd /proc/sys/net/ipv4; echo 1 >icmp_echo_ignore_all\n"
                     "echo 0 2147483647 >ping_group_range")) {
        GTEST_SKIP() << "needs root, for a network namespace, and a build with the window program";
    }
    const int status = std::system(("nsenter --net=" + quiet.path() +
                                    " dbus-run-session -- /usr/bin/python3 " PING_SOURCE_DIR
                                    "/tests/screen_reader.py " PING_PROGRAM)
                                       .c_str());
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no pyatspi (apt-get install python3-pyatspi)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
