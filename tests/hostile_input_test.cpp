// Hostile texts in the three boxes, each through a whole run with its decided
// outcome: none crashes, hangs or changes what the user typed.

#include "form/number_input.h"
#include "netns.h"

#include <arpa/inet.h>

#include <clocale>
#include <mutex>
#include <utility>

namespace {

// A name server on 127.0.0.1:53 of the calling thread's namespace: it keeps
// the names asked of it and answers each "no such name", but six.test "no
// address of the kind asked" (of the IPv4 kind, for it is in the hosts file).
struct NameServer {
    ~NameServer() {
        shutdown(fd, SHUT_RDWR);  // ends the wait of recvfrom
        thread.join();
        close(fd);
    }
    // The first name asked since the last call.
    std::string asked() {
        std::lock_guard lock(mutex);
        return first.empty() ? "none" : std::exchange(first, {});
    }

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
    std::mutex mutex;
    std::string first;
    std::thread thread{[this] {
        uint8_t q[512];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        for (ssize_t n;
             (n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &size)) > 12;
             size = sizeof from) {
            std::string name;
            for (ssize_t i = 12; i < n && q[i] != 0 && i + 1 + q[i] <= n; i += 1 + q[i]) {
                name += (name.empty() ? "" : ".") + std::string(q + i + 1, q + i + 1 + q[i]);
            }
            std::lock_guard lock(mutex);
            first = first.empty() ? name : first;
            q[2] |= 0x80;                          // a response
            q[3] = name == "six.test" ? 0x80 : 3;  // no error (and no answer), or no such name
            sendto(fd, q, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), size);
        }
    }};
};

// The real resolver and ICMP in a namespace with a loopback only (which also
// has 2001:db8::7). This test's thread has a resolv.conf that names the test's
// name server, which none of the texts that cannot be a host name may reach,
// and a hosts file that names those the resolver would not ask it for, and
// names with IPv6 addresses.
TEST(HostileInput, shouldEndARunForEveryHostTextAsDecided) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the lookups run in private network and mount namespaces";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up; ip addr add 2001:db8::7/128 dev lo"));
    const std::string a63 = "AZaz09-_" + std::string(55, 'a'), label64 = a63 + "a.test";
    const std::string name253 = a63 + ".y." + a63 + '.' + a63 + '.' + std::string(57, 'a') + ".x";
    const QTemporaryDir etc;
    writeFile(etc.filePath("hosts"),
              QByteArray::fromStdString("127.0.0.1 a..b both.test " + label64 + ' ' + name253 +
                                        "x" + "\n2001:db8::7 v6.test six.test both.test\n"));
    writeFile(etc.filePath("resolv.conf"), "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
    const QString unresolved = "Unable To Resolve Host";
    const QString loopback = repliesPattern("127.0.0.1", 1, 64);
    const QString v6 = repliesPattern("2001:db8::7", 1, 64);
    const QString notSent = " Request Timeout\\r\\n" + kAveragePattern;
    // 127.0.0.1 as the resolver reads it: hexadecimal, zeros in front.
    const auto loopbackOf = [](qsizetype length) {
        return "0x" + QString(length - 10, u'0') + "7f000001";
    };
    const struct {
        const char* name;
        QString host;
        QString text;                // a pattern
        std::string asked = "none";  // the name the name server is asked for
        QString box = {};            // the one box shown, answered Ignore
        const char* locale = "C.UTF-8";
    } rows[] = {
        {"blanks only", "   ", unresolved},
        {"64 characters, blanks around", ' ' + loopbackOf(64) + ' ', loopback},
        {"65 characters", loopbackOf(65), loopback, "none",
         "Error 5: Invalid argument\r\nin vbGetHostByName\r\nThe error occured at line: 0"},
        {"white space but blanks", "\t127.0.0.1\r\n", unresolved},
        {"control characters", "\a\x1b[2J", unresolved},
        {"a..b", "a..b", unresolved},
        {"a label of 64 bytes", QString::fromStdString(label64), unresolved},
        {"254 bytes", QString::fromStdString(name253 + 'x'), unresolved},
        {"253 bytes and a final dot", QString::fromStdString(name253 + '.'), unresolved, name253},
        {"no UTF-8 locale", "例子.测试", unresolved, "none", {}, "C"},
        // 64 bytes in UTF-8, 38 in the ASCII form that the name server sees.
        {"a label of 32 Cyrillic letters", QString(32, u'а') + ".com", unresolved,
         "xn--80aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.com"},
        {"0.0.0.0: this machine", "0.0.0.0", loopback},
        // The kernel refuses the send (no route here, else no SO_BROADCAST): no wait.
        {"255.255.255.255", "255.255.255.255", notSent},
        {"IPv6 in brackets, blanks around", " [::1] ", repliesPattern("::1", 1, 64)},
        {"a bracket that none opened", "x::1]", unresolved},
        {"IPv6 only: no such IPv4 name", "v6.test", v6, "v6.test"},
        {"IPv6 only: no IPv4 address", "six.test", v6, "six.test"},
        {"a name with both: IPv4", "both.test", loopback},
        {"::, which no host has: no echo", "::", notSent},
        {"an IPv6 group: no echo", "ff02::1", notSent},
        {"::ffff:127.0.0.1, IPv4 as the resolver reads it", "::ffff:127.0.0.1", loopback},
    };
    // This thread alone sees the two files in /etc.
    const std::string dir = etc.path().toStdString();
    const std::vector<Mount> mounts{{dir + "/hosts", "/etc/hosts", nullptr, ""},
                                    {dir + "/resolv.conf", "/etc/resolv.conf", nullptr, ""}};
    withMounts(mounts, [&] {
        const InNetns in(ns);
        NameServer server;
        ASSERT_TRUE(server.bound);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            // This thread's alone.
            const locale_t locale = newlocale(LC_ALL_MASK, row.locale, nullptr);
            uselocale(locale);
            RealForm r;
            r.ui.answers = {MsgBox::Ignore};
            const auto start = std::chrono::steady_clock::now();
            const QString& text = r.run(row.host, "1");
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
            EXPECT_TRUE(fullMatch(row.text, text)) << text.toStdString();
            EXPECT_LE(r.ui.boxes.size(), 1u);
            EXPECT_EQ(r.ui.boxes.empty() ? QString() : r.ui.boxes[0].prompt, row.box);
            EXPECT_EQ(server.asked(), row.asked);
            // The lookup of a run that got past its check shows the text without
            // the blanks around it.
            EXPECT_EQ(r.form.Host.text(), text == unresolved ? row.host : row.host.trimmed());
            EXPECT_EQ(r.form.cmdPing.caption(), "Ping");
            uselocale(LC_GLOBAL_LOCALE);
            freelocale(locale);
        }
    });
}

