#include "platform/socket_library_linux.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <thread>
#include <tuple>

namespace {

// Every call outside a start is refused; a refused start opens none, and
// the last cleanup of nested starts closes the library.
TEST(LinuxSocketLibrary, shouldNegotiateTheVersionAndServeOnlyWhileStarted) {
    // Requested, the result, the version given.
    const std::tuple<uint16_t, int32_t, uint16_t> cases[] = {
        {0x0101, 0, 0x0101}, {0x0302, 0, 0x0202}, {0x0500, 10092, 0}};
    for (const auto& [requested, result, version] : cases) {
        SCOPED_TRACE(requested);
        const bool started = result == 0;
        LinuxSocketLibrary library;
        WsaData data;
        EXPECT_EQ(library.WSAStartup(requested, data), result);
        EXPECT_EQ(std::tuple(data.wVersion, data.wHighVersion, data.iMaxSockets > 0,
                             library.startCount()),
                  std::tuple(version, started ? 0x0202 : 0, started, started ? 1 : 0));
        EXPECT_EQ(library.gethostbyname("127.0.0.1") != nullptr, started);
        library.WSAStartup(0x0202, data);
        EXPECT_EQ(library.WSACleanup(), 0);
        EXPECT_EQ(library.gethostbyname("127.0.0.1") != nullptr, started);
        EXPECT_EQ(library.WSACleanup(), started ? 0 : -1);
        EXPECT_EQ(library.gethostbyname("127.0.0.1"), nullptr);
        EXPECT_EQ(library.WSAGetLastError(), 10093);
    }
}

std::string firstAddress(const HostEnt* entry) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, entry->h_addr_list[0], text, sizeof text);
    return text;
}

TEST(LinuxSocketLibrary, shouldKeepTheAnswerAndTheLastErrorPerThread) {
    LinuxSocketLibrary library;
    WsaData data;
    library.WSAStartup(0x0101, data);
    const HostEnt* first = library.gethostbyname("198.18.0.1");
    ASSERT_NE(first, nullptr);
    const int32_t before = library.WSAGetLastError();
    std::thread other([&] {
        EXPECT_EQ(library.gethostbyname("nowhere.invalid"), nullptr);
        EXPECT_EQ(library.WSAGetLastError(), 11001);
        EXPECT_NE(library.gethostbyname("198.18.0.2"), first);
    });
    other.join();
    EXPECT_EQ(firstAddress(first), "198.18.0.1");
    EXPECT_EQ(library.WSAGetLastError(), before);
    // The next lookup on this thread overwrites the answer.
    EXPECT_EQ(library.gethostbyname("198.18.0.3"), first);
    EXPECT_EQ(firstAddress(first), "198.18.0.3");
    EXPECT_EQ(first->h_length, 4);
    EXPECT_EQ(first->h_addr_list[1], nullptr);
}

}  // namespace
