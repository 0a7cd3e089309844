#include "platform/socket_library_linux.h"

#include "platform/blanks.h"
#include "platform/host_name.h"

#include <idn2.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr int32_t kSocketError = -1;

thread_local int32_t lastError = 0;
thread_local HostAnswer answer;

int majorOf(uint16_t word) {
    return word & 0xFF;
}
int minorOf(uint16_t word) {
    return word >> 8;
}

uint16_t openFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 32767;
    }
    return static_cast<uint16_t>(std::min<rlim_t>(limit.rlim_cur, 32767));
}

// The name as it goes to the resolver and on to a name server: an
// internationalised name in its ASCII form, which is what the limits count.
// Nothing when the text cannot be a host name, so that none of it leaves the
// program.
std::optional<std::string> nameOnTheWire(std::string_view text) {
    std::string wire(text);
    if (!isAscii(text)) {
        char* ace = nullptr;
        const int converted =
            idn2_to_ascii_lz(wire.c_str(), &ace, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
        wire = converted == IDN2_OK ? ace : "";
        idn2_free(ace);
    }
    return isHostName(wire) ? std::optional(wire) : std::nullopt;
}

// An IPv4 address, also one mapped into IPv6, which is how the resolver gives
// a text such as ::ffff:127.0.0.1.
std::optional<std::array<char, 4>> ipv4Of(const addrinfo& ai) {
    std::array<char, 4> bytes;
    if (ai.ai_family == AF_INET) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai.ai_addr);
        std::copy_n(reinterpret_cast<const char*>(&sin->sin_addr.s_addr), 4, bytes.begin());
        return bytes;
    }
    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(ai.ai_addr);
    if (ai.ai_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&sin6->sin6_addr)) {
        std::copy_n(reinterpret_cast<const char*>(&sin6->sin6_addr) + 12, 4, bytes.begin());
        return bytes;
    }
    return std::nullopt;
}

int32_t lookupError(int eai) {
    switch (eai) {
        case EAI_NONAME:
            return WsaError::HostNotFound;
        case EAI_AGAIN:
            return WsaError::TryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return WsaError::NoData;
        default:
            return WsaError::NoRecovery;
    }
}

}  // namespace

LinuxSocketLibrary::LinuxSocketLibrary(Traits traits) : traits_(traits) {}

int32_t LinuxSocketLibrary::WSAStartup(uint16_t versionRequested, WsaData& data) {
    if (traits_.startFailure) {
        return *traits_.startFailure;
    }
    if (majorOf(versionRequested) < 1) {
        return WsaError::VersionNotSupported;
    }
    const auto key = [](uint16_t w) { return std::pair(majorOf(w), minorOf(w)); };
    data.wVersion = key(versionRequested) < key(traits_.highestVersion) ? versionRequested
                                                                        : traits_.highestVersion;
    data.wHighVersion = traits_.highestVersion;
    data.iMaxSockets = traits_.maxSockets.value_or(openFileLimit());
    ++starts_;
    return 0;
}

int32_t LinuxSocketLibrary::WSACleanup() {
    if (starts_ == 0) {
        lastError = WsaError::NotInitialised;
        return kSocketError;
    }
    --starts_;
    return 0;
}

const HostEnt* LinuxSocketLibrary::gethostbyname(const char* name) {
    if (starts_ == 0) {
        lastError = WsaError::NotInitialised;
        return nullptr;
    }
    const std::string host(trimmed<char>(name, " "));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = AI_CANONNAME | AI_NUMERICHOST;
    addrinfo* result = nullptr;
    // An address in any of inet_aton's forms, or an IPv6 one (in brackets
    // too), needs no resolver, and may be longer than a label.
    int eai = getaddrinfo(unbracketed(host).c_str(), nullptr, &hints, &result);
    if (eai == EAI_NONAME) {
        const std::optional<std::string> wire = nameOnTheWire(host);
        if (!wire) {
            lastError = WsaError::HostNotFound;
            return nullptr;
        }
        // Both families in one lookup: a name with only an IPv6 address, in
        // the hosts file say, needs no name server, reachable or not.
        hints.ai_flags = AI_CANONNAME;
        eai = getaddrinfo(wire->c_str(), nullptr, &hints, &result);
    }
    if (eai != 0) {
        lastError = lookupError(eai);
        return nullptr;
    }
    // The addresses of one family: IPv4 where the name has one, else IPv6.
    bool ipv6 = true;
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        ipv6 = ipv6 && !ipv4Of(*ai);
    }
    uint32_t scopeId = 0;
    const std::string canonical = result->ai_canonname != nullptr ? result->ai_canonname : host;
    std::vector<std::array<char, 16>> addresses;
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        std::array<char, 16> bytes{};
        if (const auto four = ipv4Of(*ai); !ipv6 && four) {
            std::copy(four->begin(), four->end(), bytes.begin());
        } else if (ipv6 && ai->ai_family == AF_INET6) {
            const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            std::copy_n(reinterpret_cast<const char*>(&sin6->sin6_addr), 16, bytes.begin());
            scopeId = addresses.empty() ? sin6->sin6_scope_id : scopeId;
        } else {
            continue;
        }
        addresses.push_back(bytes);
    }
    freeaddrinfo(result);
    return answer.set(canonical, ipv6, std::move(addresses), scopeId);
}

int32_t LinuxSocketLibrary::WSAGetLastError() {
    return lastError;
}
