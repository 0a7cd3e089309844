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
        if (geteuid() != 0 || nobody == nullptr ||
            QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
            GTEST_SKIP() << "needs root, a user nobody and setpriv to start a program unprivileged";
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        QFile::setPermissions(dir.path(), kRunnableByAll);
    }

    // A copy in dir with cap_net_raw+p, started as nobody with nothing
    // inherited but the environment given; false where setcap or extended
    // attributes are missing.
    bool startCopy(const QString& program, QProcess& process, const QProcessEnvironment& env = {}) {
        const QString copy = dir.filePath(QFileInfo(program).fileName());
        if (!QFile::copy(program, copy) || !QFile::setPermissions(copy, kRunnableByAll) ||
            QProcess::execute(QStringLiteral("setcap"), {QStringLiteral("cap_net_raw+p"), copy}) !=
                0) {
            return false;
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                       QStringLiteral("--clear-groups"), QStringLiteral("--inh-caps=-all"),
                       QStringLiteral("--"), copy});
        EXPECT_TRUE(process.waitForStarted());
        return true;
    }

    QTemporaryDir dir;
    uid_t uid = 0;
    gid_t gid = 0;
};

#define SKIP_WITHOUT_FILE_CAPABILITIES                                                      \
    GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended attributes " \
                    "on the file system of "                                                \
                 << dir.path().toStdString() << ")"

TEST_F(AsNobodyWithNetRaw, shouldPingOverTheRawSocketItKeptWithNoCapabilityLeft) {
    QProcess probe;
    if (!startCopy(QStringLiteral(PING_PROBE), probe)) {
        SKIP_WITHOUT_FILE_CAPABILITIES;
    }
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
}

// Raw ICMP sockets (local port 1 in /proc/net/raw) among the process's descriptors.
int rawIcmpSockets(const std::string& proc) {
    std::set<std::string> held;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
        held.insert(std::filesystem::read_symlink(fd.path(), error).string());
    }
    std::ifstream table(proc + "/net/raw");
    int raw = 0;
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string local, field;
        fields >> field >> local;
        for (int skip = 0; skip < 8; ++skip) {
            fields >> field;  // ends at the inode
        }
        raw += local.ends_with(":0001") && held.contains("socket:[" + field + "]");
    }
    return raw;
}

// Up: the load has read the settings file, after the window was shown.
TEST_F(AsNobodyWithNetRaw, shouldHoldNoCapabilityOnceTheWindowIsUp) {
    // Wherever the program looks for its settings: its folder or the user's.
    const QString config = dir.filePath(QStringLiteral("config"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));  // else Qt makes one in /tmp
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/sondrel-ping")) && QDir().mkdir(runtime));
    ASSERT_EQ(chown(QFile::encodeName(runtime).constData(), uid, gid), 0);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    QFile::setPermissions(config, kRunnableByAll);
    for (const QString& folder : {dir.path(), config + QStringLiteral("/sondrel-ping")}) {
        QFile::setPermissions(folder, kRunnableByAll);
        {
            QFile file(folder + QStringLiteral("/Settings.inf"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        }
        inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_OPEN);
    }
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QProcess program;
    if (!startCopy(QStringLiteral(PING_PROGRAM), program, env)) {
        close(watch);
        SKIP_WITHOUT_FILE_CAPABILITIES;
    }
    bool up = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!up && std::chrono::steady_clock::now() < giveUp &&
           program.state() == QProcess::Running) {
        pollfd ready{watch, POLLIN, 0};
        alignas(inotify_event) char events[4096];
        const ssize_t n = poll(&ready, 1, 200) > 0 ? read(watch, events, sizeof events) : 0;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            up = up || (event->len > 0 && std::string(event->name) == "Settings.inf");
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(watch);
    ASSERT_TRUE(up) << "the window did not come up: "
                    << program.readAllStandardError().toStdString();

    const std::string proc = "/proc/" + std::to_string(program.processId());
    std::ifstream status(proc + "/status");
    int fields = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Cap") && !line.starts_with("CapBnd")) {
            EXPECT_EQ(line.substr(line.find('\t') + 1), "0000000000000000") << line;
            ++fields;
        }
        if (line.starts_with("NoNewPrivs:")) {
            EXPECT_EQ(line, "NoNewPrivs:\t1");
            ++fields;
        }
    }
    EXPECT_EQ(fields, 5);
    EXPECT_EQ(rawIcmpSockets(proc), 1);
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
}

}  // namespace
