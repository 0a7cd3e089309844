// Program files with cap_net_raw+p, started as nobody: they keep a raw ICMP
// socket and no capability, and still ping.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

constexpr auto kRunnableByAll =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;

class AsNobodyWithNetRaw : public testing::Test {
protected:
    void SetUp() override {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() != 0 || nobody == nullptr) {
            GTEST_SKIP() << "needs root and a user nobody to start a program unprivileged";
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
            GTEST_SKIP() << "needs setpriv (util-linux) to start a program as nobody";
        }
        QFile::setPermissions(dir.path(), kRunnableByAll);
    }

    // A copy in dir with cap_net_raw+p; empty where setcap or extended
    // attributes are missing.
    QString copyWithNetRaw(const QString& program) {
        const QString copy = dir.filePath(QFileInfo(program).fileName());
        QProcess setcap;
        if (!QFile::copy(program, copy) || !QFile::setPermissions(copy, kRunnableByAll)) {
            return {};
        }
        setcap.start(QStringLiteral("setcap"), {QStringLiteral("cap_net_raw+p"), copy});
        return setcap.waitForFinished(10000) && setcap.exitStatus() == QProcess::NormalExit &&
                       setcap.exitCode() == 0
                   ? copy
                   : QString();
    }

    // Nothing inherited but the environment given.
    void startAsNobody(QProcess& process, const QString& program,
                       const QProcessEnvironment& env = {}) {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                       QStringLiteral("--clear-groups"), QStringLiteral("--inh-caps=-all"),
                       QStringLiteral("--"), program});
        ASSERT_TRUE(process.waitForStarted());
    }

    QTemporaryDir dir;
    uid_t uid = 0;
    gid_t gid = 0;
};

#define SKIP_WITHOUT(copy)                                                                      \
    if ((copy).isEmpty()) {                                                                     \
        GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended attributes " \
                        "on the file system of "                                                \
                     << dir.path().toStdString() << ")";                                        \
    }

TEST_F(AsNobodyWithNetRaw, shouldPingOverTheRawSocketItKeptWithNoCapabilityLeft) {
    const QString probe = copyWithNetRaw(QStringLiteral(PING_PROBE));
    SKIP_WITHOUT(probe);
    QProcess process;
    startAsNobody(process, probe);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

std::map<std::string, std::string> statusOf(qint64 pid) {
    std::map<std::string, std::string> fields;
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string name;
        std::string value;
        words >> name >> value;
        fields[name] = value;
    }
    return fields;
}

// Inodes of the raw ICMP sockets among the process's descriptors.
std::set<std::string> rawIcmpSockets(qint64 pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::set<std::string> held;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
        held.insert(std::filesystem::read_symlink(fd.path(), error).string());
    }
    std::set<std::string> raw;
    std::ifstream table(proc + "/net/raw");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (local.ends_with(":0001") && held.contains("socket:[" + inode + "]")) {
            raw.insert(inode);
        }
    }
    return raw;
}

// Up: the load has read the settings file, after the window was shown.
TEST_F(AsNobodyWithNetRaw, shouldHoldNoCapabilityOnceTheWindowIsUp) {
    const QString program = copyWithNetRaw(QStringLiteral(PING_PROGRAM));
    SKIP_WITHOUT(program);
    // Wherever the program looks for its settings: its folder or the user's.
    const QString config = dir.filePath(QStringLiteral("config/sondrel-ping"));
    ASSERT_TRUE(QDir().mkpath(config));
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    for (const QString& folder : {dir.path(), config}) {
        QFile file(folder + QStringLiteral("/Settings.inf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[settings]\r\nhostname=127.0.0.1\r\n");
        file.close();
        QFile::setPermissions(folder, kRunnableByAll);
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_OPEN);
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("config")), kRunnableByAll);
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));  // else Qt makes one in /tmp
    ASSERT_TRUE(QDir().mkdir(runtime));
    ASSERT_EQ(chown(QFile::encodeName(runtime).constData(), uid, gid), 0);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QProcess process;
    startAsNobody(process, program, env);

    bool up = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!up && std::chrono::steady_clock::now() < giveUp &&
           process.state() == QProcess::Running) {
        pollfd ready{watch, POLLIN, 0};
        if (poll(&ready, 1, 200) <= 0) {
            continue;
        }
        alignas(inotify_event) char events[4096];
        const ssize_t n = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            up = up || (event->len > 0 && std::string(event->name) == "Settings.inf");
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(watch);
    ASSERT_TRUE(up) << "the window did not come up: "
                    << process.readAllStandardError().toStdString();

    const auto status = statusOf(process.processId());
    for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"}) {
        EXPECT_EQ(status.at(set), "0000000000000000") << set;
    }
    EXPECT_EQ(status.at("NoNewPrivs:"), "1");
    EXPECT_EQ(rawIcmpSockets(process.processId()).size(), 1u);
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace
