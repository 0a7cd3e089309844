#include "netns.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <clocale>

namespace {

std::vector<uint8_t> bytesOf(uint32_t address) {
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    return {b[0], b[1], b[2], b[3]};
}

// Blanks are trimmed, other white space is not; past 64 characters an error
// box comes first: Abort leaves before the lookup, Ignore looks it up after all.
TEST(vbGetHostByName, shouldResolveTheTrimmedTextOfUpTo64Characters) {
    const QString name64 = QString(60, u'a') + QStringLiteral(".com");
    const QString name65 = QString(61, u'a') + QStringLiteral(".com");
    const struct {
        QString host;
        QString looked;  // empty: no lookup
        int answer;      // to the error box, 0: none shown
    } cases[] = {
        {QStringLiteral("  198.18.0.1 "), QStringLiteral("198.18.0.1"), 0},
        {QStringLiteral("\t198.18.0.1"), QStringLiteral("\t198.18.0.1"), 0},
        {QStringLiteral(" ") + name64 + QStringLiteral(" "), name64, 0},
        {name65, QString(), MsgBox::Abort},
        {name65, name65, MsgBox::Ignore},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        FakeForm f;
        f.winsock.names[c.looked.toStdString()] = {192, 168, 0, 1};
        f.ui.answers = {c.answer};
        f.form.Host.setText(c.host);
        f.form.vbGetHostByName();
        EXPECT_EQ(f.winsock.lookups.size(), c.looked.isEmpty() ? 0u : 1u);
        if (!c.looked.isEmpty()) {
            EXPECT_EQ(f.winsock.lookups[0], c.looked.toStdString());
            EXPECT_EQ(f.form.Host.text(), c.looked);
            EXPECT_EQ(bytesOf(f.form.DestAddress), (std::vector<uint8_t>{192, 168, 0, 1}));
        }
        ASSERT_EQ(f.ui.boxes.size(), c.answer != 0 ? 1u : 0u);
        if (c.answer != 0) {
            EXPECT_EQ(f.ui.boxes[0].prompt,
                      QStringLiteral("Error 5: Invalid argument\r\nin vbGetHostByName\r\n"
                                     "The error occured at line: 0"));
        }
    }
}

TEST(vbGetHostByName, shouldReportAFailedLookupAndKeepTheAddress) {
    const struct {
        int32_t error;
        const char* text;
    } cases[] = {{11001, "Winsock Error 11001"}, {0, "Winsock Error 0"}, {-5, "Winsock Error-5"}};
    for (const auto& c : cases) {
        FakeForm f;
        f.form.DestAddress = 0x04030201;
        f.form.Host.setText(QStringLiteral("nowhere.invalid"));
        f.form.txtStatus.setText(QStringLiteral("earlier"));
        f.winsock.missError = c.error;
        f.form.vbGetHostByName();
        EXPECT_EQ(f.text(), QString::fromLatin1(c.text));
        EXPECT_EQ(f.form.NetErrorFlag, 1);
        EXPECT_EQ(f.form.DestAddress, 0x04030201u);
    }
}

// In a private mount namespace with its own /etc/hosts: ends the process with
// 0 when the name resolves as expected (or fails with the expected text).
[[noreturn]] void resolveInPrivateNamespace(const QByteArray& hostsPath, const char* locale,
                                            const QString& expected) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hostsPath.constData(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        std::_Exit(2);
    }
    std::setlocale(LC_ALL, locale);
    RealForm r;
    r.form.Host.setText(QStringLiteral(u"例子.测试"));
    r.form.vbGetHostByName();
    const bool resolved = bytesOf(r.form.DestAddress) == std::vector<uint8_t>{198, 18, 7, 7};
    std::fprintf(stderr, "%s\n", qPrintable(r.form.txtStatus.text()));
    std::_Exit(r.form.txtStatus.text() == expected && resolved == expected.isEmpty() ? 0 : 1);
}

// An internationalised name resolves through the hosts file; without a UTF-8
// locale it cannot be written for the resolver and is not found.
TEST(vbGetHostByName, shouldResolveAnInternationalisedName) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private mount namespace with its own /etc/hosts";
    }
    QTemporaryFile hosts;
    ASSERT_TRUE(hosts.open());
    hosts.write("198.18.7.7 xn--fsqu00a.xn--0zwm56d\n");
    hosts.flush();
    const QByteArray path = QFile::encodeName(hosts.fileName());
    EXPECT_EXIT(resolveInPrivateNamespace(path, "C.UTF-8", QString()), testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(resolveInPrivateNamespace(path, "C", QStringLiteral("Winsock Error 11001")),
                testing::ExitedWithCode(0), "");
}

}  // namespace
