#pragma once

#include "platform/icmp/icmp_packet_linux.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// One echo at a time on an ICMP socket: the program's datagram socket, or the
// ICMP helper's raw one.
namespace icmp {

// steady_clock is CLOCK_MONOTONIC on Linux: wall clock steps do not move deadlines.
using Clock = std::chrono::steady_clock;

struct Socket {
    Socket(int descriptor, bool isDatagram, bool isIpv6);
    ~Socket();  // closes it
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    const int fd;
    const bool datagram;
    const bool ipv6;  // ICMPv6
    int ttl;          // or hop limit, as last set: -1 the system's default
    std::vector<uint8_t> buffer;
};

// The events of fd among `events` (as poll() gives them), or 0 once `until`
// has come without any.
short waitFor(int fd, short events, Clock::time_point until);

// Sends one echo request with this TTL or hop limit (0: the system's
// default). Returns when it was sent, nullopt when the kernel refused it.
std::optional<Clock::time_point> send(Socket& socket, const EchoKey& key,
                                      std::span<const uint8_t> payload, uint8_t ttl);

struct Answer {
    Message message;  // Reply or Error; a reply's payload points into the socket's buffer
    Clock::time_point at;
};

// The answer to the echo of key, whatever its payload (up to kMaxPayload
// bytes), or nullopt once `until` has come.
std::optional<Answer> await(Socket& socket, const EchoKey& key, Clock::time_point until);

}  // namespace icmp
