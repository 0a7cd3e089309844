// A screen reader while an echo waits for a host that does not answer:
// tests/screen_reader.py, through AT-SPI, in a network namespace whose
// loopback ignores echoes, on a session bus of its own.

#include "netns.h"

#include <sys/wait.h>

namespace {

TEST(ScreenReader, shouldBeAnsweredWithinAnEchosWait) {
    const Netns quiet;
    if (*PING_PROGRAM == '\0' ||
        !quiet.shell("ip link set lo up; cd /proc/sys/net/ipv4; echo 1 >icmp_echo_ignore_all\n"
                     "echo 0 2147483647 >ping_group_range")) {
        GTEST_SKIP() << "needs root, for a network namespace, and a build with the window program";
    }
    const int status = std::system(("nsenter --net=" + quiet.path() +
                                    " dbus-run-session -- /usr/bin/python3 " PING_SOURCE_DIR
                                    "/tests/screen_reader.py " PING_PROGRAM)
                                       .c_str());
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no pyatspi (apt-get install python3-pyatspi)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
