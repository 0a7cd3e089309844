// What a local user can get at through the program: its ICMP helper, fed any
// request; the window process, made to load a plugin of the user's own.

#include "netns.h"
#include "platform/icmp_process_linux.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pwd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Packets sent on lo in the calling thread's network namespace.
long sentOnLoopback() {
    std::ifstream dev("/proc/thread-self/net/dev");
    std::string word;
    while (dev >> word && word != "lo:") {
    }
    long field = -1;
    for (int i = 0; i < 10; ++i) {  // the 10th: packets sent
        dev >> field;
    }
    return field;
}

TEST(IcmpHelperProgram, shouldEndWithoutSendingOnAnyRequestButAValidOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, for the raw socket and a network namespace to count in";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    const InNetns in(ns);
    const auto bytes = [](void (*change)(icmp::Request&), int extra = 0) {
        icmp::Request r{inet_addr("127.0.0.1"), 8, 64, 0, 1000};
        change(r);
        std::string out(reinterpret_cast<const char*>(&r), sizeof r);
        out.resize(out.size() + extra);
        return out;
    };
    static constexpr icmp::Address6 kMapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
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
        const long before = sentOnLoopback();
        ASSERT_EQ(send(helper.fd(), row.request.data(), row.request.size(), 0),
                  ssize_t(row.request.size()));
        // Ended: an answer of result 0 at once.
        const auto answer = helper.answer(Clock::now() + std::chrono::seconds(5));
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->response.result, row.served ? 1u : 0u);
        EXPECT_EQ(helper.serving(), row.served);
        EXPECT_EQ(sentOnLoopback() - before, row.served ? 2 : 0)
            << "an echo and its reply, or none";
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
        "\r\nor let every group open ping sockets:\r\n"
        "  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\r\n";
    EXPECT_EXIT(
        {
            if (setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
                setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0) {
                std::exit(2);
            }
            LinuxIcmpHelper icmp(LinuxIcmpHelper::SocketKind::HelperOnly);
            const bool refused = icmp.IcmpCreateFile() == IcmpHelper::kInvalidHandle;
            std::fputs(icmp.openFailure().c_str(), stderr);
            std::exit(refused && icmp.openFailure() == expected ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// The receive queues of the raw sockets in a process's network namespace.
std::vector<long> rawQueues(const std::string& proc) {
    std::vector<long> queues;
    for (const char* table : {"/net/raw", "/net/raw6"}) {
        std::ifstream lines(proc + table);
        std::string line, field, queue;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream(line) >> field >> field >> field >> field >> queue;
            queues.push_back(std::stol(queue.substr(queue.find(':') + 1), nullptr, 16));
        }
    }
    return queues;
}

// The values of the lines of /proc/PID/status with these names, run together.
std::string statusOf(pid_t pid, const std::string& names) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string found;
    for (std::string line; std::getline(status, line);) {
        const size_t colon = line.find(':');
        if (names.find(line.substr(0, colon + 1)) != std::string::npos) {
            found += line.substr(colon + 2);
        }
    }
    return found;
}

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1500 && !done(); ++i) {
        QThread::msleep(20);
    }
    return done();
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
    // A copy of the build tree's files, within nobody's reach.
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString(), home = root + "/home";
    ASSERT_EQ(std::system(("cd " + root +
                           " && cp --parents " PING_PROGRAM " " PING_HELPER
                           " . && mkdir -p plugins/generic && cp " PING_PLUGIN
                           " plugins/generic/libprobe.so && chmod -R o+rX .")
                              .c_str()),
              0);
    if (std::system(("{ setcap cap_net_raw+p " + root + PING_PROGRAM +
                     " && setcap cap_net_raw,cap_setpcap=p " + root + PING_HELPER +
                     "; } 2>/dev/null")
                        .c_str()) != 0) {
        GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended attributes on "
                        "the file system of "
                     << root << ")";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    for (const bool byVariable : {true, false}) {
        SCOPED_TRACE(byVariable ? "QT_QPA_GENERIC_PLUGINS" : "-plugin");
        fs::remove_all(home);
        fs::create_directory(home);
        ASSERT_EQ(chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        const QString h = QString::fromStdString(home), r = QString::fromStdString(root);
        QProcess window;
        // A blank list of plugins is none.
        window.setEnvironment(
            {"QT_QPA_PLATFORM=offscreen", "HOME=" + h, "XDG_RUNTIME_DIR=" + h,
             "QT_PLUGIN_PATH=" + r + "/plugins",
             byVariable ? "QT_QPA_GENERIC_PLUGINS=probe" : "QT_QPA_GENERIC_PLUGINS="});
        window.start(
            QStringLiteral("nsenter"),
            QString::asprintf("--net=%s setpriv --reuid=%u --regid=%u --clear-groups "
                              "--inh-caps=-all -- %s%s",
                              ns.path().c_str(), nobody->pw_uid, nobody->pw_gid,
                              (root + PING_PROGRAM).c_str(), byVariable ? "" : " -plugin probe")
                .split(u' '));
        ASSERT_TRUE(window.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return fs::exists(home + "/listening"); }))
            << window.readAllStandardError().toStdString();

        // Its helper: holds the one raw socket, and nothing else of its file's.
        const auto helpers = childrenOf(pid_t(window.processId()));
        ASSERT_EQ(helpers.size(), 1u);
        const std::string proc = "/proc/" + std::to_string(helpers[0]);
        EXPECT_EQ(statusOf(helpers[0], "CapInh:CapPrm:CapEff:CapBnd:CapAmb:NoNewPrivs:"),
                  std::string(5 * 16, '0') + "1");
        EXPECT_EQ(fs::read_symlink(proc + "/exe"), root + PING_HELPER);
        EXPECT_EQ(std::distance(fs::directory_iterator(proc + "/fd"), {}), 3)
            << "its client and its raw ICMP and ICMPv6 sockets only, not the plugin's";
        // Unrelated ICMP, which the idle helper's sockets, the only raw ones
        // in the namespace once the pings have ended, must not queue.
        EXPECT_TRUE(ns.shell("for h in 127.0.0.1 ::1; do ping -c5 -i0.01 -q $h >/dev/null; done"));
        EXPECT_EQ(rawQueues(proc), (std::vector<long>{0, 0}));
        std::ofstream{home + "/pinged"};

        ASSERT_TRUE(waitFor([&] { return fs::exists(home + "/report"); }));
        EXPECT_EQ(statusOf(pid_t(window.processId()), "CapInh:CapPrm:CapEff:CapAmb:"),
                  std::string(4 * 16, '0'));
        const QByteArray report = readFile(h + "/report");
        EXPECT_TRUE(report.startsWith("held 0\ntaken 0\nheard 0\n")) << report.data();
        EXPECT_EQ(report.count(" Reply from 127.0.0.1: Bytes = 32 RTT = "), 4) << report.data();
        window.kill();
        window.waitForFinished();
        EXPECT_TRUE(waitFor([&] {
            const std::string state = statusOf(helpers[0], "State:");
            return state.empty() || state[0] == 'Z';
        })) << "the helper outlived its window";
    }
}

}  // namespace
