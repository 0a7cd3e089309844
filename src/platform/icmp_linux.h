#pragma once

#include "platform/icmp_helper.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace icmp {
struct Channel;
struct HandleState;
}  // namespace icmp

// IcmpHelper on Linux ICMP sockets: each handle has a datagram ICMP socket
// ("ping socket", allowed by net.ipv4.ping_group_range) or a raw one
// (CAP_NET_RAW), or all raw handles share the raw socket the caller passed in.
// Thread-safe; several calls may wait at once, also on one handle. Destroying
// the helper while a call is in progress is not allowed.
class LinuxIcmpHelper final : public IcmpHelper {
public:
    enum class SocketKind {
        Auto,  // datagram where ping_group_range allows it, else raw
        DatagramOnly,
        RawOnly,
    };
    enum class Transport { Datagram, Raw };

    // rawFd: an AF_INET/SOCK_RAW/IPPROTO_ICMP socket opened while the process
    // held CAP_NET_RAW, or -1. The constructor takes its own dup() of it and
    // closes that dup itself; the caller keeps rawFd and may close it as soon
    // as the constructor returns. Handles needing a raw socket then share that
    // socket (replies are routed to the right handle) instead of calling
    // socket(). The options the helper sets on it (IP_TTL, ICMP_FILTER) apply
    // to rawFd too, so the caller should not use rawFd for anything else. Any
    // other kind of descriptor is ignored.
    explicit LinuxIcmpHelper(SocketKind kind = SocketKind::Auto, int rawFd = -1);
    ~LinuxIcmpHelper() override;

    LinuxIcmpHelper(const LinuxIcmpHelper&) = delete;
    LinuxIcmpHelper& operator=(const LinuxIcmpHelper&) = delete;

    Handle IcmpCreateFile() override;
    uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                          uint16_t requestSize, const EchoOptions* requestOptions,
                          void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) override;
    // Closes the handle's socket (a shared one stays open for the others); a
    // call still using it keeps it open until that call returns.
    bool IcmpCloseHandle(Handle handle) override;

    // errno of the latest IcmpCreateFile (0 when it succeeded), or of taking
    // rawFd if no IcmpCreateFile has run yet.
    int lastOpenError() const { return lastOpenError_.load(); }

    // Whether the rawFd given to the constructor is in use.
    bool hasSharedRawSocket() const { return sharedRaw_ != nullptr; }

    // nullopt for an unknown handle.
    std::optional<Transport> transportOf(Handle handle) const;

private:
    std::shared_ptr<icmp::Channel> openChannel(int& error) const;
    std::shared_ptr<icmp::HandleState> find(Handle handle) const;

    const SocketKind kind_;
    std::shared_ptr<icmp::Channel> sharedRaw_;
    std::atomic<int> lastOpenError_{0};

    mutable std::mutex mutex_;
    std::map<Handle, std::shared_ptr<icmp::HandleState>> handles_;
    Handle nextHandle_ = 1;
};
