// Hostile texts in the host box, each through a whole run with its expected
// outcome: none crashes, hangs or changes what the user typed.

#include "netns.h"
#include "platform/blanks.h"
#include "real_form_linux.h"

#include <arpa/inet.h>

#include <clocale>

namespace {

// The first name asked of a name server on 127.0.0.1 since the last call,
// from a raw socket that sees every UDP datagram in the calling thread's
// namespace. No server listens: each query is refused at once.
std::string firstAsked(int udp) {
    std::string first = "none";
    uint8_t p[512];
    for (ssize_t n; (n = recv(udp, p, sizeof p, MSG_DONTWAIT)) > 40;) {
        std::string name;  // past the IP, UDP and DNS headers
        for (ssize_t i = 40; i < n && p[i] != 0 && i + 1 + p[i] <= n; i += 1 + p[i]) {
            name += (name.empty() ? "" : ".") + std::string(p + i + 1, p + i + 1 + p[i]);
        }
        first = first == "none" ? name : first;
    }
    return first;
}

// The real resolver and ICMP in a namespace with a loopback only (which also
// has 2001:db8::7). This test's thread has a resolv.conf that names a name
// server there, which none of the texts that cannot be a host name may reach,
// and a hosts file that names those the resolver would not ask it for, and
// names with IPv6 addresses.
TEST(HostileInput, shouldTakeEveryHostTextWithoutSendingWhatCannotBeAName) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the lookups run in private network and mount namespaces";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up; ip addr add 2001:db8::7/128 dev lo"));
    const std::string a63 = "AZaz09-_" + std::string(55, 'a'), label64 = a63 + "a.test";
    const std::string name253 = a63 + ".y." + a63 + '.' + a63 + '.' + std::string(57, 'a') + ".x";
    const TempFolder etc;
    writeFile(etc.path / "hosts", "127.0.0.1 a..b both.test " + label64 + ' ' + name253 + "x" +
                                      "\n2001:db8::7 v6.test both.test\n");
    writeFile(etc.path / "resolv.conf", "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
    const std::string unresolved = "Unable To Resolve Host";
    const std::string loopback = repliesPattern("127.0.0.1", 1, 64);
    // 127.0.0.1 as the resolver reads it: hexadecimal, zeros in front.
    const auto loopbackOf = [](std::size_t length) {
        return u"0x" + std::u16string(length - 10, u'0') + u"7f000001";
    };
    const struct {
        const char* name;
        std::u16string host;
        std::string text;            // a pattern
        std::string asked = "none";  // the name the name server is asked for
        std::u16string box = {};     // the one box shown, answered Ignore
        const char* locale = "C.UTF-8";
    } rows[] = {
        {"blanks only", u"   ", unresolved},
        {"64 characters, blanks around", u' ' + loopbackOf(64) + u' ', loopback},
        {"65 characters", loopbackOf(65), loopback, "none",
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
        {"IPv6 only, in the hosts file", u"v6.test", repliesPattern("2001:db8::7", 1, 64)},
        {"a name with both: IPv4", u"both.test", loopback},
        {"::ffff:127.0.0.1, IPv4 as the resolver reads it", u"::ffff:127.0.0.1", loopback},
    };
    // This thread alone sees the two files in /etc.
    const std::string dir = etc.path.string();
    const std::vector<Mount> mounts{{dir + "/hosts", "/etc/hosts", nullptr, ""},
                                    {dir + "/resolv.conf", "/etc/resolv.conf", nullptr, ""}};
    withMounts(mounts, [&] {
        const InNetns in(ns);
        const int udp = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
        ASSERT_GE(udp, 0) << strerror(errno);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            // This thread's alone.
            const locale_t locale = newlocale(LC_ALL_MASK, row.locale, nullptr);
            uselocale(locale);
            RealForm r;
            r.ui.answers = {MsgBox::Ignore};
            const auto start = std::chrono::steady_clock::now();
            const std::u16string& shown = r.run(row.host, u"1");
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
            EXPECT_TRUE(fullMatch(row.text, shown)) << utf8(shown);
            EXPECT_LE(r.ui.boxes.size(), 1u);
            EXPECT_EQ(r.ui.boxes.empty() ? u"" : r.ui.boxes[0].prompt, row.box);
            EXPECT_EQ(firstAsked(udp), row.asked);
            // The lookup of a run that got past its check shows the text without
            // the blanks around it.
            EXPECT_EQ(r.form.Host.text(),
                      row.text == unresolved ? row.host : trimmed<char16_t>(row.host, u" "));
            EXPECT_EQ(r.form.cmdPing.caption(), u"Ping");
            uselocale(LC_GLOBAL_LOCALE);
            freelocale(locale);
        }
        close(udp);
    });
}

}  // namespace
