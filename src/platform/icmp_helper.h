#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

// The ICMP helper service: open an echo handle, send one echo and wait for
// its answer, close the handle. Its records are exchanged byte for byte in
// their 32-bit little-endian layout; pointer fields are kept as 32-bit values.
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

inline constexpr uint32_t kEchoReplyHeaderSize = offsetof(EchoReply, Payload);

// An IPv6 address with its zone: where an IPv6 echo goes.
struct Ipv6AddressEx {
    uint8_t sin6_addr[16] = {};  // network order
    uint32_t sin6_scope_id = 0;  // a link-local address's interface (its index); 0: none
};

struct EchoReply6 {
    uint8_t Address[16] = {};  // network order
    int32_t Status = 0;
    int32_t RoundTripTime = 0;
    int16_t DataSize = 0;
    uint8_t HopLimit = 0;  // that the reply arrived with
    uint8_t Reserved = 0;
    uint8_t Payload[kMaxPayload] = {};
};

inline constexpr uint32_t kEchoReply6HeaderSize = offsetof(EchoReply6, Payload);

// Reply status values of the helper; the IPv6 ones share the values of their
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

class IcmpHelper {
public:
    using Handle = uint32_t;
    static constexpr Handle kInvalidHandle = 0xFFFFFFFFu;

    virtual ~IcmpHelper() = default;

    // kInvalidHandle when no ICMP socket can be had; openFailure() says why.
    virtual Handle IcmpCreateFile() = 0;

    // Why the latest IcmpCreateFile failed, for the user: lines in UTF-8,
    // each ended by CR LF, that fit the results box.
    virtual std::string openFailure() const = 0;

    // Sends one echo request to destination (the four address bytes in
    // network order, as in_addr.s_addr holds them) and blocks until its reply
    // or an ICMP error about it arrives, or timeoutMs have passed.
    // Returns the number of replies written into replyBuffer (1), or 0 for
    // none. An ICMP error is a reply with a non-zero Status, the sender's
    // address and DataSize 0.
    virtual uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                                  uint16_t requestSize, const EchoOptions* requestOptions,
                                  void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) = 0;

    // The same for an IPv6 destination: an ICMPv6 echo request with the hop
    // limit requestOptions->Ttl, its answer written as an EchoReply6 (HopLimit:
    // the reply's own).
    virtual uint32_t Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination,
                                    const void* requestData, uint16_t requestSize,
                                    const EchoOptions* requestOptions, void* replyBuffer,
                                    uint32_t replySize, uint32_t timeoutMs) = 0;

    virtual bool IcmpCloseHandle(Handle handle) = 0;
};
