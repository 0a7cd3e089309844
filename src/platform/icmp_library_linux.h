#pragma once

#include "platform/icmp_library.h"
#include "platform/icmp_process_linux.h"

#include <sched.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

// IcmpLibrary on Linux. Each handle has a datagram ICMP socket ("ping
// socket", allowed by net.ipv4.ping_group_range) of its own; where none is
// allowed, the echoes of every handle go through one ICMP helper program,
// which holds the raw socket: started at the first handle that needs it, kept
// for the life of this object, started again if it ended. This process never
// holds a raw socket or a capability. One call at a time, from one thread.
//
// Through the helper a payload must be blanks (it sends that many of its
// own); any other is not sent. Echoes to 255.255.255.255, to multicast
// addresses, to :: and to IPv4-mapped ones are not sent (0 at once), and no
// echo waits longer than 10 s. ICMPv6 goes the way of the handle: on a
// datagram socket of its own beside the ICMP one, or through the helper.
// The helper waits 1 s at least for an answer: after an echo given up on
// sooner, the next one through it goes once the helper has had that answer,
// or that second is over, within its own time-out.
class LinuxIcmpLibrary final : public IcmpLibrary {
public:
    enum class SocketKind {
        Auto,  // datagram where ping_group_range allows it, else the helper
        DatagramOnly,
        HelperOnly,
    };

    explicit LinuxIcmpLibrary(SocketKind kind = SocketKind::Auto);
    ~LinuxIcmpLibrary() override;
    LinuxIcmpLibrary(const LinuxIcmpLibrary&) = delete;
    LinuxIcmpLibrary& operator=(const LinuxIcmpLibrary&) = delete;

    Handle IcmpCreateFile() override;
    // One handle serves both families.
    Handle Icmp6CreateFile() override { return IcmpCreateFile(); }
    IcmpOpenFailure openFailure() const override;
    uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                          uint16_t requestSize, const EchoOptions* requestOptions,
                          void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) override;
    uint32_t Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination,
                            const void* requestData, uint16_t requestSize,
                            const EchoOptions* requestOptions, void* replyBuffer,
                            uint32_t replySize, uint32_t timeoutMs) override;
    bool IcmpCloseHandle(Handle handle) override;

    // Called at every frame of the display (16 ms) from the send on while an
    // echo waits for its answer, never after its time-out: the window can
    // show what it holds back while the thread waits for the network.
    void setWhileWaiting(std::function<void()> hook) { whileWaiting_ = std::move(hook); }

    // The helper's file: the same path from the program's own file as
    // installed, in the build tree and in an unpacked package.
    static std::string helperPath();

private:
    struct Echoer {
        std::unique_ptr<icmp::Socket> socket;             // none: through the helper
        std::unique_ptr<icmp::Socket> socket6 = nullptr;  // ICMPv6, beside socket
        uint16_t sequence = 0;
    };

    bool helperServing();

    // An echo through the helper is handed from this thread to the helper
    // and back: on one processor that costs a few microseconds, between two
    // (on a virtual machine most of all) many times what the echo does. So
    // while a handle uses the helper, the calling thread stays on the
    // processor it is on, and the helper joins it; the thread's own choice
    // comes back with the last such handle. The processor, or -1.
    int stayOnThisProcessor();
    void moveFreely();
    // One echo of either family, on the handle's socket or through the
    // helper; result 0 when there was no answer.
    icmp::Outcome echo(Handle handle, const icmp::Address& destination, uint32_t scopeId,
                       const void* requestData, uint16_t requestSize,
                       const EchoOptions* requestOptions, uint32_t timeoutMs);

    const SocketKind kind_;
    const std::string helperPath_;
    std::unique_ptr<IcmpHelperProcess> helper_;
    IcmpHelperProcess::Start openStart_ = IcmpHelperProcess::Start::Serving;  // of the latest
    int openError_ = 0;
    std::map<Handle, Echoer> handles_;
    Handle nextHandle_ = 1;
    std::function<void()> whileWaiting_;
    int stayingOn_ = -1;
    cpu_set_t ownChoice_{};
};
