#pragma once

#include <cstdint>
#include <string>

// A replier's address as the results box shows it.

// 198.18.0.1: the four bytes in network order.
std::u16string dottedText(const uint8_t (&address)[4]);

// The short form of an IPv6 address (::1, 2001:db8::1; ::ffff:198.18.0.1 for
// an IPv4-mapped one), as the system's own address-to-text call writes it.
std::u16string ipv6Text(const uint8_t (&address)[16]);
