#pragma once

#include <cstdint>

// What the ICMP library carries and answers: shared by the program's ICMP
// layer, whatever the system, and the Linux ICMP helper.

// The largest payload whose length fits the 16-bit length of a request.
inline constexpr int kMaxPayload = 32767;

// Reply status values of the library; the IPv6 ones share the values of their
// IPv4 counterparts.
namespace IpStatus {
inline constexpr int32_t Success = 0;
inline constexpr int32_t BufferTooSmall = 11001;
inline constexpr int32_t DestNetUnreachable = 11002;
inline constexpr int32_t DestNoRoute = 11002;
inline constexpr int32_t DestHostUnreachable = 11003;
inline constexpr int32_t DestAddrUnreachable = 11003;
inline constexpr int32_t DestProtUnreachable = 11004;
inline constexpr int32_t DestProhibited = 11004;
inline constexpr int32_t DestPortUnreachable = 11005;
inline constexpr int32_t NoResources = 11006;
inline constexpr int32_t BadOption = 11007;
inline constexpr int32_t HardwareError = 11008;
inline constexpr int32_t PacketTooBig = 11009;
inline constexpr int32_t RequestTimedOut = 11010;
inline constexpr int32_t BadRequest = 11011;
inline constexpr int32_t BadRoute = 11012;
inline constexpr int32_t TtlExpiredTransit = 11013;
inline constexpr int32_t HopLimitExceeded = 11013;
inline constexpr int32_t TtlExpiredReassembly = 11014;
inline constexpr int32_t ParameterProblem = 11015;
inline constexpr int32_t SourceQuench = 11016;
inline constexpr int32_t OptionTooBig = 11017;
inline constexpr int32_t BadDestination = 11018;
inline constexpr int32_t AddressDeleted = 11019;
inline constexpr int32_t SpecificMtuChange = 11020;
inline constexpr int32_t MtuChange = 11021;
inline constexpr int32_t Unload = 11022;
inline constexpr int32_t DestUnreachable = 11040;
inline constexpr int32_t DestScopeMismatch = 11045;
inline constexpr int32_t GeneralFailure = 11050;
}  // namespace IpStatus
