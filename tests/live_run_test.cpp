// Whole runs over the real ICMP layer and resolver, to 127.0.0.1 only.

#include "fakes.h"
#include "platform/icmp_linux.h"
#include "platform/socket_library_linux.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

int defaultTtl() {
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ip_default_ttl"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 64;
}

TEST(LiveRun, shouldWriteFourRepliesFromLoopbackAndTheAverage) {
    ScriptedWindowSystem ui;
    LinuxIcmpHelper icmp;
    LinuxSocketLibrary winsock;
    const IcmpHelper::Handle probe = icmp.IcmpCreateFile();
    if (probe == IcmpHelper::kInvalidHandle) {
        GTEST_SKIP() << "no ICMP socket on this machine (" << std::strerror(icmp.lastOpenError())
                     << "): run as root or widen net.ipv4.ping_group_range";
    }
    icmp.IcmpCloseHandle(probe);
    WsaData data;
    ASSERT_EQ(winsock.WSAStartup(0x0202, data), 0);

    FrmPing form({ui, icmp, winsock, QString()});
    form.Host.setText(QStringLiteral("127.0.0.1"));
    form.cmdPing_Click();

    const QString line =
        QStringLiteral(R"( Reply from 127.0.0.1: Bytes = 32 RTT = \d+ms TTL = %1\r\n)")
            .arg(defaultTtl());
    const QRegularExpression expected(
        QStringLiteral("^(%1){4}\\r\\n 平均速度: \\d+ms\\.$").arg(line));
    EXPECT_TRUE(expected.match(form.txtStatus.text()).hasMatch())
        << form.txtStatus.text().toStdString();
    EXPECT_EQ(form.ReplyCount, 4);
    EXPECT_EQ(winsock.startCount(), 1);  // only the one the program keeps
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(Program, shouldSayInOneLineThatThereIsNoDisplay) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QString::fromLatin1(name));
    }
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PING_PROGRAM), {});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 2);
    const QString said = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(said.count(u'\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("no display"))) << said.toStdString();
}

}  // namespace
