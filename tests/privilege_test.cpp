// What a local user can get at through the program: its ICMP helper, fed any
// request; the window process, made to load a plugin of the user's own.

#include "netns.h"
#include "platform/icmp_process_linux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pwd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Icmp OutEchos and Icmp6OutEchos of the calling thread's network namespace.
long echoesSent() {
    std::ifstream snmp6("/proc/thread-self/net/snmp6");
    std::string field;
    long sent6 = 0;
    while (snmp6 >> field >> sent6 && field != "Icmp6OutEchos") {
    }
    std::ifstream snmp("/proc/thread-self/net/snmp");
    std::string names;
    std::string line;
    while (std::getline(snmp, line) && !line.starts_with("Icmp: ")) {
    }
    names = line;
    std::getline(snmp, line);
    std::istringstream name(names);
    std::istringstream value(line);
    for (std::string n, v; name >> n && value >> v;) {
        if (n == "OutEchos") {
            return std::stol(v) + sent6;
        }
    }
    return -1;
}

TEST(IcmpHelperProgram, shouldEndWithoutSendingOnAnyRequestButAValidOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, for the raw socket and a network namespace to count in";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    const InNetns in(ns);
    const icmp::Request valid{inet_addr("127.0.0.1"), 8, 64, 0, 1000};
    static constexpr icmp::Address6 kMapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
    const auto bytes = [&](void (*change)(icmp::Request&), int extra = 0) {
        icmp::Request request = valid;
        change(request);
        std::string out(reinterpret_cast<const char*>(&request), sizeof request);
        out.resize(out.size() + extra);
        return out;
    };
    const struct {
        const char* name;
        std::string request;
        bool served;
    } rows[] = {
        {"valid", bytes([](auto&) {}), true},
        {"the largest", bytes([](auto& r) { r.size = 32767, r.timeoutMs = 10000; }), true},
        {"a byte short", bytes([](auto&) {}, -1), false},
        {"a byte more", bytes([](auto&) {}, 1), false},
        {"size 32768", bytes([](auto& r) { r.size = 32768; }), false},
        {"time-out 10001 ms", bytes([](auto& r) { r.timeoutMs = 10001; }), false},
        {"the zero byte set", bytes([](auto& r) { r.zero = 1; }), false},
        {"broadcast", bytes([](auto& r) { r.destination = INADDR_BROADCAST; }), false},
        {"multicast", bytes([](auto& r) { r.destination = inet_addr("224.0.0.1"); }), false},
        {"multicast, last", bytes([](auto& r) { r.destination = inet_addr("239.255.255.255"); }),
         false},
        {"IPv4 with a zone", bytes([](auto& r) { r.scopeId = 1; }), false},
        {"IPv6 ::1", bytes([](auto& r) { r.destination = 0, r.destination6[15] = 1; }), true},
        {"IPv6 and IPv4", bytes([](auto& r) { r.destination6[15] = 1; }), false},
        {"IPv6 multicast", bytes([](auto& r) {
             r.destination = 0, r.destination6 = {0xff, 2};
         }),
         false},
        {"IPv4-mapped", bytes([](auto& r) { r.destination = 0, r.destination6 = kMapped; }), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        IcmpHelperProcess helper(LinuxIcmpHelper::helperPath());
        ASSERT_EQ(helper.start(), IcmpHelperProcess::Start::Serving) << helper.error();
        const long before = echoesSent();
        ASSERT_EQ(send(helper.fd(), row.request.data(), row.request.size(), 0),
                  ssize_t(row.request.size()));
        // Ended: an answer of result 0 at once.
        const auto answer = helper.answer(Clock::now() + std::chrono::seconds(5));
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->response.result, row.served ? 1u : 0u);
        EXPECT_EQ(helper.serving(), row.served);
        EXPECT_EQ(echoesSent() - before, row.served ? 1 : 0);
    }
}

