#include "platform/icmp_linux.h"

#include "platform/icmp_packet_linux.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace icmp {
namespace {

// steady_clock is CLOCK_MONOTONIC on Linux: wall clock steps do not move deadlines.
using Clock = std::chrono::steady_clock;

constexpr int kTtlUnknown = 0;              // IP_TTL is set to 1..255 or -1 (default), never 0
constexpr std::size_t kBufferSize = 65536;  // the largest IPv4 datagram fits
constexpr int kDrainLimit = 1024;           // a flood cannot hold a send back for long
constexpr auto kFrame = std::chrono::milliseconds(16);

// ICMP_FILTER of <linux/icmp.h>, which clashes with <netinet/in.h>.
constexpr int kIcmpFilter = 1;

}  // namespace

struct Socket {
    Socket(int descriptor, bool isDatagram) : fd(descriptor), datagram(isDatagram) {}
    ~Socket() { ::close(fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    const int fd;
    const bool datagram;
    int ttl = kTtlUnknown;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kBufferSize);
};

namespace {

bool setOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// Reading SO_ERROR clears it.
void clearSocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
}

// Best effort: the parser drops everything else anyway; this only spares
// wake-ups for our own requests and unrelated traffic.
void setRawFilter(int fd) {
    const uint32_t wanted = 1u << kEchoReply | 1u << kDestUnreachable | 1u << kSourceQuench |
                            1u << kTimeExceeded | 1u << kParameterProblem;
    const uint32_t blocked = ~wanted;
    ::setsockopt(fd, SOL_RAW, kIcmpFilter, &blocked, sizeof blocked);
}

// 0 when fd is a raw ICMPv4 socket whose IP headers the kernel writes.
int checkRawIcmpSocket(int fd) {
    const auto get = [fd](int level, int name, int& value) {
        socklen_t length = sizeof value;
        return ::getsockopt(fd, level, name, &value, &length) == 0;
    };
    int domain = 0;
    int type = 0;
    int protocol = 0;
    int headerIncluded = 0;
    if (!get(SOL_SOCKET, SO_DOMAIN, domain) || !get(SOL_SOCKET, SO_TYPE, type) ||
        !get(SOL_SOCKET, SO_PROTOCOL, protocol) || !get(IPPROTO_IP, IP_HDRINCL, headerIncluded)) {
        return errno;
    }
    const bool usable =
        domain == AF_INET && type == SOCK_RAW && protocol == IPPROTO_ICMP && headerIncluded == 0;
    return usable ? 0 : EPROTOTYPE;
}

// The kernel refuses an ICMP socket with:
//   EACCES           datagram: none of the caller's groups is in
//                    net.ipv4.ping_group_range (of this network namespace);
//   EPERM            raw: no CAP_NET_RAW;
//   EPROTONOSUPPORT, ESOCKTNOSUPPORT  kernel without ICMP datagram sockets;
//   EAFNOSUPPORT     kernel without IPv4;
//   EMFILE, ENFILE   process or system descriptor limit reached;
//   ENOBUFS, ENOMEM  no kernel memory for the socket.
int newSocket(int type, int& error) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    error = fd < 0 ? errno : 0;  // before anything else can change errno
    return fd;
}

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// Raw sockets see every ICMP packet of the host: a random start makes it
// unlikely that another process uses our identifiers.
uint16_t randomId() {
    try {
        return static_cast<uint16_t>(std::random_device{}());
    } catch (...) {
        return static_cast<uint16_t>(::getpid());
    }
}

// One message without blocking, nullopt when the queue is empty; monostate for
// anything that is no answer to an echo.
std::optional<Message> receive(Socket& socket, bool errorQueue) {
    sockaddr_in from{};
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
    if (!socket.datagram) {
        return errorQueue ? Message{} : parseRawPacket(bytes);
    }
    if (errorQueue) {
        if (auto error = parseDatagramError(bytes, from.sin_addr.s_addr, ancillary)) {
            return *error;
        }
    } else if (auto reply = parseDatagramReply(bytes, from.sin_addr.s_addr, ancillary)) {
        return *reply;
    }
    return Message{};
}

