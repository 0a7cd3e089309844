#include "platform/icmp_linux.h"

#include "platform/icmp_packet.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace icmp {

// steady_clock is CLOCK_MONOTONIC on Linux: wall clock steps do not move deadlines.
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTtlUnknown = 0;              // IP_TTL is set to 1..255 or -1 (default), never 0
constexpr std::size_t kBufferSize = 65536;  // the largest IPv4 datagram fits
constexpr int kReadBatch = 64;
constexpr int kDrainLimit = 1024;  // a flood cannot hold a send back for long

// ICMP_FILTER of <linux/icmp.h>, which clashes with <netinet/in.h>.
constexpr int kIcmpFilter = 1;

}  // namespace

// One echo waiting for its answer.
struct Waiter {
    EchoKey key;
    Clock::time_point sent;
    uint8_t* out = nullptr;
    uint32_t outSize = 0;
    bool done = false;
    uint32_t result = 0;
};

struct Channel {
    Channel(int descriptor, bool isDatagram) : fd(descriptor), datagram(isDatagram) {}
    ~Channel() { ::close(fd); }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    const int fd;
    const bool datagram;

    std::mutex mutex;
    std::condition_variable wake;
    // One thread at a time reads the socket and hands each answer to the waiter
    // it belongs to: waiters sharing a socket never take each other's replies.
    bool reading = false;
    int ttl = kTtlUnknown;
    std::vector<Waiter*> waiters;

    // Owned by the reading thread.
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kBufferSize);
    alignas(cmsghdr) std::array<uint8_t, 512> control{};
};

struct HandleState {
    std::shared_ptr<Channel> channel;
    uint16_t id = 0;
    std::atomic<uint16_t> sequence{0};
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
int openSocket(int type, int& error) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    error = fd < 0 ? errno : 0;  // before anything else can change errno
    return fd;
}

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

uint16_t nextRawId() {
    // Raw sockets see every ICMP packet of the host: a random start makes it
    // unlikely that another process uses our identifiers.
    static std::atomic<uint16_t> next{[] {
        try {
            return static_cast<uint16_t>(std::random_device{}());
        } catch (...) {
            return static_cast<uint16_t>(::getpid());
        }
    }()};
    return next.fetch_add(1);
}

template <class T>
void put(uint8_t* out, std::size_t offset, T value) {
    std::memcpy(out + offset, &value, sizeof value);
}

// Field by field: the caller's buffer need be neither aligned nor as large as
// EchoReply.
void answer(Waiter& w, uint32_t address, int32_t status, uint8_t ttl,
            std::span<const uint8_t> payload, Clock::time_point at) {
    w.done = true;
    if (payload.size() > static_cast<std::size_t>(kMaxPayload) ||
        payload.size() > w.outSize - kEchoReplyHeaderSize) {
        w.result = 0;
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(at - w.sent);
    const auto roundTrip =
        std::clamp<int64_t>(elapsed.count(), 0, std::numeric_limits<int32_t>::max());
    std::memset(w.out, 0, kEchoReplyHeaderSize);
    put(w.out, offsetof(EchoReply, Address), address);
    put(w.out, offsetof(EchoReply, Status), status);
    put(w.out, offsetof(EchoReply, RoundTripTime), static_cast<int32_t>(roundTrip));
    put(w.out, offsetof(EchoReply, DataSize), static_cast<int16_t>(payload.size()));
    put(w.out, offsetof(EchoReply, Options) + offsetof(EchoOptions, Ttl), ttl);
    if (!payload.empty()) {
        std::memcpy(w.out + kEchoReplyHeaderSize, payload.data(), payload.size());
    }
    w.result = 1;
}

// Gives a message to the waiter it answers; true when that is self. Anything
// no one waits for (stale sequences included) is dropped.
bool deliver(Channel& channel, const Message& message, Clock::time_point at, const Waiter* self) {
    Waiter* answered = nullptr;
    {
        std::lock_guard lock(channel.mutex);
        for (Waiter* w : channel.waiters) {
            if (w->done || !answers(message, w->key)) {
                continue;
            }
            if (const auto* reply = std::get_if<Reply>(&message)) {
                answer(*w, reply->source, IpStatus::Success, reply->ttl, reply->payload, at);
            } else {
                const auto& error = std::get<Error>(message);
                answer(*w, error.sender, error.status, error.ttl, {}, at);
            }
            answered = w;
            break;
        }
    }
    if (answered != nullptr && answered != self) {
        channel.wake.notify_all();
    }
    return answered != nullptr && answered == self;
}

enum class Read { Empty, Other, Self };

// One message without blocking. Caller is the reading thread.
Read readOne(Channel& channel, bool errorQueue, const Waiter* self) {
    sockaddr_in from{};
    iovec part{channel.buffer.data(), channel.buffer.size()};
    msghdr header{};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = channel.control.data();
    header.msg_controllen = channel.control.size();
    const ssize_t n =
        ::recvmsg(channel.fd, &header, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    const Clock::time_point at = Clock::now();
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (errorQueue) {
                clearSocketError(channel.fd);  // else a bare socket error keeps poll() waking
            }
            return Read::Empty;
        }
        return Read::Other;  // a pending socket error, reported and cleared by this read
    }
    if ((header.msg_flags & MSG_TRUNC) != 0) {
        return Read::Other;
    }
    const std::span<const uint8_t> bytes(channel.buffer.data(), static_cast<std::size_t>(n));
    const std::span<const uint8_t> control(channel.control.data(), header.msg_controllen);
    Message message;
    if (!channel.datagram) {
        if (!errorQueue) {
            message = parseRawPacket(bytes);
        }
    } else if (errorQueue) {
        if (auto error = parseDatagramError(bytes, from.sin_addr.s_addr, control)) {
            message = *error;
        }
    } else if (auto reply = parseDatagramReply(bytes, from.sin_addr.s_addr, control)) {
        message = *reply;
    }
    return deliver(channel, message, at, self) ? Read::Self : Read::Other;
}

