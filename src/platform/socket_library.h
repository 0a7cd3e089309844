#pragma once

#include <cstdint>

// The socket library's description record: the fields that callers read.
struct WsaData {
    uint16_t wVersion = 0;      // major in the low byte, minor in the high byte
    uint16_t wHighVersion = 0;  // the highest version the library offers
    uint16_t iMaxSockets = 0;
};

// A host entry's address family: IPv4 as the system's record numbers it, and
// IPv6, which the program's lookup adds.
enum class AddressFamily : int16_t {
    Inet = 2,
    Inet6,
};

// A host entry as the resolver answers it; h_addr_list ends with a null entry.
// An IPv6 host's entry has the family AddressFamily::Inet6, addresses of 16
// bytes, and their zone.
struct HostEnt {
    const char* h_name = nullptr;
    const char* const* h_aliases = nullptr;
    AddressFamily h_addrtype = AddressFamily::Inet;
    int16_t h_length = 0;
    const char* const* h_addr_list = nullptr;
    uint32_t h_scope_id = 0;  // the interface (its index) of link-local addresses; 0: none
};

namespace WsaError {
inline constexpr int32_t NotInitialised = 10093;
inline constexpr int32_t VersionNotSupported = 10092;
inline constexpr int32_t HostNotFound = 11001;
inline constexpr int32_t TryAgain = 11002;
inline constexpr int32_t NoRecovery = 11003;
inline constexpr int32_t NoData = 11004;
}  // namespace WsaError

// The socket library service: counted starts and stops, and the name lookup.
class SocketLibrary {
public:
    virtual ~SocketLibrary() = default;

    // 0 when started and data filled, otherwise an error code.
    virtual int32_t WSAStartup(uint16_t versionRequested, WsaData& data) = 0;
    virtual int32_t WSACleanup() = 0;

    // name in the locale's encoding, NUL-terminated. The answer belongs to the
    // library and is overwritten by the calling thread's next lookup; null
    // when the name does not resolve (WSAGetLastError says why). IPv4 where
    // the name has an IPv4 address, else IPv6.
    virtual const HostEnt* gethostbyname(const char* name) = 0;

    // The calling thread's last error.
    virtual int32_t WSAGetLastError() = 0;
};
