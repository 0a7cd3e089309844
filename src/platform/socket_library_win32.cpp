#include "platform/socket_library_win32.h"

#include "platform/blanks.h"
#include "platform/host_name.h"
#include "platform/locale_codec.h"
#include "platform/system_text_win32.h"

// The order the system's headers need.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

thread_local HostAnswer answer;

// The name in its ASCII form, which the resolver and the limits take.
std::optional<std::string> asciiName(const std::string& name) {
    if (isAscii(name)) {
        return name;
    }
    const std::u16string text = decodeLocale(name);
    wchar_t ace[256] = {};
    const int length = IdnToAscii(0, wideText(text), static_cast<int>(text.size()), ace, 255);
    if (length <= 0) {
        return std::nullopt;
    }
    return std::string(ace, ace + length);
}

// getaddrinfo's answer for an IPv6 address or name.
const HostEnt* ipv6Answer(const std::string& host, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = flags | AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0) {
        return nullptr;
    }
    std::vector<std::array<char, 16>> addresses;
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
        std::array<char, 16> bytes{};
        std::memcpy(bytes.data(), &sin6->sin6_addr, 16);
        addresses.push_back(bytes);
    }
    const uint32_t scopeId = reinterpret_cast<const sockaddr_in6*>(result->ai_addr)->sin6_scope_id;
    const std::string name = result->ai_canonname != nullptr ? result->ai_canonname : host;
    freeaddrinfo(result);
    return answer.set(name, true, std::move(addresses), scopeId);
}

}  // namespace

int32_t WindowsSocketLibrary::WSAStartup(uint16_t versionRequested, WsaData& data) {
    WSADATA system{};
    const int result = ::WSAStartup(versionRequested, &system);
    if (result == 0) {
        ++starts_;
        data.wVersion = system.wVersion;
        data.wHighVersion = system.wHighVersion;
        data.iMaxSockets = system.iMaxSockets;
    }
    return result;
}

int32_t WindowsSocketLibrary::WSACleanup() {
    const int result = ::WSACleanup();
    starts_ -= result == 0 ? 1 : 0;
    return result;
}

int32_t WindowsSocketLibrary::WSAGetLastError() {
    return ::WSAGetLastError();
}

const HostEnt* WindowsSocketLibrary::gethostbyname(const char* name) {
    // As the system's lookup does, which getaddrinfo under Wine does not.
    if (starts_ == 0) {
        WSASetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    const std::string host(trimmed<char>(name, " "));
    if (const HostEnt* address6 = ipv6Answer(unbracketed(host), AI_NUMERICHOST)) {
        return address6;
    }
    // An address in any of inet_addr's forms, with nothing after it, is its
    // own answer, as the system's lookup gives it; it may be longer than a label.
    IN_ADDR dotted{};
    char* end = nullptr;
    if (RtlIpv4StringToAddressA(host.c_str(), FALSE, &end, &dotted) == 0 && *end == '\0') {
        std::array<char, 16> bytes{};
        std::memcpy(bytes.data(), &dotted, 4);
        return answer.set(host, false, {bytes}, 0);
    }
    const std::optional<std::string> wire = asciiName(host);
    if (!wire || !isHostName(*wire)) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    if (const hostent* system = ::gethostbyname(wire->c_str())) {
        std::vector<std::array<char, 16>> addresses;
        const auto length = static_cast<size_t>(std::clamp<int>(system->h_length, 0, 16));
        for (char** address = system->h_addr_list; *address != nullptr; ++address) {
            std::array<char, 16> bytes{};
            std::memcpy(bytes.data(), *address, length);
            addresses.push_back(bytes);
        }
        return answer.set(system->h_name != nullptr ? system->h_name : *wire,
                          system->h_addrtype == AF_INET6, std::move(addresses), 0);
    }
    // Where a name has no IPv4 address, its IPv6 one, whatever the IPv4
    // lookup said: offline it answers 11002 (try again) for such a name.
    // Where neither family answers, the IPv4 lookup's code.
    const int error = ::WSAGetLastError();
    if (const HostEnt* named6 = ipv6Answer(*wire, 0)) {
        return named6;
    }
    WSASetLastError(error);
    return nullptr;
}
