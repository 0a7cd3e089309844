// Hostile texts in the three boxes, each through a whole run with its decided
// outcome: none crashes, hangs or changes what the user typed.

#include "form/number_input.h"
#include "netns.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/mount.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// 127.0.0.1 as the resolver reads it: hexadecimal, zeros in front.
QString loopbackOfLength(qsizetype length) {
    return QStringLiteral("0x") + QString(length - 10, u'0') + QStringLiteral("7f000001");
}

// A name server on 127.0.0.1:53 of the calling thread's namespace: it keeps
// the names asked of it and answers each "no such name".
class NameServer {
public:
    NameServer() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
        thread_ = std::thread([this] {
            uint8_t q[512];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            for (ssize_t n; (n = recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from),
                                          &size)) > 12;
                 size = sizeof from) {
                std::string name;
                for (ssize_t i = 12; i < n && q[i] != 0 && i + 1 + q[i] <= n; i += 1 + q[i]) {
                    name += (name.empty() ? "" : ".") + std::string(q + i + 1, q + i + 1 + q[i]);
                }
                std::lock_guard lock(mutex_);
                names_.push_back(name);
                q[2] |= 0x80;  // a response
                q[3] = 3;      // no such name
                sendto(fd_, q, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), size);
            }
        });
    }
    ~NameServer() {
        shutdown(fd_, SHUT_RDWR);  // ends the wait of recvfrom
        thread_.join();
        close(fd_);
    }
    std::vector<std::string> asked() {
        std::lock_guard lock(mutex_);
        return std::exchange(names_, {});
    }

private:
    int fd_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> names_;
};

// The real resolver and ICMP in a namespace with a loopback only. This
// test's thread has a resolv.conf that names the test's name server, which
// none of the texts that cannot be a host name may reach, and a hosts file
// that names those the resolver would not ask it for.
TEST(HostileInput, shouldEndARunForEveryHostTextAsDecided) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the lookups run in private network and mount namespaces";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    const std::string a63 = "AZaz09-_" + std::string(55, 'a');
    const std::string name253 = a63 + ".y." + a63 + '.' + a63 + '.' + std::string(57, 'a') + ".x";
    const std::string label64 = a63 + "a.test";
    const std::string name254 = name253 + 'x';
    const QTemporaryDir etc;
    writeFile(etc.filePath(QStringLiteral("hosts")),
              QByteArray::fromStdString("127.0.0.1 localhost a..b " + label64 + ' ' + name254));
    writeFile(etc.filePath(QStringLiteral("resolv.conf")),
              "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
    const QString unresolved = QStringLiteral("Unable To Resolve Host");
    const QString loopbackReply = repliesPattern("127.0.0.1", 1, 64);
    const struct {
        const char* name;
        QString host;
        QString text;       // a pattern
        const char* box;    // the start of the one box shown (answered Abort), or none
        const char* asked;  // the name the name server is asked for, or none
    } rows[] = {
        {"blanks only", QStringLiteral("   "), unresolved, nullptr, nullptr},
        {"blanks around a name", QStringLiteral(" localhost "), loopbackReply, nullptr, nullptr},
        {"a blank after an address", QStringLiteral("127.0.0.1 "), loopbackReply, nullptr, nullptr},
        {"64 characters", loopbackOfLength(64), loopbackReply, nullptr, nullptr},
        // The error box; Abort takes the run's stop request: nothing is sent.
        {"65 characters", loopbackOfLength(65), QString(), "Error 5: Invalid argument", nullptr},
        {"control characters", QStringLiteral("\a\x1b[2J"), unresolved, nullptr, nullptr},
        {"a line end after an address", QStringLiteral("127.0.0.1\r\n"), unresolved, nullptr,
         nullptr},
        {"a format string", QStringLiteral("%s%n%x"), unresolved, nullptr, nullptr},
        {"a shell command", QStringLiteral("; touch /tmp/pwned"), unresolved, nullptr, nullptr},
        {"a blank inside", QStringLiteral("a b"), unresolved, nullptr, nullptr},
        {"a tab inside", QStringLiteral("tab\there"), unresolved, nullptr, nullptr},
        {".", QStringLiteral("."), unresolved, nullptr, nullptr},
        {"a..b", QStringLiteral("a..b"), unresolved, nullptr, nullptr},
        {"a label of 64 bytes", QString::fromStdString(label64), unresolved, nullptr, nullptr},
        {"254 bytes", QString::fromStdString(name254), unresolved, nullptr, nullptr},
        {"253 bytes and a final dot", QString::fromStdString(name253 + '.'), unresolved, nullptr,
         name253.c_str()},
        {"a Chinese domain name", QStringLiteral(u"例子.测试"), unresolved, nullptr,
         "xn--fsqu00a.xn--0zwm56d"},
        {"a Cyrillic a in a Latin name", QStringLiteral(u"аpple.com"), unresolved, nullptr,
         "xn--pple-43d.com"},
        // 64 bytes in UTF-8, 38 in the ASCII form that the name server sees.
        {"a label of 32 Cyrillic letters", QString(32, u'а') + QStringLiteral(".com"), unresolved,
         nullptr, "xn--80aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.com"},
        {"0.0.0.0: this machine", QStringLiteral("0.0.0.0"), loopbackReply, nullptr, nullptr},
        // The kernel refuses the send (no route here, else no SO_BROADCAST): no wait.
        {"255.255.255.255", QStringLiteral("255.255.255.255"),
         QStringLiteral(" Request Timeout\\r\\n") + kAveragePattern, nullptr, nullptr},
    };
    std::thread([&] {
        // This thread alone sees the two files in /etc.
        ASSERT_EQ(unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        for (const char* file : {"/hosts", "/resolv.conf"}) {
            ASSERT_EQ(mount(QFile::encodeName(etc.path() + file).constData(),
                            (std::string("/etc") + file).c_str(), nullptr, MS_BIND, nullptr),
                      0);
        }
        const InNetns in(ns);
        NameServer server;
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            RealForm r;
            r.ui.answers = {MsgBox::Abort};
            const auto start = std::chrono::steady_clock::now();
            const QString& text = r.run(row.host, "1");
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
            EXPECT_TRUE(fullMatch(row.text, text)) << text.toStdString();
            ASSERT_EQ(r.ui.boxes.size(), row.box != nullptr ? 1u : 0u);
            if (row.box != nullptr) {
                EXPECT_TRUE(r.ui.boxes[0].prompt.startsWith(QString::fromUtf8(row.box)));
            }
            const std::vector<std::string> asked = server.asked();
            EXPECT_EQ(asked.empty() ? "none" : asked[0], row.asked ? row.asked : "none");
            // The lookup of a run that got past its check shows the text without
            // the blanks around it.
            EXPECT_EQ(r.form.Host.text(), text == unresolved
                                              ? row.host
                                              : QString(row.host).remove(
                                                    QRegularExpression(QStringLiteral("^ +| +$"))));
            EXPECT_EQ(r.form.cmdPing.caption(), QStringLiteral("Ping"));
        }
    }).join();
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
