#include "platform/socket_library_linux.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <thread>

namespace {

TEST(LinuxSocketLibrary, shouldNegotiateTheVersionAndCountStarts) {
    const struct {
        uint16_t requested;
        int32_t result;
        uint16_t version;
    } cases[] = {
        {0x0101, 0, 0x0101}, {0x0202, 0, 0x0202}, {0x0303, 0, 0x0202}, {0x0001, 0, 0x0001},
        {0x0002, 0, 0x0002}, {0x0000, 10092, 0},  {0x0500, 10092, 0},
    };
    for (const auto& c : cases) {
        LinuxSocketLibrary library;
        WsaData data;
        EXPECT_EQ(library.WSAStartup(c.requested, data), c.result) << c.requested;
        EXPECT_EQ(data.wVersion, c.version) << c.requested;
        EXPECT_EQ(library.startCount(), c.result == 0 ? 1 : 0) << c.requested;
        if (c.result == 0) {
            EXPECT_EQ(data.wHighVersion, 0x0202);
            EXPECT_GT(data.iMaxSockets, 0);
        }
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

TEST(LinuxSocketLibrary, shouldReportWhatTheTestsAskFor) {
    LinuxSocketLibrary::Traits traits;
    traits.highestVersion = 0x0900;
    traits.maxSockets = 0x8000;
    LinuxSocketLibrary old(traits);
    WsaData data;
    EXPECT_EQ(old.WSAStartup(0x0101, data), 0);
    EXPECT_EQ(data.wVersion, 0x0900);
    EXPECT_EQ(data.iMaxSockets, 0x8000);

    traits.startFailure = 10091;
    LinuxSocketLibrary silent(traits);
    WsaData untouched;
    EXPECT_EQ(silent.WSAStartup(0x0101, untouched), 10091);
    EXPECT_EQ(untouched.wVersion, 0);
    EXPECT_EQ(silent.startCount(), 0);
}

std::string firstAddress(const HostEnt* entry) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, entry->h_addr_list[0], text, sizeof text);
    return text;
}

TEST(LinuxSocketLibrary, shouldLookUpNamesAndDottedAddressesOnly) {
    LinuxSocketLibrary library;
    WsaData data;
    library.WSAStartup(0x0101, data);
    const struct {
        const char* name;
        const char* address;  // null: does not resolve
        int32_t error;
    } cases[] = {
        {"localhost", "127.0.0.1", 0}, {"127.0.0.1", "127.0.0.1", 0},
        {"10.1.2.3", "10.1.2.3", 0},   {"nowhere.invalid", nullptr, 11001},
        {"", nullptr, 11001},          {"::1", nullptr, 11004},
    };
    for (const auto& c : cases) {
        const HostEnt* entry = library.gethostbyname(c.name);
        if (c.address == nullptr) {
            EXPECT_EQ(entry, nullptr) << c.name;
            EXPECT_EQ(library.WSAGetLastError(), c.error) << c.name;
            continue;
        }
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_EQ(entry->h_addrtype, AF_INET);
        EXPECT_EQ(entry->h_length, 4);
        EXPECT_EQ(firstAddress(entry), c.address) << c.name;
    }
}

TEST(LinuxSocketLibrary, shouldKeepTheAnswerAndTheLastErrorPerThread) {
    LinuxSocketLibrary library;
    WsaData data;
    library.WSAStartup(0x0101, data);
    const HostEnt* first = library.gethostbyname("10.0.0.1");
    ASSERT_NE(first, nullptr);
    const int32_t before = library.WSAGetLastError();
    std::thread other([&] {
        EXPECT_EQ(library.gethostbyname("nowhere.invalid"), nullptr);
        EXPECT_EQ(library.WSAGetLastError(), 11001);
        EXPECT_NE(library.gethostbyname("10.0.0.2"), first);
    });
    other.join();
    EXPECT_EQ(firstAddress(first), "10.0.0.1");
    EXPECT_EQ(library.WSAGetLastError(), before);
    // The next lookup on this thread overwrites the answer.
    EXPECT_EQ(library.gethostbyname("10.0.0.3"), first);
    EXPECT_EQ(firstAddress(first), "10.0.0.3");
}

}  // namespace
