#pragma once

#include "platform/socket_library.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// What the socket libraries' lookups share, whatever the system.

// A name as it goes on to a name server (its ASCII form, which is what the
// limits count) can be a host name: labels of letters, digits, '-' and '_',
// each of 1 to 63 bytes, 253 bytes in all, a final dot aside.
bool isHostName(std::string_view ascii);

// No byte of it is beyond ASCII: it needs no conversion to go to a name server.
bool isAscii(std::string_view text);

// [2001:db8::1] as in a URL: brackets hold an IPv6 address.
std::string unbracketed(const std::string& host);

// The answer of a thread's last lookup, which the next overwrites.
class HostAnswer {
public:
    // IPv4 addresses take the first 4 bytes of each.
    const HostEnt* set(std::string name, bool ipv6, std::vector<std::array<char, 16>> addresses,
                       uint32_t scopeId);

private:
    std::string name_;
    std::vector<std::array<char, 16>> addresses_;
    std::vector<const char*> addressList_;
    const char* noAliases_[1] = {nullptr};
    HostEnt entry_;
};
