#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

// ICMPv4 packet building and parsing, for the program and its ICMP helper. No
// sockets here, so every parser can be unit-tested and fuzzed on plain bytes.
// Addresses are in network order, as in_addr.s_addr holds them.
namespace icmp {

inline constexpr uint8_t kEchoReply = 0;
inline constexpr uint8_t kDestUnreachable = 3;
inline constexpr uint8_t kSourceQuench = 4;
inline constexpr uint8_t kEchoRequest = 8;
inline constexpr uint8_t kTimeExceeded = 11;
inline constexpr uint8_t kParameterProblem = 12;

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kMinIpHeaderSize = 20;

// Internet checksum (RFC 1071) as the big-endian value for the checksum field;
// 0 over a message whose checksum field is right.
uint16_t checksum(std::span<const uint8_t> bytes);

// Echo request: header with id, sequence and checksum, then payload.
std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload);

// IpStatus value for an ICMP error, nullopt for messages that are no answer
// to an echo (redirects, unknown types) and must be skipped.
std::optional<int32_t> errorStatus(uint8_t type, uint8_t code);

struct Reply {
    uint32_t source = 0;
    uint8_t ttl = 0;  // 0: unknown
    uint16_t id = 0;
    uint16_t sequence = 0;
    std::span<const uint8_t> payload;  // points into the parsed bytes
};

struct Error {
    uint32_t sender = 0;  // 0: unknown
    uint8_t ttl = 0;      // 0: unknown
    int32_t status = 0;
    uint32_t destination = 0;  // of the echo request it reports on
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
    uint32_t destination = 0;
    bool anyId = false;
};

// A reply with the echo's id and sequence from the address the echo went to,
// or an error quoting its id, sequence and that address. An echo to 0.0.0.0
// goes to 127.0.0.1: the kernel takes the unset source address for an unset
// destination, and the loopback's for both.
bool answers(const Message& message, const EchoKey& key);

// The original echo request quoted in an ICMP error: its IP header and at least
// the first 8 bytes of its ICMP header.
struct OriginalEcho {
    uint32_t destination = 0;
    uint16_t id = 0;
    uint16_t sequence = 0;
};
std::optional<OriginalEcho> parseOriginalEcho(std::span<const uint8_t> quoted);

// One datagram read from a raw ICMP socket: IP header, then ICMP. Checksums
// are verified, because raw sockets get packets before the kernel checks them.
Message parseRawPacket(std::span<const uint8_t> packet);

// One message read from a datagram ICMP socket (ICMP header and payload, no IP
// header); control holds the ancillary data of the read (IP_TTL when
// IP_RECVTTL is on). The kernel has checked the checksum and the identifier.
std::optional<Reply> parseDatagramReply(std::span<const uint8_t> message, uint32_t source,
                                        std::span<const uint8_t> control);

// One entry of a datagram socket's error queue (MSG_ERRQUEUE): message is the
// quoted ICMP header of our request, destination the address the read
// returned, control the ancillary data with the IP_RECVERR record.
std::optional<Error> parseDatagramError(std::span<const uint8_t> message, uint32_t destination,
                                        std::span<const uint8_t> control);

}  // namespace icmp
