// The system's socket library as the form uses it, on every system.

#include "fakes.h"
#include "system.h"

namespace {

using namespace std::string_literals;

// A refused start opens none; every call outside a start is refused, and the
// last cleanup of nested starts closes the library.
TEST(SocketLibrary, shouldNegotiateTheVersionAndServeOnlyWhileStarted) {
    // The version requested; the start's result and the version it gives.
    const std::tuple<uint16_t, int32_t, uint16_t> cases[] = {
        {0x0101, 0, 0x0101}, {0x0302, 0, 0x0202}, {0x0500, 10092, 0}};
    for (const auto& [requested, result, version] : cases) {
        SCOPED_TRACE(requested);
        const bool started = result == 0;
        const auto library = systemSocketLibrary();
        WsaData data;
        EXPECT_EQ(library->WSAStartup(requested, data), result);
        EXPECT_EQ(data.wVersion, version);
        EXPECT_TRUE(data.iMaxSockets > 0 || version != 0x0101);  // from 2.0 on, Windows gives 0
        EXPECT_EQ(library->gethostbyname("127.0.0.1") != nullptr, started);
        library->WSAStartup(0x0202, data);
        EXPECT_EQ(library->WSACleanup(), 0);
        EXPECT_EQ(library->gethostbyname("127.0.0.1") != nullptr, started);
        EXPECT_EQ(library->WSACleanup(), started ? 0 : -1);
        EXPECT_EQ(library->gethostbyname("127.0.0.1"), nullptr);
        EXPECT_EQ(library->WSAGetLastError(), WsaError::NotInitialised);
    }
}

// The host texts that need no name server: the family, first address and
// zone, or not found at once.
TEST(SocketLibrary, shouldTakeAddressesWithoutTheResolverAndRefuseWhatIsNoName) {
    const auto library = systemSocketLibrary();
    WsaData data;
    ASSERT_EQ(library->WSAStartup(0x0101, data), 0);
    // The host; its family, first address (none: not found) and zone.
    const std::tuple<const char*, AddressFamily, std::string, uint32_t> rows[] = {
        {" 127.0.0.1 ", AddressFamily::Inet, "\x7F\0\0\x01"s, 0},
        {"0x7f.1", AddressFamily::Inet, "\x7F\0\0\x01"s, 0},
        {"[::1]", AddressFamily::Inet6, std::string(15, '\0') + '\x01', 0},
        {"fe80::1%1", AddressFamily::Inet6, "\xFE\x80" + std::string(13, '\0') + '\x01', 1},
        {"127.0.0.1 x", AddressFamily::Inet, "", 0},
        {"a..b", AddressFamily::Inet, "", 0},
    };
    for (const auto& [host, family, bytes, zone] : rows) {
        SCOPED_TRACE(host);
        const HostEnt* entry = library->gethostbyname(host);
        if (bytes.empty()) {
            EXPECT_EQ(entry, nullptr);
            EXPECT_EQ(library->WSAGetLastError(), WsaError::HostNotFound);
        } else {
            ASSERT_NE(entry, nullptr);
            const std::string first(entry->h_addr_list[0], size_t(entry->h_length));
            EXPECT_EQ(std::tuple(entry->h_addrtype, first, entry->h_scope_id),
                      std::tuple(family, bytes, zone));
            EXPECT_EQ(entry->h_addr_list[1], nullptr);  // one entry, whatever the socket kinds
        }
    }
}

}  // namespace
