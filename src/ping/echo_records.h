#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// The records exchanged with the ICMP helper, byte for byte in their 32-bit
// little-endian layout; pointer fields are kept as 32-bit values.
static_assert(std::endian::native == std::endian::little);

struct EchoOptions {
    uint8_t Ttl = 0;
    uint8_t Tos = 0;
    uint8_t Flags = 0;
    uint8_t OptionsSize = 0;
    uint32_t OptionsData = 0;
};

// The largest payload whose length fits the 16-bit length of a request.
inline constexpr int kMaxPayload = 32767;

struct EchoReply {
    uint8_t Address[4] = {};  // network order: byte 0 is the first dotted number
    int32_t Status = 0;
    int32_t RoundTripTime = 0;
    int16_t DataSize = 0;
    uint16_t Reserved = 0;
    uint32_t Data = 0;
    EchoOptions Options;
    // Room for any payload that a request can carry, plus the 8 bytes of an
    // ICMP error that the helper may keep: a payload is never cut off.
    uint8_t Payload[kMaxPayload + 8] = {};
};

// Reply status values of the helper.
namespace IpStatus {
inline constexpr int32_t Success = 0;
inline constexpr int32_t DestNetUnreachable = 11002;
inline constexpr int32_t DestHostUnreachable = 11003;
inline constexpr int32_t DestProtUnreachable = 11004;
inline constexpr int32_t DestPortUnreachable = 11005;
inline constexpr int32_t PacketTooBig = 11009;
inline constexpr int32_t BadRoute = 11012;
inline constexpr int32_t TtlExpiredTransit = 11013;
inline constexpr int32_t TtlExpiredReassembly = 11014;
inline constexpr int32_t ParameterProblem = 11015;
inline constexpr int32_t SourceQuench = 11016;
}  // namespace IpStatus

inline constexpr uint32_t kEchoReplyHeaderSize = offsetof(EchoReply, Payload);
