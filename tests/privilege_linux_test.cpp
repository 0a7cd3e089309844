// What a local user can get at through the program: its ICMP helper, fed any
// request; the window process, made to load a plugin of the user's own.

#include "netns.h"
#include "platform/icmp_process_linux.h"
#include "real_form_linux.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// It checks each request before it sends anything.
TEST(IcmpHelperProgram, shouldServeAValidRequestAndEndOnAnyOther) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, for the raw socket";
    }
    // Not started on a socket pair: it ends before it opens anything.
    EXPECT_EQ(WEXITSTATUS(std::system(PING_HELPER " </dev/null")), 2);
    const IcmpHelperProcess missing("/nowhere/helper"), notAProgram("/dev/null");
    EXPECT_EQ(std::tuple(missing.start(), missing.error(), missing.serving()),
              std::tuple(IcmpHelperProcess::Start::Missing, ENOENT, false));
    EXPECT_EQ(std::tuple(notAProgram.start(), notAProgram.error(), notAProgram.serving()),
              std::tuple(IcmpHelperProcess::Start::Failed, EACCES, false));
    static constexpr icmp::Address6 kGroup{0xff, 2},
        kMapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
    // Each a change of a valid echo of 127.0.0.1 (served as in the network tests),
    // and the bytes sent beyond it.
    const std::tuple<const char*, void (*)(icmp::Request&), bool, int> rows[] = {
        {"the largest", [](auto& r) { r.size = 32767, r.timeoutMs = 10000; }, true, 0},
        {"a byte short", [](auto&) {}, false, -1},
        {"a byte more", [](auto&) {}, false, 1},
        {"size 32768", [](auto& r) { r.size = 32768; }, false, 0},
        {"time-out 999 ms", [](auto& r) { r.timeoutMs = 999; }, false, 0},
        {"time-out 10001 ms", [](auto& r) { r.timeoutMs = 10001; }, false, 0},
        {"the zero byte set", [](auto& r) { r.zero = 1; }, false, 0},
        {"broadcast", [](auto& r) { r.destination = INADDR_BROADCAST; }, false, 0},
        {"multicast", [](auto& r) { r.destination = inet_addr("224.0.0.1"); }, false, 0},
        {"IPv4 with a zone", [](auto& r) { r.scopeId = 1; }, false, 0},
        {"processor -2", [](auto& r) { r.processor = -2; }, false, 0},
        {"processor 1024, past the set", [](auto& r) { r.processor = CPU_SETSIZE; }, false, 0},
        {"IPv6 and IPv4", [](auto& r) { r.destination6[15] = 1; }, false, 0},
        {"ff02::", [](auto& r) { r.destination = 0, r.destination6 = kGroup; }, false, 0},
        {"IPv4-mapped", [](auto& r) { r.destination = 0, r.destination6 = kMapped; }, false, 0},
    };
    for (const auto& [name, change, served, extra] : rows) {
        SCOPED_TRACE(name);
        IcmpHelperProcess helper(LinuxIcmpLibrary::helperPath());
        ASSERT_EQ(helper.start(), IcmpHelperProcess::Start::Serving) << helper.error();
        icmp::Request request{inet_addr("127.0.0.1"), 8, 64, 0, 1000};
        change(request);
        std::string bytes(reinterpret_cast<const char*>(&request), sizeof request);
        bytes.resize(bytes.size() + extra);
        ASSERT_EQ(send(helper.fd(), bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        // Ended: an answer of result 0 at once.
        const auto answer = helper.answer(icmp::Clock::now() + std::chrono::seconds(5));
        EXPECT_EQ(answer.value_or(icmp::Outcome{}).response.result, served ? 1u : 0u);
        EXPECT_EQ(helper.serving(), served);
    }
}

// As nobody, with neither a ping socket nor the helper's capability: lines
// that fit the results box, with the commands for this very helper file.
TEST(IcmpHelperProgram, shouldSayHowToPermitIcmpWhereNothingIs) {
    const passwd* nobody = getpwnam("nobody");
    const std::string helper = fs::canonical(PING_HELPER).string();
    if (geteuid() != 0 || nobody == nullptr ||
        std::system(("runuser -u nobody -- test -x " + helper).c_str()) != 0) {
        GTEST_SKIP() << "needs root, and a build tree within nobody's reach, to start the helper "
                        "as nobody";
    }
    EXPECT_EXIT(
        {
            if (setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0) {
                RealForm r(LinuxIcmpLibrary::SocketKind::HelperOnly);
                std::fputs(utf8(r.run(u"127.0.0.1", u"1")).c_str(), stderr);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "ICMP is not permitted.*sudo setcap cap_net_raw,cap_setpcap=p.*" + helper + "\r\n");
}

// The attack as a user would make it: the program, with the capability an
// older version put on its file, started as nobody with a plugin of the
// user's own in a network namespace of its own. The plugin (privilege_probe)
// pings 127.0.0.1 through the window and says what it finds for the taking.
TEST(AsNobody, shouldPingThroughTheHelperWithNothingForAPluginToTakeOrHear) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr || std::system("command -v setpriv >/dev/null") != 0 ||
        *PING_PROGRAM == '\0') {
        GTEST_SKIP() << "needs root, a user nobody and setpriv to start a program unprivileged, "
                        "and the window program, which a build without the toolkit lacks";
    }
    // A copy of the build tree's files, within nobody's reach.
    const TempFolder dir;
    const std::string root = dir.path.string(), home = root + "/home";
    const std::string copy = "cd " + root +
                             " && cp --parents " PING_PROGRAM " " PING_HELPER
                             " . && mkdir -p plugins/generic && cp " PING_PLUGIN
                             " plugins/generic/libprobe.so && chmod -R o+rX . && "
                             "install -d -o nobody home && setcap cap_net_raw+p ." PING_PROGRAM
                             " && setcap cap_net_raw,cap_setpcap=p ." PING_HELPER;
    if (std::system(copy.c_str()) != 0) {
        GTEST_SKIP() << "no file capabilities here (setcap missing, or no extended attributes on "
                     << root << ")";
    }
    const Netns ns;
    ASSERT_TRUE(ns.shell("ip link set lo up"));
    // Its environment only; each command execs the next, so the process is the window's.
    const std::string command =
        "exec env -i QT_QPA_PLATFORM=offscreen HOME=" + home + " XDG_RUNTIME_DIR=" + home +
        " QT_PLUGIN_PATH=" + root +
        "/plugins QT_QPA_GENERIC_PLUGINS=probe nsenter --net=" + ns.path() +
        " setpriv --reuid=nobody --regid=" + std::to_string(nobody->pw_gid) +
        " --clear-groups --inh-caps=-all -- " + root + PING_PROGRAM + " 2>" + root + "/said";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0) << strerror(errno);
    // Ended with the test, whatever happens.
    std::shared_ptr<void> window(nullptr, [pid](void*) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    });
    ASSERT_TRUE(eventually([&] { return fs::exists(home + "/report"); }))
        << content(root + "/said");
    const std::string report = content(home + "/report");
    const std::regex expected(
        "^held 0\ntaken 0\n( Reply from 127\\.0\\.0\\.1: Bytes = 32 RTT = [^\\n]+\\n){4}");
    EXPECT_TRUE(std::regex_search(report, expected)) << report;

    // Its helper: holds the one raw socket, and nothing else of its file's; the
    // window no capability but in its bounding set.
    const auto helpers = childrenOf(pid);
    ASSERT_EQ(helpers.size(), 1u);
    const std::string proc = "/proc/" + std::to_string(helpers[0]);
    for (const auto& [process, bounding] :
         {std::pair(helpers[0], "0{16}\nCapAmb:\t0{16}\nNoNewPrivs:\t1\nSeccomp:\t2\n"),
          {pid, "\\w+\nCapAmb:\t0{16}\n"}}) {
        const std::string status = content("/proc/" + std::to_string(process) + "/status");
        const std::string caps = "CapInh:\t0{16}\nCapPrm:\t0{16}\nCapEff:\t0{16}\nCapBnd:\t";
        EXPECT_TRUE(std::regex_search(status, std::regex(caps + bounding))) << status;
    }
    EXPECT_EQ(fs::read_symlink(proc + "/exe"), root + PING_HELPER);
    EXPECT_EQ(std::distance(fs::directory_iterator(proc + "/fd"), {}), 3)
        << "its client and its raw ICMP and ICMPv6 sockets only, not the plugin's";
    // Unrelated ICMP, which the idle helper's sockets, the only raw ones in
    // the namespace once the pings have ended, must not queue.
    EXPECT_TRUE(ns.shell("for h in 127.0.0.1 ::1; do ping -c5 -i0.01 -q $h >/dev/null; done"));
    for (const char* table : {"/net/raw", "/net/raw6"}) {
        const std::string sockets = content(proc + table);
        EXPECT_TRUE(std::regex_match(
            sockets, std::regex("[^\\n]*\\n *\\d+: (\\S+ ){3}00000000:00000000 [^\\n]*\\n")))
            << sockets;
    }
    window.reset();
    // A zombie has no exe either.
    EXPECT_TRUE(eventually([&] { return !fs::exists(proc + "/exe"); }))
        << "the helper outlived its window";
}

}  // namespace
