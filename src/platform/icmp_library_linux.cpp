#include "platform/icmp_library_linux.h"

#include "platform/icmp/echo_socket_linux.h"
#include "platform/icmp/helper_protocol.h"
#include "platform/locale_codec.h"

#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <span>
#include <type_traits>
#include <variant>

namespace {

using icmp::Clock;
using std::chrono::milliseconds;

constexpr auto kFrame = milliseconds(16);

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// The kernel refuses an ICMP datagram socket with:
//   EACCES           none of the caller's groups is in net.ipv4.ping_group_range
//                    (of this network namespace; it rules ICMPv6 ones too);
//   EPROTONOSUPPORT, ESOCKTNOSUPPORT  kernel without ICMP datagram sockets;
//   EAFNOSUPPORT     kernel without IPv4 (IPv6);
//   EMFILE, ENFILE   process or system descriptor limit reached;
//   ENOBUFS, ENOMEM  no kernel memory for the socket.
std::unique_ptr<icmp::Socket> openDatagramSocket(bool ipv6, int& error) {
    const int fd = ipv6 ? ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                        : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    error = fd < 0 ? errno : 0;  // before anything else can change errno
    if (fd < 0) {
        return nullptr;
    }
    // ICMP errors about our echoes and the reply TTL come only when asked for.
    const int on = 1;
    if (ipv6 ? ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) != 0 ||
                   ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0
             : ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0 ||
                   ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<icmp::Socket>(fd, true, ipv6);
}

// Waits with wait(until), which gives nullopt only once `until` has come,
// until the deadline, calling hook at every frame from the send on.
template <class Wait>
auto inFrames(Clock::time_point sent, Clock::time_point deadline, const std::function<void()>& hook,
              Wait wait) {
    auto frame = sent + kFrame;
    for (;;) {
        auto answer = wait(hook ? std::min(frame, deadline) : deadline);
        if (answer || Clock::now() >= deadline) {
            return answer;
        }
        hook();
        while (frame <= Clock::now()) {
            frame += kFrame;  // frames the hook took are not made up for
        }
    }
}

template <class T>
void put(uint8_t* out, std::size_t offset, T value) {
    std::memcpy(out + offset, &value, sizeof value);
}

// Field by field into an EchoReply or EchoReply6: the caller's buffer need be
// neither aligned nor as large as the record. 0 when there is no answer, or
// its data would not fit.
template <class Reply>
uint32_t fill(const icmp::Outcome& outcome, void* replyBuffer, uint32_t replySize) {
    constexpr uint32_t kHeaderSize = offsetof(Reply, Payload);
    const icmp::Response& r = outcome.response;
    if (r.result != 1 || outcome.data.size() > replySize - kHeaderSize) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(replyBuffer);
    std::memset(out, 0, kHeaderSize);
    if constexpr (std::is_same_v<Reply, EchoReply6>) {
        put(out, offsetof(EchoReply6, Address), r.source6);
        put(out, offsetof(EchoReply6, HopLimit), r.ttl);
    } else {
        put(out, offsetof(EchoReply, Address), r.source);
        put(out, offsetof(EchoReply, Options) + offsetof(EchoOptions, Ttl), r.ttl);
    }
    put(out, offsetof(Reply, Status), r.status);
    put(out, offsetof(Reply, RoundTripTime), r.roundTripMs);
    put(out, offsetof(Reply, DataSize), static_cast<int16_t>(r.dataSize));
    if (!outcome.data.empty()) {
        std::memcpy(out + kHeaderSize, outcome.data.data(), outcome.data.size());
    }
    return 1;
}

}  // namespace

LinuxIcmpLibrary::LinuxIcmpLibrary(SocketKind kind) : kind_(kind), helperPath_(helperPath()) {}

LinuxIcmpLibrary::~LinuxIcmpLibrary() {
    moveFreely();
}

std::string LinuxIcmpLibrary::helperPath() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path =
        (fs::read_symlink("/proc/self/exe", error).parent_path() / PING_HELPER_FROM_PROGRAM)
            .lexically_normal();
    const fs::path real = fs::weakly_canonical(path, error);
    return (error ? path : real).string();
}

bool LinuxIcmpLibrary::helperServing() {
    if (!helper_ || !helper_->serving()) {
        helper_ = std::make_unique<IcmpHelperProcess>(helperPath_);
    }
    return helper_->serving();
}

IcmpLibrary::Handle LinuxIcmpLibrary::IcmpCreateFile() {
    std::unique_ptr<icmp::Socket> socket;
    // A refused datagram socket reads as a refusing helper.
    openStart_ = IcmpHelperProcess::Start::Refused;
    if (kind_ != SocketKind::HelperOnly) {
        socket = openDatagramSocket(false, openError_);
        // A descriptor or memory shortage would keep the helper from starting too.
        if (!socket && (kind_ == SocketKind::DatagramOnly || isShortage(openError_))) {
            return kInvalidHandle;
        }
    }
    if (!socket && !helperServing()) {
        openStart_ = helper_->start();
        openError_ = helper_->error();
        return kInvalidHandle;
    }
    openStart_ = IcmpHelperProcess::Start::Serving;
    openError_ = 0;
    const Handle handle = unusedHandle(handles_, nextHandle_);
    handles_.emplace(handle, Echoer{std::move(socket)});
    return handle;
}