// As nobody, with neither a ping socket nor the helper's capability: lines
// that fit the results box, with the commands for this very helper file.
TEST(IcmpHelperProgram, shouldSayHowToPermitIcmpWhereNothingIs) {
    const passwd* nobody = getpwnam("nobody");
    const std::string helper = fs::canonical(PING_HELPER).string();
    if (geteuid() != 0 || nobody == nullptr ||
        std::system(("setpriv --reuid=nobody --regid=" + std::to_string(nobody->pw_gid) +
                     " --clear-groups test -x " + helper)
                        .c_str()) != 0) {
        GTEST_SKIP() << "needs root, and a build tree within nobody's reach, to start the helper "
                        "as nobody";
    }
    const std::string expected =
        "ICMP is not permitted for this program. To permit it, run:\r\n"
        "  sudo setcap cap_net_raw,cap_setpcap=p \\\r\n    " +
        helper +
        "\r\n"
        "or let every group open ping sockets:\r\n"
        "  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\r\n";
    EXPECT_EXIT(
        {
            if (setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
                setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0) {
                std::exit(2);
            }
            LinuxIcmpHelper icmp(LinuxIcmpHelper::SocketKind::HelperOnly);
            const bool refused = icmp.IcmpCreateFile() == IcmpHelper::kInvalidHandle;
            const std::string text = icmp.openFailure();
            std::fputs(text.c_str(), stderr);
            std::exit(refused && text == expected ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// The receive queues of the raw ICMP and ICMPv6 sockets (local port 1, 58)
// in a process's network namespace.
std::vector<long> rawIcmpQueues(const std::string& proc) {
    std::vector<long> queues;
    for (const auto& [table, protocol] : {std::pair{"/net/raw", ":0001"}, {"/net/raw6", ":003A"}}) {
        std::ifstream lines(proc + table);
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string local, queue, field;
            fields >> field >> local >> field >> field >> queue;
            if (local.ends_with(protocol)) {
                queues.push_back(std::stol(queue.substr(queue.find(':') + 1), nullptr, 16));
            }
        }
    }
    return queues;
}

std::string statusOf(pid_t pid, const std::string& names) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string found;
    for (std::string line; std::getline(status, line);) {
        if (names.find(line.substr(0, line.find(':') + 1)) != std::string::npos) {
            found += line + "\n";
        }
    }
    return found;
}

bool waitFor(const std::function<bool()>& done, QProcess* alive = nullptr) {
    for (const auto giveUp = Clock::now() + std::chrono::seconds(30); Clock::now() < giveUp;) {
        if (done()) {
            return true;
        }
        if (alive != nullptr && alive->state() != QProcess::Running) {
            return false;
        }
        QThread::msleep(20);
    }
    return false;
}

// The attack as a user would make it: the program, with the capability an
// older version put on its file, started as nobody with a plugin of the
// user's own in a network namespace of its own. The plugin (privilege_probe)
// pings 127.0.0.1 through the window, says what it finds in its process, and
// whether it got any of the ICMP of the iputils pings (of 127.0.0.1 and ::1)
// the test runs meanwhile.
TEST(AsNobody, shouldPingThroughTheHelperWithNothingForAPluginToTakeOrHear) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr ||
        QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        GTEST_SKIP() << "needs root, a user nobody and setpriv to start a program unprivileged";
    }
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther);
    const fs::path root = dir.path().toStdString();
    const fs::path program = root / "bin/sondrel-ping";
    const fs::path helper =
        (program.parent_path() /
         fs::path(PING_HELPER).lexically_relative(fs::path(PING_PROGRAM).parent_path()))
            .lexically_normal();
    const fs::path plugins = root / "plugins";
    const fs::path home = root / "home";
    for (const auto& [from, to, caps] :
         {std::tuple{PING_PROGRAM, program, "cap_net_raw+p"},
          std::tuple{PING_HELPER, helper, "cap_net_raw,cap_setpcap=p"},
          std::tuple{PING_PLUGIN, plugins / "generic/libprobe.so", ""}}) {
        fs::create_directories(to.parent_path());
        fs::copy_file(from, to);
        if (*caps != '\0' &&
            std::system(
                ("setcap " + std::string(caps) + " " + to.string() + " 2>/dev/null").c_str()) !=
                0) {
            GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended "
                            "attributes on the file system of "
                         << root << ")";
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        fs::permissions(entry, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }
    fs::create_directories(home);
    ASSERT_EQ(chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    const QString net = QString::fromStdString("--net=" + ns.path());
    for (const bool byVariable : {true, false}) {
        SCOPED_TRACE(byVariable ? "QT_QPA_GENERIC_PLUGINS" : "-plugin");
        for (const char* name : {"listening", "pinged", "report"}) {
            fs::remove(home / name);
        }
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), QString::fromStdString(home));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home));
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), QString::fromStdString(plugins));
        QStringList args{net,
                         QStringLiteral("setpriv"),
                         QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                         QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                         QStringLiteral("--clear-groups"),
                         QStringLiteral("--inh-caps=-all"),
                         QStringLiteral("--"),
                         QString::fromStdString(program)};
        if (byVariable) {
            env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("probe"));
        } else {
            args << QStringLiteral("-plugin") << QStringLiteral("probe");
        }
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(QStringLiteral("nsenter"), args);
        ASSERT_TRUE(window.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return fs::exists(home / "listening"); }, &window))
            << window.readAllStandardError().toStdString();

        // Its helper: holds the one raw socket, and nothing else of its file's.
        const auto helpers = childrenOf(pid_t(window.processId()));
        ASSERT_EQ(helpers.size(), 1u);
        const std::string proc = "/proc/" + std::to_string(helpers[0]);
        EXPECT_EQ(statusOf(helpers[0], "CapInh:CapPrm:CapEff:CapBnd:CapAmb:NoNewPrivs:"),
                  "CapInh:\t0000000000000000\nCapPrm:\t0000000000000000\n"
                  "CapEff:\t0000000000000000\nCapBnd:\t0000000000000000\n"
                  "CapAmb:\t0000000000000000\nNoNewPrivs:\t1\n");
        EXPECT_EQ(fs::read_symlink(proc + "/exe"), helper);
        EXPECT_EQ(std::distance(fs::directory_iterator(proc + "/fd"), {}), 3)
            << "its client and its raw ICMP and ICMPv6 sockets only, not the plugin's";
        // Unrelated ICMP, which the idle helper's sockets, the only raw ones
        // in the namespace once the pings have ended, must not queue.
        for (const char* host : {"127.0.0.1", "::1"}) {
            QProcess ping;
            ping.start(QStringLiteral("nsenter"),
                       {net, QStringLiteral("ping"), QStringLiteral("-c5"),
                        QStringLiteral("-i0.01"), QStringLiteral("-q"), QString::fromLatin1(host)});
            EXPECT_TRUE(ping.waitForFinished(10000) && ping.exitCode() == 0)
                << ping.readAllStandardError().toStdString();
        }
        EXPECT_EQ(rawIcmpQueues(proc), (std::vector<long>{0, 0}));
        QFile(QString::fromStdString(home / "pinged")).open(QIODevice::WriteOnly);

        ASSERT_TRUE(waitFor([&] { return fs::exists(home / "report"); }, &window));
        const QByteArray report = readFile(QString::fromStdString(home / "report"));
        EXPECT_TRUE(report.startsWith("caps 0 0 0 0\nheld 0\nopened 0\ntaken 0\nheard 0\n"))
            << report.data();
        EXPECT_EQ(report.count(" Reply from 127.0.0.1: Bytes = 32 RTT = "), 4) << report.data();
        window.kill();
        window.waitForFinished();
        EXPECT_TRUE(waitFor([&] {
            const std::string state = statusOf(helpers[0], "State:");
            return state.empty() || state.find("zombie") != std::string::npos;
        })) << "the helper outlived its window";
    }
}

}  // namespace