// Stale replies and errors left by earlier echoes.
void drain(Socket& socket) {
    for (const bool errorQueue : {true, false}) {
        for (int i = 0; i < kDrainLimit && receive(socket, errorQueue); ++i) {
        }
    }
}

struct Answer {
    Message message;  // Reply or Error; a payload points into the socket's buffer
    Clock::time_point at;
};

// Every turn blocks in ppoll() or consumes a queued message, and each checks
// the deadline: no stream of junk can stretch the wait. A reply whose payload
// is not the request's (cut short, changed or longer: forged or corrupted) is
// no answer either, so it can neither pass for the echo nor overrun the
// caller's buffer.
std::optional<Answer> await(Socket& socket, const EchoKey& key, std::span<const uint8_t> payload,
                            Clock::time_point deadline) {
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            return std::nullopt;
        }
        const timespec timeout{static_cast<time_t>(remaining.count() / 1'000'000'000),
                               static_cast<long>(remaining.count() % 1'000'000'000)};
        pollfd watched{socket.fd, POLLIN, 0};
        if (::ppoll(&watched, 1, &timeout, nullptr) <= 0) {
            continue;  // timeout or signal
        }
        for (const bool errorQueue : {true, false}) {
            if ((watched.revents & (errorQueue ? POLLERR : POLLIN)) == 0) {
                continue;
            }
            const auto message = receive(socket, errorQueue);
            const auto* reply = message ? std::get_if<Reply>(&*message) : nullptr;
            if (message && answers(*message, key) &&
                (reply == nullptr || std::ranges::equal(reply->payload, payload))) {
                return Answer{*message, Clock::now()};
            }
        }
    }
}

template <class T>
void put(uint8_t* out, std::size_t offset, T value) {
    std::memcpy(out + offset, &value, sizeof value);
}

// Field by field: the caller's buffer need be neither aligned nor as large as
// EchoReply.
void fill(const Answer& answer, Clock::time_point sent, uint8_t* out) {
    uint32_t address = 0;
    int32_t status = IpStatus::Success;
    uint8_t ttl = 0;
    std::span<const uint8_t> payload;
    if (const auto* reply = std::get_if<Reply>(&answer.message)) {
        address = reply->source;
        ttl = reply->ttl;
        payload = reply->payload;
    } else {
        const auto& error = std::get<Error>(answer.message);
        address = error.sender;
        status = error.status;
        ttl = error.ttl;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(answer.at - sent);
    const auto roundTrip =
        std::clamp<int64_t>(elapsed.count(), 0, std::numeric_limits<int32_t>::max());
    std::memset(out, 0, kEchoReplyHeaderSize);
    put(out, offsetof(EchoReply, Address), address);
    put(out, offsetof(EchoReply, Status), status);
    put(out, offsetof(EchoReply, RoundTripTime), static_cast<int32_t>(roundTrip));
    put(out, offsetof(EchoReply, DataSize), static_cast<int16_t>(payload.size()));
    put(out, offsetof(EchoReply, Options) + offsetof(EchoOptions, Ttl), ttl);
    if (!payload.empty()) {
        std::memcpy(out + kEchoReplyHeaderSize, payload.data(), payload.size());
    }
}

}  // namespace
}  // namespace icmp

LinuxIcmpHelper::LinuxIcmpHelper(SocketKind kind, int rawFd)
    : kind_(kind), nextRawId_(icmp::randomId()) {
    if (rawFd < 0 || kind == SocketKind::DatagramOnly) {
        return;
    }
    if (const int error = icmp::checkRawIcmpSocket(rawFd); error != 0) {
        lastOpenError_ = error;
        return;
    }
    const int fd = ::fcntl(rawFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        lastOpenError_ = errno;
        return;
    }
    icmp::setRawFilter(fd);
    sharedRaw_ = std::make_shared<icmp::Socket>(fd, false);
}

