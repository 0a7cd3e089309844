#pragma once

#include "platform/icmp/echo_socket_linux.h"

#include <cstdint>
#include <optional>
#include <span>

// What the program and its ICMP helper (sondrel-ping-icmp) say to each other
// over a SOCK_SEQPACKET socket pair, the helper's end its descriptor 0. First
// the helper sends a Hello; then, for each Request, one message: a Response
// and its dataSize bytes of data. Fixed layouts in the machine's own byte
// order: both ends are built together.
namespace icmp {

// 0: the raw socket is open and filtered, requests are served. Else the errno
// of why not, and the helper ends.
struct Hello {
    int32_t error = 0;
};

// An ICMPv6 echo when destination6 is set (to anything but ::, which no host
// has); destination is then 0.
struct Request {
    uint32_t destination = 0;  // network order; neither broadcast nor multicast
    uint16_t size = 0;         // of the payload, that many blanks: 0..kMaxPayload
    uint8_t ttl = 0;           // or hop limit; 0: the system's default
    uint8_t zero = 0;
    uint32_t timeoutMs = 0;   // kMinTimeoutMs..kMaxTimeoutMs
    Address6 destination6{};  // see sendable()
    uint32_t scopeId = 0;     // of destination6, any: the kernel's to check; 0 for IPv4
    // Where the window's thread runs, or -1: the helper runs there too, for a
    // hand-over between processors costs many times what the echo does.
    int32_t processor = -1;
};

struct Response {
    uint32_t result = 0;  // 1: a reply or an ICMP error, 0: none
    int32_t status = 0;   // IpStatus
    uint32_t source = 0;  // network order
    int32_t roundTripMs = 0;
    uint16_t dataSize = 0;
    uint8_t ttl = 0;  // or hop limit
    uint8_t zero = 0;
    Address6 source6{};  // the answer to an ICMPv6 echo
};

// A longer wait would only keep a window busy; the program waits 2700 ms.
inline constexpr uint32_t kMaxTimeoutMs = 10000;
// An echo that gets no answer holds the helper this long at least, so that
// no one gets echoes from it faster than a silent host answers them. A caller
// that gives up sooner keeps waiting for that answer before its next echo.
inline constexpr uint32_t kMinTimeoutMs = 1000;

// Neither 255.255.255.255 nor multicast (224.0.0.0/4, ff00::/8): every reply
// to such an echo comes from another address than the one it went to, so none
// could count. Nor :: nor an IPv4-mapped address (::ffff:0:0/96), which no
// packet may carry and datagram sockets refuse, while a raw one sends :: to ::1.
bool sendable(uint32_t destination);
bool sendable(const Address6& destination);

// Whether the helper may serve it; it ends on any other.
bool valid(const Request& request);

// The request's destination, of its family.
Address destinationOf(const Request& request);

// What an echo sent at `sent` got; its data points into the answer's.
struct Outcome {
    Response response;
    std::span<const uint8_t> data;
};
Outcome outcome(const std::optional<Answer>& answer, Clock::time_point sent);

}  // namespace icmp