IcmpOpenFailure LinuxIcmpLibrary::openFailure() const {
    using Start = IcmpHelperProcess::Start;
    using Step = IcmpOpenFailure::Step;
    IcmpOpenFailure failure;
    failure.step = openStart_ == Start::Missing  ? Step::HelperFile
                   : openStart_ == Start::Failed ? Step::HelperStart
                                                 : Step::Socket;
    failure.notPermitted = openError_ == EACCES || openError_ == EPERM;
    failure.error = openError_;
    failure.reason = openError_ != 0 ? decodeLocale(std::strerror(openError_)) : std::u16string();
    failure.helperPath = decodeLocale(helperPath_);
    return failure;
}

bool LinuxIcmpLibrary::IcmpCloseHandle(Handle handle) {
    const bool closed = handles_.erase(handle) == 1;
    if (std::ranges::all_of(handles_, [](const auto& h) { return h.second.socket != nullptr; })) {
        moveFreely();
    }
    return closed;
}

int LinuxIcmpLibrary::stayOnThisProcessor() {
    if (stayingOn_ < 0 && ::sched_getaffinity(0, sizeof ownChoice_, &ownChoice_) == 0) {
        const int here = ::sched_getcpu();
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(here, &only);
        if (::sched_setaffinity(0, sizeof only, &only) == 0) {
            stayingOn_ = here;
        }
    }
    return stayingOn_;
}

void LinuxIcmpLibrary::moveFreely() {
    if (stayingOn_ >= 0) {
        ::sched_setaffinity(0, sizeof ownChoice_, &ownChoice_);
        stayingOn_ = -1;
    }
}

uint32_t LinuxIcmpLibrary::IcmpSendEcho(Handle handle, uint32_t destination,
                                        const void* requestData, uint16_t requestSize,
                                        const EchoOptions* requestOptions, void* replyBuffer,
                                        uint32_t replySize, uint32_t timeoutMs) {
    if (replyBuffer == nullptr || replySize < kEchoReplyHeaderSize + requestSize ||
        !icmp::sendable(destination)) {
        return 0;
    }
    return fill<EchoReply>(
        echo(handle, destination, 0, requestData, requestSize, requestOptions, timeoutMs),
        replyBuffer, replySize);
}

uint32_t LinuxIcmpLibrary::Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination,
                                          const void* requestData, uint16_t requestSize,
                                          const EchoOptions* requestOptions, void* replyBuffer,
                                          uint32_t replySize, uint32_t timeoutMs) {
    icmp::Address6 to{};  // without a destination ::, which is never sent
    if (destination != nullptr) {
        std::memcpy(to.data(), destination->sin6_addr, to.size());
    }
    if (replyBuffer == nullptr || replySize < kEchoReply6HeaderSize + requestSize ||
        !icmp::sendable(to)) {
        return 0;
    }
    return fill<EchoReply6>(echo(handle, to, destination->sin6_scope_id, requestData, requestSize,
                                 requestOptions, timeoutMs),
                            replyBuffer, replySize);
}

icmp::Outcome LinuxIcmpLibrary::echo(Handle handle, const icmp::Address& destination,
                                     uint32_t scopeId, const void* requestData,
                                     uint16_t requestSize, const EchoOptions* requestOptions,
                                     uint32_t timeoutMs) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || (requestSize > 0 && requestData == nullptr) ||
        requestSize > kMaxPayload) {
        return {};
    }
    const std::span payload(static_cast<const uint8_t*>(requestData), requestSize);
    const uint8_t ttl = requestOptions != nullptr ? requestOptions->Ttl : 0;
    const milliseconds timeout(std::min(timeoutMs, icmp::kMaxTimeoutMs));
    const auto* destination6 = std::get_if<icmp::Address6>(&destination);
    Echoer& echoer = it->second;

    if (echoer.socket) {
        // The handle's ICMPv6 socket comes at its first IPv6 echo; without
        // one (a kernel without IPv6) there is no answer, whatever the reason.
        int reason = 0;
        if (destination6 != nullptr && !echoer.socket6) {
            echoer.socket6 = openDatagramSocket(true, reason);
        }
        icmp::Socket* socket = destination6 != nullptr ? echoer.socket6.get() : echoer.socket.get();
        if (socket == nullptr) {
            return {};
        }
        const icmp::EchoKey key{0, ++echoer.sequence, destination, true, scopeId};
        const auto sent = icmp::send(*socket, key, payload, ttl);
        if (!sent) {
            return {};
        }
        const auto answer = inFrames(*sent, *sent + timeout, whileWaiting_,
                                     [&](auto until) { return icmp::await(*socket, key, until); });
        return icmp::outcome(answer, *sent);
    }

    if (!std::ranges::all_of(payload, [](uint8_t byte) { return byte == ' '; }) ||
        !helperServing()) {
        return {};
    }
    // The helper waits no less than its floor; a shorter wait is ours alone.
    icmp::Request request{0, requestSize, ttl, 0,
                          std::max(static_cast<uint32_t>(timeout.count()), icmp::kMinTimeoutMs)};
    if (destination6 != nullptr) {
        request.destination6 = *destination6;
        request.scopeId = scopeId;
    } else {
        request.destination = std::get<uint32_t>(destination);
    }
    request.processor = stayOnThisProcessor();
    const auto sent = Clock::now();
    // One that ended since its last answer is found so here, and started anew.
    if (!helper_->ask(request) && !(helperServing() && helper_->ask(request))) {
        return {};
    }
    const auto deadline = sent + timeout;
    auto answer =
        inFrames(sent, deadline, whileWaiting_, [&](auto until) { return helper_->answer(until); });
    // At its time-out the helper answers, or is found stuck and ended; below
    // its floor it waits on, and its answer is dropped at the next echo.
    if (!answer && request.timeoutMs == timeout.count()) {
        answer = helper_->answer(Clock::time_point::max());
    }
    return answer.value_or(icmp::Outcome{});
}
