#pragma once

#include "platform/icmp_helper.h"

#include <functional>
#include <map>
#include <memory>

namespace icmp {
struct Socket;
}

// IcmpHelper on Linux ICMP sockets: each handle has a datagram ICMP socket
// ("ping socket", allowed by net.ipv4.ping_group_range) or a raw one
// (CAP_NET_RAW), or all raw handles share the raw socket given to the
// constructor. One call at a time, from one thread. A reply counts only with
// the request's payload unchanged.
class LinuxIcmpHelper final : public IcmpHelper {
public:
    enum class SocketKind {
        Auto,  // datagram where ping_group_range allows it, else raw
        DatagramOnly,
        RawOnly,
    };

    // rawFd: an AF_INET/SOCK_RAW/IPPROTO_ICMP socket opened while the process
    // held CAP_NET_RAW, or -1. The helper keeps its own dup() of it, so the
    // caller may close rawFd as soon as the constructor returns; handles
    // needing a raw socket then share that one instead of calling socket().
    // The options the helper sets on it (IP_TTL, ICMP_FILTER) apply to rawFd
    // too, so the caller should not use rawFd for anything else. Any other kind
    // of descriptor is ignored.
    explicit LinuxIcmpHelper(SocketKind kind = SocketKind::Auto, int rawFd = -1);

    LinuxIcmpHelper(const LinuxIcmpHelper&) = delete;
    LinuxIcmpHelper& operator=(const LinuxIcmpHelper&) = delete;

    Handle IcmpCreateFile() override;
    std::string openFailure() const override;
    uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                          uint16_t requestSize, const EchoOptions* requestOptions,
                          void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) override;
    bool IcmpCloseHandle(Handle handle) override;

    // errno of the latest IcmpCreateFile (0 when it succeeded), or of taking
    // rawFd if no IcmpCreateFile has run yet.
    int lastOpenError() const { return lastOpenError_; }

    // Called once in an echo whose answer has not come within a frame of the
    // display (16 ms), before the wait goes on: the window can show what it
    // holds back while the thread waits for the network.
    void setWhileWaiting(std::function<void()> hook) { whileWaiting_ = std::move(hook); }

private:
    struct Echoer {
        std::shared_ptr<icmp::Socket> socket;  // sharedRaw_ or the handle's own
        uint16_t id = 0;
        uint16_t sequence = 0;
    };

    std::shared_ptr<icmp::Socket> openSocket(int& error) const;

    const SocketKind kind_;
    std::shared_ptr<icmp::Socket> sharedRaw_;
    int lastOpenError_ = 0;
    std::map<Handle, Echoer> handles_;
    Handle nextHandle_ = 1;
    uint16_t nextRawId_;
    std::function<void()> whileWaiting_;
};