// One turn as the reading thread: wait for traffic until the deadline, then
// read what is queued.
void pump(Channel& channel, Clock::time_point deadline, const Waiter* self) {
    const auto remaining =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (remaining.count() <= 0) {
        return;
    }
    const timespec timeout{static_cast<time_t>(remaining.count() / 1'000'000'000),
                           static_cast<long>(remaining.count() % 1'000'000'000)};
    pollfd watched{channel.fd, POLLIN, 0};
    if (::ppoll(&watched, 1, &timeout, nullptr) <= 0) {
        return;  // timeout or signal: the caller checks the deadline
    }
    bool errors = (watched.revents & POLLERR) != 0;
    bool data = (watched.revents & POLLIN) != 0;
    for (int i = 0; i < kReadBatch && (errors || data) && Clock::now() < deadline; ++i) {
        if (errors) {
            const Read read = readOne(channel, true, self);
            if (read == Read::Self) {
                return;
            }
            errors = read != Read::Empty;
        }
        if (data) {
            const Read read = readOne(channel, false, self);
            if (read == Read::Self) {
                return;
            }
            data = read != Read::Empty;
        }
    }
}

// Discards what is queued before a send (stale replies and errors); on a
// shared socket whatever answers other waiters still reaches them.
void drain(Channel& channel) {
    {
        std::lock_guard lock(channel.mutex);
        if (channel.reading) {
            return;  // the reading thread is emptying the queues
        }
        channel.reading = true;
    }
    for (int i = 0; i < kDrainLimit && readOne(channel, true, nullptr) != Read::Empty; ++i) {
    }
    for (int i = 0; i < kDrainLimit && readOne(channel, false, nullptr) != Read::Empty; ++i) {
    }
    {
        std::lock_guard lock(channel.mutex);
        channel.reading = false;
    }
    channel.wake.notify_all();
}

void wait(Channel& channel, Waiter& w, Clock::time_point deadline,
          std::unique_lock<std::mutex>& lock) {
    while (!w.done && Clock::now() < deadline) {
        if (channel.reading) {
            channel.wake.wait_until(lock, deadline);
            continue;
        }
        channel.reading = true;
        lock.unlock();
        pump(channel, deadline, &w);
        lock.lock();
        channel.reading = false;
        channel.wake.notify_all();
    }
}

}  // namespace
}  // namespace icmp

LinuxIcmpHelper::LinuxIcmpHelper(SocketKind kind, int rawFd) : kind_(kind) {
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
    sharedRaw_ = std::make_shared<icmp::Channel>(fd, false);
}

LinuxIcmpHelper::~LinuxIcmpHelper() = default;

std::shared_ptr<icmp::Channel> LinuxIcmpHelper::openChannel(int& error) const {
    int datagramError = 0;
    if (kind_ != SocketKind::RawOnly) {
        const int fd = icmp::openSocket(SOCK_DGRAM, datagramError);
        if (fd >= 0) {
            // ICMP errors about our echoes and the reply TTL come only when asked for.
            if (icmp::setOption(fd, IPPROTO_IP, IP_RECVERR, 1) &&
                icmp::setOption(fd, IPPROTO_IP, IP_RECVTTL, 1)) {
                return std::make_shared<icmp::Channel>(fd, true);
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
    const int fd = icmp::openSocket(SOCK_RAW, error);
    if (fd < 0) {
        // A descriptor or memory shortage explains more than the raw EPERM.
        if (icmp::isShortage(datagramError)) {
            error = datagramError;
        }
        return nullptr;
    }
    icmp::setRawFilter(fd);
    return std::make_shared<icmp::Channel>(fd, false);
}

IcmpHelper::Handle LinuxIcmpHelper::IcmpCreateFile() {
    int error = 0;
    auto channel = openChannel(error);
    lastOpenError_ = error;
    if (!channel) {
        return kInvalidHandle;
    }
    auto state = std::make_shared<icmp::HandleState>();
    state->id = channel->datagram ? 0 : icmp::nextRawId();
    state->channel = std::move(channel);
    std::lock_guard lock(mutex_);
    while (nextHandle_ == 0 || nextHandle_ == kInvalidHandle || handles_.contains(nextHandle_)) {
        ++nextHandle_;
    }
    const Handle handle = nextHandle_++;
    handles_.emplace(handle, std::move(state));
    return handle;
}

std::shared_ptr<icmp::HandleState> LinuxIcmpHelper::find(Handle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

std::optional<LinuxIcmpHelper::Transport> LinuxIcmpHelper::transportOf(Handle handle) const {
    const auto state = find(handle);
    if (!state) {
        return std::nullopt;
    }
    return state->channel->datagram ? Transport::Datagram : Transport::Raw;
}

bool LinuxIcmpHelper::IcmpCloseHandle(Handle handle) {
    std::shared_ptr<icmp::HandleState> state;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it == handles_.end()) {
            return false;
        }
        state = std::move(it->second);
        handles_.erase(it);
    }
    return true;
}

uint32_t LinuxIcmpHelper::IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                                       uint16_t requestSize, const EchoOptions* requestOptions,
                                       void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) {
    const auto state = find(handle);
    if (!state || replyBuffer == nullptr || (requestSize > 0 && requestData == nullptr) ||
        requestSize > kMaxPayload || replySize < kEchoReplyHeaderSize + requestSize) {
        return 0;
    }
    icmp::Channel& channel = *state->channel;

    icmp::Waiter w;
    w.key.id = state->id;
    w.key.sequence = static_cast<uint16_t>(state->sequence.fetch_add(1) + 1);
    w.key.destination = destination;
    w.key.anyId = channel.datagram;
    w.out = static_cast<uint8_t*>(replyBuffer);
    w.outSize = replySize;
    const auto packet = icmp::buildEchoRequest(
        w.key.id, w.key.sequence, {static_cast<const uint8_t*>(requestData), requestSize});
    // TTL 0 cannot be sent: like no options at all, it means the system default.
    const int ttl =
        requestOptions != nullptr && requestOptions->Ttl != 0 ? requestOptions->Ttl : -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;

    icmp::drain(channel);
    std::unique_lock lock(channel.mutex);
    if (ttl != channel.ttl) {
        if (!icmp::setOption(channel.fd, IPPROTO_IP, IP_TTL, ttl)) {
            return 0;
        }
        channel.ttl = ttl;
    }
    // An earlier echo's ICMP error may have left one, which would fail this send.
    icmp::clearSocketError(channel.fd);
    channel.waiters.push_back(&w);
    w.sent = icmp::Clock::now();
    const auto deadline = w.sent + std::chrono::milliseconds(timeoutMs);
    const ssize_t sent = ::sendto(channel.fd, packet.data(), packet.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == static_cast<ssize_t>(packet.size())) {
        icmp::wait(channel, w, deadline, lock);
    }
    std::erase(channel.waiters, &w);
    return w.done ? w.result : 0;
}
