#include "platform/icmp_library_win32.h"

#include "platform/system_text_win32.h"

// The order the system's headers need.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <cstring>

namespace {

// The library answers at its time-out; one that has not by this much later
// is stuck.
constexpr ULONGLONG kGraceMs = 1000;

// The IPv6 reply's layout, which mingw-w64's headers lack (ipexport.h).
#pragma pack(push, 1)
struct Ipv6AddressLayout {
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    USHORT sin6_addr[8];
    ULONG sin6_scope_id;
};
#pragma pack(pop)
struct Icmpv6EchoReply {
    Ipv6AddressLayout Address;
    ULONG Status;
    unsigned int RoundTripTime;
};

IP_OPTION_INFORMATION systemOptions(const EchoOptions* options) {
    IP_OPTION_INFORMATION system{};
    if (options != nullptr) {
        // The record's options pointer is a 32-bit value of its own layout;
        // the program never sets one.
        system.Ttl = options->Ttl;
        system.Tos = options->Tos;
        system.Flags = options->Flags;
    }
    return system;
}

// What the caller's buffer takes of a filled record: the header and the data
// echoed, as much as fits. The buffer need not be aligned.
template <class Reply>
void copyOut(const Reply& reply, size_t dataSize, void* replyBuffer, uint32_t replySize) {
    constexpr size_t kHeader = offsetof(Reply, Payload);
    std::memcpy(replyBuffer, &reply, std::min<size_t>(replySize, kHeader + dataSize));
}

}  // namespace

struct WindowsIcmpLibrary::Exchange {
    Exchange() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Exchange() {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    HANDLE event;
    std::vector<unsigned char> buffer;
};

WindowsIcmpLibrary::WindowsIcmpLibrary() = default;

WindowsIcmpLibrary::~WindowsIcmpLibrary() {
    // Closing a handle ends what waits on it.
    for (const auto& [handle, system] : handles_) {
        ::IcmpCloseHandle(system);
    }
    for (const auto& stuck : abandoned_) {
        WaitForSingleObject(stuck->event, static_cast<DWORD>(kGraceMs));
    }
}

IcmpLibrary::Handle WindowsIcmpLibrary::keep(void* systemHandle) {
    if (systemHandle == INVALID_HANDLE_VALUE) {
        openError_ = GetLastError();
        return kInvalidHandle;
    }
    openError_ = 0;
    const Handle handle = unusedHandle(handles_, nextHandle_);
    handles_.emplace(handle, systemHandle);
    return handle;
}

IcmpLibrary::Handle WindowsIcmpLibrary::IcmpCreateFile() {
    openIpv6_ = false;
    return keep(::IcmpCreateFile());
}

IcmpLibrary::Handle WindowsIcmpLibrary::Icmp6CreateFile() {
    openIpv6_ = true;
    return keep(::Icmp6CreateFile());
}

IcmpOpenFailure WindowsIcmpLibrary::openFailure() const {
    IcmpOpenFailure failure;
    failure.error = static_cast<int>(openError_);
    failure.reason = systemMessage(openError_);
    // As Wine has it: the IPv6 calls are there, but do nothing.
    if (openIpv6_ &&
        (openError_ == ERROR_CALL_NOT_IMPLEMENTED || openError_ == ERROR_NOT_SUPPORTED)) {
        failure.reason = u"this system has no ICMPv6 echo (" + failure.reason + u")";
    }
    return failure;
}

bool WindowsIcmpLibrary::IcmpCloseHandle(Handle handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        return false;
    }
    const bool closed = ::IcmpCloseHandle(it->second) != FALSE;
    handles_.erase(it);
    return closed;
}

template <class Send>
WindowsIcmpLibrary::Exchange* WindowsIcmpLibrary::exchange(size_t replyRoom, uint32_t timeoutMs,
                                                           Send send) {
    if (!exchange_) {
        exchange_ = std::make_unique<Exchange>();
    }
    Exchange* echo = exchange_.get();
    if (echo->event == nullptr) {
        return nullptr;
    }
    // The library resets the event as it sends.
    echo->buffer.assign(replyRoom + sizeof(IO_STATUS_BLOCK), 0);
    const DWORD size = static_cast<DWORD>(echo->buffer.size());
    if (send(echo->event, echo->buffer.data(), size) != 0) {
        return echo;  // answered at once
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return nullptr;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs + kGraceMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const auto left = static_cast<DWORD>(now < deadline ? deadline - now : 0);
        const DWORD woke = whileWaiting_ ? MsgWaitForMultipleObjects(1, &echo->event, FALSE, left,
                                                                     QS_PAINT | QS_SENDMESSAGE)
                                         : WaitForSingleObject(echo->event, left);
        if (woke == WAIT_OBJECT_0) {
            return echo;
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            abandoned_.push_back(std::move(exchange_));
            return nullptr;
        }
        whileWaiting_();
    }
}

