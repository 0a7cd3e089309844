#pragma once

#include "ping/echo_records.h"

#include <cstdint>

// The ICMP helper service: open an echo handle, send one echo and wait for
// its answer, close the handle.
class IcmpHelper {
public:
    using Handle = uint32_t;
    static constexpr Handle kInvalidHandle = 0xFFFFFFFFu;

    virtual ~IcmpHelper() = default;

    // kInvalidHandle when no ICMP socket can be had.
    virtual Handle IcmpCreateFile() = 0;

    // Sends one echo request to destination (the four address bytes in
    // network order, as in_addr.s_addr holds them) and blocks until its reply
    // or an ICMP error about it arrives, or timeoutMs have passed.
    // Returns the number of replies written into replyBuffer (1), or 0 for
    // none. An ICMP error is a reply with a non-zero Status, the sender's
    // address and DataSize 0.
    virtual uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void* requestData,
                                  uint16_t requestSize, const EchoOptions* requestOptions,
                                  void* replyBuffer, uint32_t replySize, uint32_t timeoutMs) = 0;

    virtual bool IcmpCloseHandle(Handle handle) = 0;
};
