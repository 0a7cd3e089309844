#include "platform/socket_library_linux.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <thread>
#include <tuple>

namespace {

TEST(LinuxSocketLibrary, shouldNegotiateTheVersionAndCountStarts) {
    const struct {
        uint16_t requested;
        int32_t result;
        uint16_t version;
    } cases[] = {
        {0x0101, 0, 0x0101}, {0x0202, 0, 0x0202}, {0x0103, 0, 0x0202}, {0x0302, 0, 0x0202},
        {0x0001, 0, 0x0001}, {0x0000, 10092, 0},  {0x0500, 10092, 0},
    };
    for (const auto& c : cases) {
        LinuxSocketLibrary library;
        WsaData data;
        EXPECT_EQ(library.WSAStartup(c.requested, data), c.result) << c.requested;
        EXPECT_EQ(std::tuple(data.wVersion, data.wHighVersion, data.iMaxSockets > 0),
                  std::tuple(c.version, c.result ? 0 : 0x0202, c.result == 0))
            << c.requested;
        EXPECT_EQ(library.startCount(), c.result == 0 ? 1 : 0) << c.requested;
    }
}

TEST(LinuxSocketLibrary, shouldRefuseEveryCallOutsideAStart) {
    LinuxSocketLibrary library;
    EXPECT_EQ(library.gethostbyname("127.0.0.1"), nullptr);
    EXPECT_EQ(library.WSAGetLastError(), 10093);
    EXPECT_EQ(library.WSACleanup(), -1);

    WsaData data;
    library.WSAStartup(0x0101, data);
    library.WSAStartup(0x0202, data);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_NE(library.gethostbyname("127.0.0.1"), nullptr);  // one start still open
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.gethostbyname("127.0.0.1"), nullptr);
    EXPECT_EQ(library.WSAGetLastError(), 10093);
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
    EXPECT_EQ(first->h_addr_list[1], nullptr);
}

}  // namespace