std::shared_ptr<icmp::Socket> LinuxIcmpHelper::openSocket(int& error) const {
    int datagramError = 0;
    if (kind_ != SocketKind::RawOnly) {
        const int fd = icmp::newSocket(SOCK_DGRAM, datagramError);
        if (fd >= 0) {
            // ICMP errors about our echoes and the reply TTL come only when asked for.
            if (icmp::setOption(fd, IPPROTO_IP, IP_RECVERR, 1) &&
                icmp::setOption(fd, IPPROTO_IP, IP_RECVTTL, 1)) {
                return std::make_shared<icmp::Socket>(fd, true);
            }
            datagramError = errno;
            ::close(fd);
        }
        if (kind_ == SocketKind::DatagramOnly) {
            error = datagramError;
            return nullptr;
        }
    }
    if (sharedRaw_) {
        return sharedRaw_;
    }
    const int fd = icmp::newSocket(SOCK_RAW, error);
    if (fd < 0) {
        // A descriptor or memory shortage explains more than the raw EPERM.
        if (icmp::isShortage(datagramError)) {
            error = datagramError;
        }
        return nullptr;
    }
    icmp::setRawFilter(fd);
    return std::make_shared<icmp::Socket>(fd, false);
}

IcmpHelper::Handle LinuxIcmpHelper::IcmpCreateFile() {
    int error = 0;
    auto socket = openSocket(error);
    lastOpenError_ = error;
    if (!socket) {
        return kInvalidHandle;
    }
    while (nextHandle_ == 0 || nextHandle_ == kInvalidHandle || handles_.contains(nextHandle_)) {
        ++nextHandle_;
    }
    const Handle handle = nextHandle_++;
    const uint16_t id = socket->datagram ? 0 : nextRawId_++;
    handles_.emplace(handle, Echoer{std::move(socket), id});
    return handle;
}

std::string LinuxIcmpHelper::openFailure() const {
    if (lastOpenError_ == EACCES || lastOpenError_ == EPERM) {
        return "ICMP is not permitted for this program: grant it with 'setcap cap_net_raw+p' on "
               "the program file, or allow ping sockets for your group with the sysctl "
               "net.ipv4.ping_group_range.\r\n";
    }
    return "No ICMP socket could be opened: " + std::string(std::strerror(lastOpenError_)) +
           ".\r\n";
}

bool LinuxIcmpHelper::IcmpCloseHandle(Handle handle) {
    return handles_.erase(handle) == 1;
}

uint32_t LinuxIcmpHelper::IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                                       uint16_t requestSize, const EchoOptions* requestOptions,
                                       void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || replyBuffer == nullptr ||
        (requestSize > 0 && requestData == nullptr) || requestSize > kMaxPayload ||
        replySize < kEchoReplyHeaderSize + requestSize) {
        return 0;
    }
    Echoer& echoer = it->second;
    icmp::Socket& socket = *echoer.socket;
    const icmp::EchoKey key{echoer.id, ++echoer.sequence, destination, socket.datagram};
    const std::span<const uint8_t> payload(static_cast<const uint8_t*>(requestData), requestSize);
    const auto packet = icmp::buildEchoRequest(key.id, key.sequence, payload);
    // TTL 0 cannot be sent: like no options at all, it means the system default.
    const int ttl =
        requestOptions != nullptr && requestOptions->Ttl != 0 ? requestOptions->Ttl : -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;

    icmp::drain(socket);
    if (ttl != socket.ttl) {
        if (!icmp::setOption(socket.fd, IPPROTO_IP, IP_TTL, ttl)) {
            return 0;
        }
        socket.ttl = ttl;
    }
    // An earlier echo's ICMP error may have left one, which would fail this send.
    icmp::clearSocketError(socket.fd);
    const auto sent = icmp::Clock::now();
    if (::sendto(socket.fd, packet.data(), packet.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(packet.size())) {
        return 0;
    }
    const auto deadline = sent + std::chrono::milliseconds(timeoutMs);
    std::optional<icmp::Answer> answer;
    if (whileWaiting_) {
        answer = icmp::await(socket, key, payload, std::min(deadline, sent + icmp::kFrame));
        if (!answer && icmp::Clock::now() < deadline) {
            whileWaiting_();
        }
    }
    if (!answer) {
        answer = icmp::await(socket, key, payload, deadline);
    }
    if (!answer) {
        return 0;
    }
    icmp::fill(*answer, sent, static_cast<uint8_t*>(replyBuffer));
    return 1;
}
