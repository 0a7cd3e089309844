#pragma once

#include "platform/icmp/ip_status.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

// The ICMP library service: open an echo handle, send one echo and wait for
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

struct EchoReply {
    uint8_t Address[4] = {};  // network order: byte 0 is the first dotted number
    int32_t Status = 0;
    int32_t RoundTripTime = 0;
    int16_t DataSize = 0;
    uint16_t Reserved = 0;
    uint32_t Data = 0;
    EchoOptions Options;
    // Room for any payload that a request can carry, plus the 8 bytes of an
    // ICMP error that the library may keep: a payload is never cut off.
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

// Why no echo handle could be had: which step failed, and the system's error.
struct IcmpOpenFailure {
    enum class Step {
        Socket,       // the ICMP socket or handle: the program's own, or the helper's
        HelperFile,   // the helper program is not there
        HelperStart,  // it could not be started, or ended before it was ready
    };
    Step step = Step::Socket;
    bool notPermitted = false;  // the system grants this user no ICMP
    int error = 0;              // the system's error number; 0 where it gave none
    std::u16string reason;      // the system's words for error
    std::u16string helperPath;  // the helper program's file, where there is one
};

class IcmpLibrary {
public:
    using Handle = uint32_t;
    static constexpr Handle kInvalidHandle = 0xFFFFFFFFu;

    virtual ~IcmpLibrary() = default;
    // kInvalidHandle when no ICMP socket can be had; openFailure() says why.
    virtual Handle IcmpCreateFile() = 0;
    // The same for IPv6 echoes.
    virtual Handle Icmp6CreateFile() = 0;
    // Why the latest IcmpCreateFile or Icmp6CreateFile failed.
    virtual IcmpOpenFailure openFailure() const = 0;
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

// For an IcmpLibrary: the first handle from next on that is neither 0, the
// invalid one nor a key of used; next moves past it.
template <class HandleMap>
IcmpLibrary::Handle unusedHandle(const HandleMap& used, IcmpLibrary::Handle& next) {
    while (next == 0 || next == IcmpLibrary::kInvalidHandle || used.contains(next)) {
        ++next;
    }
    return next++;
}
