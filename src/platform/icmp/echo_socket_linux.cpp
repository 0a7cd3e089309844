#include "platform/icmp/echo_socket_linux.h"

#include "platform/icmp/ip_status.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace icmp {
namespace {

constexpr std::size_t kBufferSize = 65536;  // the largest IPv4 datagram or ICMPv6 message fits

// Reading SO_ERROR clears it.
void clearSocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
}

// One message without blocking, nullopt when the queue is empty; monostate for
// anything that is no answer to an echo.
std::optional<Message> receive(Socket& socket, bool errorQueue) {
    sockaddr_in6 from{};  // room for either family
    alignas(cmsghdr) std::array<uint8_t, 512> control{};
    iovec part{socket.buffer.data(), socket.buffer.size()};
    msghdr header{};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control.data();
    header.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(socket.fd, &header, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return Message{};  // a pending socket error, reported and cleared by this read
        }
        if (errorQueue) {
            clearSocketError(socket.fd);  // else a bare socket error keeps poll() waking
        }
        return std::nullopt;
    }
    if ((header.msg_flags & MSG_TRUNC) != 0) {
        return Message{};
    }
    const std::span<const uint8_t> bytes(socket.buffer.data(), static_cast<std::size_t>(n));
    const std::span<const uint8_t> ancillary(control.data(), header.msg_controllen);
    Address6 address6;
    std::memcpy(address6.data(), &from.sin6_addr, address6.size());
    sockaddr_in from4;
    std::memcpy(&from4, &from, sizeof from4);
    const Address address = socket.ipv6 ? Address(address6) : Address(from4.sin_addr.s_addr);
    if (!socket.datagram) {
        if (errorQueue) {
            return Message{};
        }
        return socket.ipv6 ? parseRawPacket6(bytes, address6, ancillary) : parseRawPacket(bytes);
    }
    if (errorQueue) {
        if (auto error = parseDatagramError(bytes, address, ancillary)) {
            return *error;
        }
    } else if (auto reply = parseDatagramReply(bytes, address, ancillary)) {
        return *reply;
    }
    return Message{};
}

}  // namespace

short waitFor(int fd, short events, Clock::time_point until) {
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now());
        if (remaining.count() <= 0) {
            return 0;
        }
        const timespec timeout{static_cast<time_t>(remaining.count() / 1'000'000'000),
                               static_cast<long>(remaining.count() % 1'000'000'000)};
        pollfd watched{fd, events, 0};
        if (::ppoll(&watched, 1, &timeout, nullptr) > 0) {
            return watched.revents;
        }
    }
}

Socket::Socket(int descriptor, bool isDatagram, bool isIpv6)
    : fd(descriptor), datagram(isDatagram), ipv6(isIpv6), ttl(-1), buffer(kBufferSize) {}

Socket::~Socket() {
    ::close(fd);
}

std::optional<Clock::time_point> send(Socket& socket, const EchoKey& key,
                                      std::span<const uint8_t> payload, uint8_t ttl) {
    const auto packet = buildEchoRequest(key.id, key.sequence, payload, socket.ipv6);
    // TTL 0 cannot be sent: like no options at all, it means the system default.
    const int wanted = ttl != 0 ? ttl : -1;
    sockaddr_in to{};
    sockaddr_in6 to6{};
    const auto* address6 = std::get_if<Address6>(&key.destination);
    if (address6 != nullptr) {
        to6.sin6_family = AF_INET6;
        std::memcpy(&to6.sin6_addr, address6->data(), address6->size());
        to6.sin6_scope_id = key.scopeId;
    } else {
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = std::get<uint32_t>(key.destination);
    }

    if (wanted != socket.ttl) {
        if ((socket.ipv6
                 ? ::setsockopt(socket.fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &wanted, sizeof wanted)
                 : ::setsockopt(socket.fd, IPPROTO_IP, IP_TTL, &wanted, sizeof wanted)) != 0) {
            return std::nullopt;
        }
        socket.ttl = wanted;
    }
    const bool toIpv6 = address6 != nullptr;
    const auto sendPacket = [&] {
        return ::sendto(socket.fd, packet.data(), packet.size(), MSG_DONTWAIT,
                        toIpv6 ? reinterpret_cast<const sockaddr*>(&to6)
                               : reinterpret_cast<const sockaddr*>(&to),
                        toIpv6 ? sizeof to6 : sizeof to) == static_cast<ssize_t>(packet.size());
    };
    const auto sent = Clock::now();
    // An ICMP error about an earlier echo, left on a datagram socket, fails
    // one send: read, it is gone, and the send is made again.
    if (!sendPacket() && !(socket.datagram && (clearSocketError(socket.fd), sendPacket()))) {
        return std::nullopt;
    }
    return sent;
}

// Every turn reads a message or blocks in ppoll(), and each checks the
// deadline: no stream of junk can stretch the wait. Stale answers of earlier
// echoes are passed over here too. On the loopback the answer is queued
// before sendto() returns: the first turn reads without polling.
std::optional<Answer> await(Socket& socket, const EchoKey& key, Clock::time_point until) {
    short events = POLLIN;
    while (Clock::now() < until) {
        for (const bool errorQueue : {true, false}) {
            if ((events & (errorQueue ? POLLERR : POLLIN)) == 0) {
                continue;
            }
            const auto message = receive(socket, errorQueue);
            const auto* reply = message ? std::get_if<Reply>(&*message) : nullptr;
            if (message && answers(*message, key) &&
                (reply == nullptr || reply->payload.size() <= kMaxPayload)) {
                return Answer{*message, Clock::now()};
            }
        }
        events = waitFor(socket.fd, POLLIN, until);
    }
    return std::nullopt;
}

}  // namespace icmp
