// The system's socket library as the form uses it, on every system.

#include "fakes.h"
#include "system.h"

#include <thread>

namespace {

using namespace std::string_literals;

// A refused start opens none; every call outside a start is refused, and the
// last cleanup of nested starts closes the library.
TEST(SocketLibrary, shouldNegotiateTheVersionAndServeOnlyWhileStarted) {
    const struct {
        uint16_t requested;
        int32_t result;
        uint16_t version;
    } cases[] = {{0x0101, 0, 0x0101}, {0x0302, 0, 0x0202}, {0x0500, 10092, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        const bool started = c.result == 0;
        const auto library = systemSocketLibrary();
        WsaData data;
        EXPECT_EQ(library->WSAStartup(c.requested, data), c.result);
        EXPECT_EQ(data.wVersion, c.version);
        EXPECT_EQ(library->gethostbyname("127.0.0.1") != nullptr, started);
        library->WSAStartup(0x0202, data);
        EXPECT_EQ(library->WSACleanup(), 0);
        EXPECT_EQ(library->gethostbyname("127.0.0.1") != nullptr, started);
        EXPECT_EQ(library->WSACleanup(), started ? 0 : -1);
        EXPECT_EQ(library->gethostbyname("127.0.0.1"), nullptr);
        EXPECT_EQ(library->WSAGetLastError(), WsaError::NotInitialised);
    }
}

// The host texts that need no name server: the family and first address, or
// not found at once.
TEST(SocketLibrary, shouldTakeAddressesWithoutTheResolverAndRefuseWhatIsNoName) {
    const auto library = systemSocketLibrary();
    WsaData data;
    ASSERT_EQ(library->WSAStartup(0x0101, data), 0);
    const struct {
        const char* host;
        AddressFamily family;
        std::string address;  // empty: not found
        uint32_t zone = 0;
    } rows[] = {
        {" 127.0.0.1 ", AddressFamily::Inet, "\x7F\0\0\x01"s},
        {"0x7f.1", AddressFamily::Inet, "\x7F\0\0\x01"s},
        {"[::1]", AddressFamily::Inet6, std::string(15, '\0') + '\x01'},
        {"fe80::1%1", AddressFamily::Inet6, "\xFE\x80" + std::string(13, '\0') + '\x01', 1},
        {"127.0.0.1 x", AddressFamily::Inet, ""},
        {"a..b", AddressFamily::Inet, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        const HostEnt* entry = library->gethostbyname(row.host);
        if (row.address.empty()) {
            EXPECT_EQ(entry, nullptr);
            EXPECT_EQ(library->WSAGetLastError(), WsaError::HostNotFound);
        } else {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->h_addrtype, row.family);
            EXPECT_EQ(std::string(entry->h_addr_list[0], size_t(entry->h_length)), row.address);
            EXPECT_EQ(entry->h_scope_id, row.zone);
        }
    }
}

// Each thread's answer is its own, overwritten by the thread's next lookup.
TEST(SocketLibrary, shouldKeepTheAnswerPerThread) {
    const auto library = systemSocketLibrary();
    WsaData data;
    library->WSAStartup(0x0101, data);
    const HostEnt* first = library->gethostbyname("198.18.0.1");
    ASSERT_NE(first, nullptr);
    std::thread([&] {
        EXPECT_EQ(library->WSAGetLastError(), 0);  // a thread's own, none yet
        EXPECT_NE(library->gethostbyname("198.18.0.2"), first);
    }).join();
    EXPECT_EQ(std::string(first->h_addr_list[0], 4), "\xC6\x12\0\x01"s);
    EXPECT_EQ(library->gethostbyname("198.18.0.3"), first);
    EXPECT_EQ(std::string(first->h_addr_list[0], 4), "\xC6\x12\0\x03"s);
    EXPECT_EQ(first->h_addr_list[1], nullptr);
}

}  // namespace
