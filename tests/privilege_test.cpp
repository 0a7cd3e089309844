// What a local user can get at through the program: its ICMP helper, fed any
// request; the window process, made to load a plugin of the user's own.

#include "netns.h"
#include "platform/icmp_process_linux.h"

#include <arpa/inet.h>
#include <pwd.h>

#include <iterator>

namespace {

namespace fs = std::filesystem;

// Packets sent on lo in the calling thread's network namespace.
long sentOnLoopback() {
    std::ifstream dev("/proc/thread-self/net/dev");
    dev.ignore(1 << 12, ':');  // past the headings and "lo:", the namespace's only link
    const std::vector<long> fields{std::istream_iterator<long>(dev), {}};
    return fields.at(9);  // after 8 of receiving, and the bytes sent
}

TEST(IcmpHelperProgram, shouldEndWithoutSendingOnAnyRequestButAValidOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, for the raw socket and a network namespace to count in";
    }
    // Not started on a socket pair: it ends before it opens anything.
    EXPECT_EQ(WEXITSTATUS(std::system(PING_HELPER " </dev/null")), 2);
    for (const auto& [path, start, error] :
         {std::tuple("/nowhere/helper", IcmpHelperProcess::Start::Missing, ENOENT),
          {"/dev/null", IcmpHelperProcess::Start::Failed, EACCES}}) {
        IcmpHelperProcess helper(path);
        EXPECT_EQ(std::pair(helper.start(), helper.error()), std::pair(start, error)) << path;
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
        {"last multicast", bytes([](auto& r) { r.destination = htonl(0xefffffff); }), false},
        {"IPv4 with a zone", bytes([](auto& r) { r.scopeId = 1; }), false},
        {"IPv6 ::1", bytes([](auto& r) { r.destination = 0, r.destination6[15] = 1; }), true},
        {"IPv6 and IPv4", bytes([](auto& r) { r.destination6[15] = 1; }), false},
        {"ff02::", bytes([](auto& r) {
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
        const auto answer =
            helper.answer(std::chrono::steady_clock::now() + std::chrono::seconds(5));
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
std::string rawQueues(const std::string& proc) {
    std::string queues, field;
    for (const char* table : {"/net/raw", "/net/raw6"}) {
        std::ifstream lines(proc + table);
        for (std::getline(lines, field); lines >> field >> field >> field >> field >> field;
             lines.ignore(1 << 12, '\n')) {
            queues += field.substr(field.find(':') + 1) + ' ';  // tx_queue:rx_queue
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

// The attack as a user would make it: the program, with the capability an
// older version put on its file, started as nobody with a plugin of the
// user's own in a network namespace of its own. The plugin (privilege_probe)
// pings 127.0.0.1 through the window, says what it finds in its process, and
// whether it got any of the ICMP of the iputils pings (of 127.0.0.1 and ::1)
// the test runs meanwhile.
TEST(AsNobody, shouldPingThroughTheHelperWithNothingForAPluginToTakeOrHear) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr || std::system("command -v setpriv >/dev/null") != 0) {
        GTEST_SKIP() << "needs root, a user nobody and setpriv to start a program unprivileged";
    }
    // A copy of the build tree's files, within nobody's reach.
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString(), home = root + "/home";
    const std::string copy = "cd " + root +
                             " && cp --parents " PING_PROGRAM " " PING_HELPER
                             " . && mkdir -p plugins/generic && cp " PING_PLUGIN
                             " plugins/generic/libprobe.so && chmod -R o+rX . && "
                             "setcap cap_net_raw+p ." PING_PROGRAM
                             " && setcap cap_net_raw,cap_setpcap=p ." PING_HELPER;
    if (std::system(copy.c_str()) != 0) {
        GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended attributes on "
                     << root << ")";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    for (const bool byVariable : {true, false}) {
        SCOPED_TRACE(byVariable ? "QT_QPA_GENERIC_PLUGINS" : "-plugin");
        ASSERT_EQ(std::system(("rm -rf " + home + " && install -d -o nobody " + home).c_str()), 0);
        // Its environment only; a blank list of plugins is none.
        const std::string command =
            "-i QT_QPA_PLATFORM=offscreen HOME=" + home + " XDG_RUNTIME_DIR=" + home +
            " QT_PLUGIN_PATH=" + root +
            "/plugins QT_QPA_GENERIC_PLUGINS=" + (byVariable ? "probe" : "") +
            " nsenter --net=" + ns.path() +
            " setpriv --reuid=nobody --regid=" + std::to_string(nobody->pw_gid) +
            " --clear-groups --inh-caps=-all -- " + root + PING_PROGRAM +
            (byVariable ? "" : " -plugin probe");
        QProcess window;
        window.start(QStringLiteral("env"), QString::fromStdString(command).split(u' '));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(home + "/listening"); }, 30000))
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
        EXPECT_EQ(rawQueues(proc), "00000000 00000000 ");
        std::ofstream{home + "/pinged"} << helpers[0];

        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(home + "/report"); }, 30000));
        EXPECT_EQ(statusOf(pid_t(window.processId()), "CapInh:CapPrm:CapEff:CapAmb:"),
                  std::string(4 * 16, '0'));
        const QByteArray report = readFile(QString::fromStdString(home + "/report"));
        EXPECT_TRUE(report.startsWith("held 0\ntaken 0\nheard 0\n")) << report.data();
        EXPECT_EQ(report.count(" Reply from 127.0.0.1: Bytes = 32 RTT = "), 4) << report.data();
        window.kill();
        window.waitForFinished();
        // A zombie has no exe either.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(proc + "/exe"); }, 30000))
            << "the helper outlived its window";
    }
}

}  // namespace
