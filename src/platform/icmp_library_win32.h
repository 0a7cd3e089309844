#pragma once

#include "platform/icmp_library.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

// IcmpLibrary on Windows: the system's ICMP library (iphlpapi), its time-out
// and its answers. An echo goes out with an event to wait on, so that the
// window can paint while the thread waits for the network. One call at a
// time, from one thread.
class WindowsIcmpLibrary final : public IcmpLibrary {
public:
    WindowsIcmpLibrary();
    ~WindowsIcmpLibrary() override;
    WindowsIcmpLibrary(const WindowsIcmpLibrary&) = delete;
    WindowsIcmpLibrary& operator=(const WindowsIcmpLibrary&) = delete;

    Handle IcmpCreateFile() override;
    Handle Icmp6CreateFile() override;
    IcmpOpenFailure openFailure() const override;
    uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                          uint16_t requestSize, const EchoOptions* requestOptions,
                          void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) override;
    // The library's IPv6 reply tells neither the size echoed nor the hop
    // limit: a reply of success has the request's size, and HopLimit is 0.
    uint32_t Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination,
                            const void* requestData, uint16_t requestSize,
                            const EchoOptions* requestOptions, void* replyBuffer,
                            uint32_t replySize, uint32_t timeoutMs) override;
    bool IcmpCloseHandle(Handle handle) override;

    // Called while an echo waits, whenever the thread's windows have
    // something to paint or another thread sends them a message; it is to
    // dispatch those only.
    void setWhileWaiting(std::function<void()> hook) { whileWaiting_ = std::move(hook); }

private:
    // What the library writes into until it signals the event.
    struct Exchange;

    Handle keep(void* systemHandle);
    // Sends with send(event, buffer, size) and waits for the library's
    // answer, in the exchange's buffer; nothing where it failed or never came.
    template <class Send>
    Exchange* exchange(size_t replyRoom, uint32_t timeoutMs, Send send);

    std::map<Handle, void*> handles_;
    Handle nextHandle_ = 1;
    unsigned long openError_ = 0;
    bool openIpv6_ = false;  // the latest open was for IPv6
    std::function<void()> whileWaiting_;
    // The event and buffer of the latest echo, answered, for the next one.
    std::unique_ptr<Exchange> exchange_;
    // Echoes that the library has not answered by their time-out and then
    // some: their memory stays until the handles are closed.
    std::vector<std::unique_ptr<Exchange>> abandoned_;
};