uint32_t WindowsIcmpLibrary::IcmpSendEcho(Handle handle, uint32_t destination,
                                          const void* requestData, uint16_t requestSize,
                                          const EchoOptions* requestOptions, void* replyBuffer,
                                          uint32_t replySize, uint32_t timeoutMs) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || replyBuffer == nullptr ||
        replySize < kEchoReplyHeaderSize + requestSize) {
        return 0;
    }
    IP_OPTION_INFORMATION options = systemOptions(requestOptions);
    // Room for the reply, the data echoed and an ICMP error's 8 bytes.
    Exchange* echo =
        exchange(sizeof(ICMP_ECHO_REPLY) + requestSize + 8, timeoutMs,
                 [&](HANDLE event, void* buffer, DWORD size) {
                     return IcmpSendEcho2(it->second, event, nullptr, nullptr, destination,
                                          const_cast<void*>(requestData), requestSize, &options,
                                          buffer, size, timeoutMs);
                 });
    if (!echo ||
        IcmpParseReplies(echo->buffer.data(), static_cast<DWORD>(echo->buffer.size())) == 0) {
        return 0;
    }
    const auto* system = reinterpret_cast<const ICMP_ECHO_REPLY*>(echo->buffer.data());
    EchoReply reply;
    std::memcpy(reply.Address, &system->Address, sizeof reply.Address);
    reply.Status = static_cast<int32_t>(system->Status);
    reply.RoundTripTime = static_cast<int32_t>(system->RoundTripTime);
    const size_t dataSize = std::min<size_t>(system->DataSize, sizeof reply.Payload);
    reply.DataSize = static_cast<int16_t>(dataSize);
    reply.Options.Ttl = system->Options.Ttl;
    reply.Options.Tos = system->Options.Tos;
    reply.Options.Flags = system->Options.Flags;
    if (system->Data != nullptr) {
        std::memcpy(reply.Payload, system->Data, dataSize);
    }
    copyOut(reply, dataSize, replyBuffer, replySize);
    return 1;
}

uint32_t WindowsIcmpLibrary::Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination,
                                            const void* requestData, uint16_t requestSize,
                                            const EchoOptions* requestOptions, void* replyBuffer,
                                            uint32_t replySize, uint32_t timeoutMs) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || destination == nullptr || replyBuffer == nullptr ||
        replySize < kEchoReply6HeaderSize + requestSize) {
        return 0;
    }
    IP_OPTION_INFORMATION options = systemOptions(requestOptions);
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    std::memcpy(&to.sin6_addr, destination->sin6_addr, sizeof to.sin6_addr);
    to.sin6_scope_id = destination->sin6_scope_id;
    Exchange* echo =
        exchange(sizeof(Icmpv6EchoReply) + requestSize + 8, timeoutMs,
                 [&](HANDLE event, void* buffer, DWORD size) {
                     return ::Icmp6SendEcho2(it->second, event, nullptr, nullptr, &from, &to,
                                             const_cast<void*>(requestData), requestSize, &options,
                                             buffer, size, timeoutMs);
                 });
    if (!echo ||
        Icmp6ParseReplies(echo->buffer.data(), static_cast<DWORD>(echo->buffer.size())) == 0) {
        return 0;
    }
    Icmpv6EchoReply system;
    std::memcpy(&system, echo->buffer.data(), sizeof system);
    EchoReply6 reply;
    std::memcpy(reply.Address, system.Address.sin6_addr, sizeof reply.Address);
    reply.Status = static_cast<int32_t>(system.Status);
    reply.RoundTripTime = static_cast<int32_t>(system.RoundTripTime);
    reply.DataSize = static_cast<int16_t>(system.Status == 0 ? requestSize : 0);
    copyOut(reply, 0, replyBuffer, replySize);
    return 1;
}