// As the count every echo times out and a stop request comes before the
// seventh; as the size, after a run that sent 12 bytes.
TEST(HostileInput, shouldTakeEveryCountAndSizeAsDecided) {
    const struct {
        QString text;
        int echoes;  // as the count; 6: stopped, else with the average
        int size;    // as the size: bytes sent, -1 reported and none sent
    } rows[] = {
        {"", 1, 0},          {"0", 0, 0},       {"-1", 0, 12},         {"2.5", 2, 2},
        {"3.5", 3, 4},       {"4abc", 1, 4},    {" 4 ", 4, 4},         {"1 0 0", 1, 100},
        {"&H20", 1, 32},     {"1e9", 6, -1},    {"NaN", 1, 0},         {"&HFFFF", 1, -1},
        {"32767", 6, 32767}, {"32768", 6, -1},  {"2147483648", 6, 12}, {"1e400", 1, 12},
        {"1,000", 6, 1},     {"+3", 3, 3},      {"inf", 1, 0},         {"0.5", 0, 0},
        {"-0.5", 0, 0},      {"-32768", 0, 12}, {"-32769", 0, 12},     {"2147483647", 6, -1},
        {"32767.5", 6, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        PingRun count;
        count.ui.atYield[6] = [&] { count.form.cmdPing_Click(); };
        count.start(row.text);
        EXPECT_EQ(count.icmp.sent.size(), size_t(row.echoes));
        EXPECT_EQ(count.text().contains(u"平均速度"), row.echoes < 6);
        EXPECT_TRUE(count.ui.boxes.empty());
        EXPECT_EQ(count.form.lblPingTimes.text(), row.text);

        PingRun size;
        size.form.lblPacketSize.setText("12");
        size.start("1");
        size.form.lblPacketSize.setText(row.text);
        size.start("1");
        ASSERT_EQ(size.icmp.sent.size(), row.size < 0 ? 1u : 2u);
        EXPECT_EQ(size.icmp.sent.back().size, row.size < 0 ? 12 : row.size);
        ASSERT_EQ(size.ui.boxes.size(), row.size < 0 ? 1u : 0u);
        EXPECT_TRUE(row.size >= 0 ||
                    fullMatch("(?s)Error 6: .*\\r\\nin vbIcmpSendEcho.*", size.ui.boxes[0].prompt));
        EXPECT_EQ(size.form.lblPacketSize.text(), row.text);
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
