#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

// ICMP and ICMPv6 packet building and parsing, for the program and its ICMP
// helper. No sockets here, so every parser can be unit-tested and fuzzed on
// plain bytes. Addresses are in network order: IPv4 as in_addr.s_addr holds
// them, IPv6 as the 16 bytes of in6_addr.
namespace icmp {

using Address6 = std::array<uint8_t, 16>;
using Address = std::variant<uint32_t, Address6>;

inline constexpr uint8_t kEchoReply = 0;
inline constexpr uint8_t kDestUnreachable = 3;
inline constexpr uint8_t kSourceQuench = 4;
inline constexpr uint8_t kEchoRequest = 8;
inline constexpr uint8_t kTimeExceeded = 11;
inline constexpr uint8_t kParameterProblem = 12;

inline constexpr uint8_t kDestUnreachable6 = 1;
inline constexpr uint8_t kPacketTooBig6 = 2;
inline constexpr uint8_t kTimeExceeded6 = 3;
inline constexpr uint8_t kParameterProblem6 = 4;
inline constexpr uint8_t kEchoRequest6 = 128;
inline constexpr uint8_t kEchoReply6 = 129;

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kMinIpHeaderSize = 20;
inline constexpr std::size_t kIp6HeaderSize = 40;
inline constexpr std::size_t kFragmentHeaderSize = 8;

// Internet checksum (RFC 1071) as the big-endian value for the checksum field;
// 0 over a message whose checksum field is right.
uint16_t checksum(std::span<const uint8_t> bytes);

// Echo request: header with id, sequence and checksum, then payload. An ICMPv6
// one goes without checksum: the kernel sums it, with the addresses.
std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload, bool ipv6);

// IpStatus value for an ICMP (ICMPv6) error, nullopt for messages that are no
// answer to an echo (redirects, unknown types) and must be skipped.
std::optional<int32_t> errorStatus(uint8_t type, uint8_t code, bool ipv6);

struct Reply {
    Address source = 0u;
    uint8_t ttl = 0;  // 0: unknown
    uint16_t id = 0;
    uint16_t sequence = 0;
    std::span<const uint8_t> payload;  // points into the parsed bytes
};

struct Error {
    Address sender = 0u;  // 0.0.0.0 or ::, unknown
    uint8_t ttl = 0;      // 0: unknown
    int32_t status = 0;
    Address destination = 0u;  // of the echo request it reports on
    uint16_t id = 0;
    uint16_t sequence = 0;
};

// monostate: not an answer to an echo of ours (own requests, junk, redirects).
using Message = std::variant<std::monostate, Reply, Error>;

// What identifies the echo an answer is for. Datagram sockets: the kernel sets
// and checks the identifier, so any is taken.
struct EchoKey {
    uint16_t id = 0;
    uint16_t sequence = 0;
    Address destination = 0u;
    bool anyId = false;
    uint32_t scopeId = 0;  // where a link-local destination is: an interface; not matched
};

// A reply with the echo's id and sequence from the address the echo went to,
// or an error quoting its id, sequence and that address. An echo to 0.0.0.0
// goes to 127.0.0.1: the kernel takes the unset source address for an unset
// destination, and the loopback's for both.
bool answers(const Message& message, const EchoKey& key);

// The original echo request quoted in an ICMP error: its IP header and at least
// the first 8 bytes of its ICMP header.
struct OriginalEcho {
    Address destination = 0u;
    uint16_t id = 0;
    uint16_t sequence = 0;
};
std::optional<OriginalEcho> parseOriginalEcho(std::span<const uint8_t> quoted);
// In an ICMPv6 error: its IPv6 header, a fragment header or none, and the
// first 8 bytes of its ICMPv6 header. An error about a later fragment quotes
// data, which for the helper's echoes (blanks) reads as no echo request.
std::optional<OriginalEcho> parseOriginalEcho6(std::span<const uint8_t> quoted);

// One datagram read from a raw ICMP socket: IP header, then ICMP. Checksums
// are verified, because raw sockets get packets before the kernel checks them.
Message parseRawPacket(std::span<const uint8_t> packet);

// One message read from a raw ICMPv6 socket: the ICMPv6 header on, sent by
// source; control as for a datagram reply. The kernel has checked the checksum.
Message parseRawPacket6(std::span<const uint8_t> message, const Address6& source,
                        std::span<const uint8_t> control);

// One message read from a datagram ICMP socket (ICMP header and payload, no IP
// header); control holds the ancillary data of the read (IP_TTL when
// IP_RECVTTL is on, IPV6_HOPLIMIT when IPV6_RECVHOPLIMIT is). The kernel has
// checked the checksum and the identifier. The family is the source's.
std::optional<Reply> parseDatagramReply(std::span<const uint8_t> message, const Address& source,
                                        std::span<const uint8_t> control);

// One entry of a datagram socket's error queue (MSG_ERRQUEUE): message is the
// quoted ICMP header of our request, destination the address the read
// returned, control the ancillary data with the IP_RECVERR (IPV6_RECVERR)
// record. The family is the destination's.
std::optional<Error> parseDatagramError(std::span<const uint8_t> message,
                                        const Address& destination,
                                        std::span<const uint8_t> control);

}  // namespace icmp
