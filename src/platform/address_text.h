#pragma once

#include <cstdint>
#include <string>

// The short form of an IPv6 address (::1, 2001:db8::1; ::ffff:198.18.0.1 for
// an IPv4-mapped one), as the system's own address-to-text call writes it.
std::u16string ipv6Text(const uint8_t (&address)[16]);
