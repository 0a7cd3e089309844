#include "fakes.h"
#include "platform/socket_library_linux.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>

namespace {

std::vector<uint8_t> bytesOf(uint32_t address) {
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    return {b[0], b[1], b[2], b[3]};
}

TEST(vbGetHostByName, shouldResolveTheTrimmedTextToTheFirstAddress) {
    const QString name64 = QString(60, u'a') + QStringLiteral(".com");
    const struct {
        QString host;
        std::string looked;
        QString shown;
    } cases[] = {
        {QStringLiteral("192.168.0.1"), "192.168.0.1", QStringLiteral("192.168.0.1")},
        {QStringLiteral("  192.168.0.1 "), "192.168.0.1", QStringLiteral("192.168.0.1")},
        {QStringLiteral("\t192.168.0.1"), "\t192.168.0.1", QStringLiteral("\t192.168.0.1")},
        {QStringLiteral(" ") + name64 + QStringLiteral(" "), name64.toStdString(), name64},
    };
    for (const auto& c : cases) {
        FakeForm f;
        f.winsock.names[c.looked] = {192, 168, 0, 1};
        f.form.Host.setText(c.host);
        f.form.vbGetHostByName();
        EXPECT_EQ(f.winsock.lookups, std::vector<std::string>{c.looked});
        EXPECT_EQ(f.form.Host.text(), c.shown);
        EXPECT_EQ(bytesOf(f.form.DestAddress), (std::vector<uint8_t>{192, 168, 0, 1}));
        EXPECT_EQ(f.form.NetErrorFlag, 0);
        EXPECT_TRUE(f.ui.boxes.empty());
    }
}

TEST(vbGetHostByName, shouldReportAFailedLookupAndKeepTheAddress) {
    const struct {
        int32_t error;
        const char* text;
    } cases[] = {{11001, "Winsock Error 11001"},
                 {11002, "Winsock Error 11002"},
                 {0, "Winsock Error 0"},
                 {-5, "Winsock Error-5"}};
    for (const auto& c : cases) {
        FakeForm f;
        f.form.DestAddress = 0x04030201;
        f.form.Host.setText(QStringLiteral("nowhere.invalid"));
        f.form.txtStatus.setText(QStringLiteral("earlier"));
        f.winsock.missError = c.error;
        f.form.vbGetHostByName();
        EXPECT_EQ(f.form.txtStatus.text(), QString::fromLatin1(c.text));
        EXPECT_EQ(f.form.NetErrorFlag, 1);
        EXPECT_EQ(f.form.DestAddress, 0x04030201u);
    }
}

TEST(vbGetHostByName, shouldReportAHostTextOver64CharactersBeforeAnyLookup) {
    const QString name65 = QString(61, u'a') + QStringLiteral(".com");
    const struct {
        int answer;
        size_t lookups;
    } cases[] = {{MsgBox::Abort, 0}, {MsgBox::Ignore, 1}};
    for (const auto& c : cases) {
        FakeForm f;
        f.winsock.names[name65.toStdString()] = {10, 0, 0, 9};
        f.ui.answers = {c.answer};
        f.form.Host.setText(name65);
        f.form.vbGetHostByName();
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        EXPECT_EQ(f.ui.boxes[0].prompt,
                  QStringLiteral("Error 5: Invalid argument\r\nin vbGetHostByName\r\n"
                                 "The error occured at line: 0"));
        EXPECT_EQ(f.winsock.lookups.size(), c.lookups);
        EXPECT_EQ(f.form.DestAddress != 0, c.lookups == 1);
    }
}

// A form on the system's resolver, the library started.
struct RealLookup {
    ScriptedWindowSystem ui;
    ScriptedIcmp icmp;
    LinuxSocketLibrary winsock;
    FrmPing form{{ui, icmp, winsock, QString()}};
    RealLookup() {
        WsaData data;
        winsock.WSAStartup(0x0101, data);
    }
};

TEST(vbGetHostByName, shouldLookUpRealNamesThroughTheSystemResolver) {
    const struct {
        const char* host;
        const char* status;  // what the results box holds afterwards
        std::vector<uint8_t> address;
    } cases[] = {
        {"localhost", "", {127, 0, 0, 1}},
        {" 127.0.0.1 ", "", {127, 0, 0, 1}},
        {"nowhere.invalid", "Winsock Error 11001", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        RealLookup r;
        FrmPing& form = r.form;
        form.Host.setText(QString::fromLatin1(c.host));
        form.vbGetHostByName();
        EXPECT_EQ(form.txtStatus.text(), QString::fromLatin1(c.status)) << c.host;
        EXPECT_EQ(bytesOf(form.DestAddress), c.address) << c.host;
    }
}

// In a private mount namespace with its own /etc/hosts: ends the process with
// 0 when the name resolves as expected (or fails with the expected text).
[[noreturn]] void resolveInPrivateNamespace(const QByteArray& hostsPath, const char* locale,
                                            const QString& expected) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hostsPath.constData(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        std::fputs("no private /etc/hosts\n", stderr);
        std::_Exit(2);
    }
    std::setlocale(LC_ALL, locale);
    RealLookup r;
    FrmPing& form = r.form;
    form.Host.setText(QStringLiteral(u"例子.测试"));
    form.vbGetHostByName();
    const bool resolved = bytesOf(form.DestAddress) == std::vector<uint8_t>{10, 7, 7, 7};
    std::fprintf(stderr, "%s\n", qPrintable(form.txtStatus.text()));
    std::_Exit(form.txtStatus.text() == expected && resolved == expected.isEmpty() ? 0 : 1);
}

// An internationalised name resolves through the hosts file; without a UTF-8
// locale it cannot be written for the resolver and is not found.
TEST(vbGetHostByName, shouldResolveAnInternationalisedName) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private mount namespace with its own /etc/hosts";
    }
    QTemporaryFile hosts;
    ASSERT_TRUE(hosts.open());
    hosts.write("10.7.7.7 xn--fsqu00a.xn--0zwm56d\n");
    hosts.flush();
    const QByteArray path = QFile::encodeName(hosts.fileName());
    EXPECT_EXIT(resolveInPrivateNamespace(path, "C.UTF-8", QString()), testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(resolveInPrivateNamespace(path, "C", QStringLiteral("Winsock Error 11001")),
                testing::ExitedWithCode(0), "");
}

}  // namespace
