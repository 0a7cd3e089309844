// The ICMP and ICMPv6 parsers on any bytes: a byte that picks the parser, a
// byte that counts the control data at the end (for the datagram and raw
// ICMPv6 ones), an address (for IPv6 its last 4 bytes), then the bytes. A
// payload found lies within them; an error has a status.

#include "platform/icmp/icmp_packet_linux.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

void within(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
    if (!part.empty() &&
        (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size())) {
        std::abort();
    }
}

void check(const icmp::Message& message, std::span<const uint8_t> bytes) {
    if (const auto* reply = std::get_if<icmp::Reply>(&message)) {
        within(reply->payload, bytes);
    } else if (const auto* error = std::get_if<icmp::Error>(&message)) {
        if (error->status == 0) {
            std::abort();
        }
    }
    icmp::answers(message, {1, 1, 0u, (bytes.size() & 1) != 0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::size_t kHeader = 6;
    if (size < kHeader) {
        return 0;
    }
    const uint8_t choice = data[0];
    uint32_t address;
    std::memcpy(&address, data + 2, sizeof address);
    icmp::Address6 address6{};
    std::memcpy(address6.data() + 12, data + 2, sizeof address);
    const std::span<const uint8_t> bytes(data + kHeader, size - kHeader);
    const std::size_t split = std::min<std::size_t>(data[1], bytes.size());
    const auto message = bytes.first(bytes.size() - split);
    const auto control = bytes.last(split);
    icmp::checksum(bytes);
    const bool ipv6 = (choice & 4) != 0;
    const icmp::Address from = ipv6 ? icmp::Address(address6) : icmp::Address(address);
    switch (choice & 3) {
        case 0:
            check(ipv6 ? icmp::parseRawPacket6(message, address6, control)
                       : icmp::parseRawPacket(bytes),
                  bytes);
            break;
        case 1:
            if (const auto reply = icmp::parseDatagramReply(message, from, control)) {
                check(*reply, message);
            }
            break;
        case 2:
            if (const auto error = icmp::parseDatagramError(message, from, control)) {
                check(*error, message);
            }
            break;
        default:
            ipv6 ? icmp::parseOriginalEcho6(bytes) : icmp::parseOriginalEcho(bytes);
            break;
    }
    return 0;
}
