#include "platform/icmp/icmp_packet_linux.h"

#include "platform/icmp/ip_status.h"

#include <time.h>  // <linux/errqueue.h> needs struct timespec

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace icmp {
namespace {

uint16_t load16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Kept in network order.
uint32_t loadAddress(std::span<const uint8_t> bytes, std::size_t at) {
    uint32_t address;
    std::memcpy(&address, bytes.data() + at, sizeof address);
    return address;
}

Address6 loadAddress6(std::span<const uint8_t> bytes, std::size_t at) {
    Address6 address;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), address.size(), address.begin());
    return address;
}

struct IpHeader {
    std::size_t headerLength = 0;
    std::size_t totalLength = 0;
    uint8_t ttl = 0;
    uint8_t protocol = 0;
    uint32_t source = 0;
    uint32_t destination = 0;
};

// Total length is not checked here: a quoted header may describe a datagram
// longer than the bytes quoted.
std::optional<IpHeader> parseIpHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < kMinIpHeaderSize || (bytes[0] >> 4) != 4) {
        return std::nullopt;
    }
    IpHeader header;
    header.headerLength = (bytes[0] & 0x0fu) * 4u;
    if (header.headerLength < kMinIpHeaderSize || header.headerLength > bytes.size()) {
        return std::nullopt;
    }
    header.totalLength = load16(bytes, 2);
    header.ttl = bytes[8];
    header.protocol = bytes[9];
    header.source = loadAddress(bytes, 12);
    header.destination = loadAddress(bytes, 16);
    return header;
}

// Walks a control buffer without trusting its lengths; memcpy because the
// bytes may not be aligned for cmsghdr.
template <class Visit>
void forEachControlMessage(std::span<const uint8_t> control, Visit visit) {
    constexpr std::size_t kDataOffset = CMSG_LEN(0);
    std::size_t at = 0;
    while (control.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, control.data() + at, sizeof header);
        if (header.cmsg_len < kDataOffset || header.cmsg_len > control.size() - at) {
            return;
        }
        visit(header.cmsg_level, header.cmsg_type,
              control.subspan(at + kDataOffset, header.cmsg_len - kDataOffset));
        at += CMSG_ALIGN(header.cmsg_len);
        if (at >= control.size()) {
            return;
        }
    }
}

// The TTL, or the hop limit of an IPv6 message.
uint8_t ttlFrom(std::span<const uint8_t> control) {
    uint8_t ttl = 0;
    forEachControlMessage(control, [&](int level, int type, std::span<const uint8_t> data) {
        if (((level == IPPROTO_IP && type == IP_TTL) ||
             (level == IPPROTO_IPV6 && type == IPV6_HOPLIMIT)) &&
            data.size() >= sizeof(int)) {
            int value;
            std::memcpy(&value, data.data(), sizeof value);
            if (value > 0 && value <= 255) {
                ttl = static_cast<uint8_t>(value);
            }
        }
    });
    return ttl;
}

constexpr int kAnyCode = -1;

struct ErrorRow {
    bool ipv6;
    uint8_t type;
    int code;  // or kAnyCode: any not matched by a row before
    int32_t status;
};

// The first row that matches counts; types and codes without a row answer no echo.
constexpr ErrorRow kErrorStatuses[] = {
    {false, kDestUnreachable, 0, IpStatus::DestNetUnreachable},
    {false, kDestUnreachable, 6, IpStatus::DestNetUnreachable},
    {false, kDestUnreachable, 9, IpStatus::DestNetUnreachable},
    {false, kDestUnreachable, 11, IpStatus::DestNetUnreachable},
    {false, kDestUnreachable, 2, IpStatus::DestProtUnreachable},
    {false, kDestUnreachable, 3, IpStatus::DestPortUnreachable},
    {false, kDestUnreachable, 4, IpStatus::PacketTooBig},
    {false, kDestUnreachable, 5, IpStatus::BadRoute},
    {false, kDestUnreachable, kAnyCode, IpStatus::DestHostUnreachable},
    {false, kTimeExceeded, 0, IpStatus::TtlExpiredTransit},
    {false, kTimeExceeded, 1, IpStatus::TtlExpiredReassembly},
    {false, kParameterProblem, kAnyCode, IpStatus::ParameterProblem},
    {false, kSourceQuench, kAnyCode, IpStatus::SourceQuench},
    {true, kDestUnreachable6, 0, IpStatus::DestNoRoute},
    {true, kDestUnreachable6, 1, IpStatus::DestProhibited},
    {true, kDestUnreachable6, 2, IpStatus::DestScopeMismatch},
    {true, kDestUnreachable6, 3, IpStatus::DestAddrUnreachable},
    {true, kDestUnreachable6, 4, IpStatus::DestPortUnreachable},
    {true, kDestUnreachable6, kAnyCode, IpStatus::DestUnreachable},
    {true, kPacketTooBig6, kAnyCode, IpStatus::PacketTooBig},
    {true, kTimeExceeded6, 0, IpStatus::HopLimitExceeded},
    {true, kTimeExceeded6, 1, IpStatus::TtlExpiredReassembly},
    {true, kParameterProblem6, kAnyCode, IpStatus::ParameterProblem},
};

}  // namespace

uint16_t checksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += load16(bytes, i);
    }
    if (i < bytes.size()) {
        sum += static_cast<uint32_t>(bytes[i]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xffffu) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload, bool ipv6) {
    std::vector<uint8_t> packet(kHeaderSize + payload.size());
    packet[0] = ipv6 ? kEchoRequest6 : kEchoRequest;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    if (!payload.empty()) {
        std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
    }
    if (ipv6) {
        return packet;
    }
    const uint16_t sum = checksum(packet);
    packet[2] = static_cast<uint8_t>(sum >> 8);
    packet[3] = static_cast<uint8_t>(sum);
    return packet;
}

std::optional<int32_t> errorStatus(uint8_t type, uint8_t code, bool ipv6) {
    for (const ErrorRow& row : kErrorStatuses) {
        if (row.ipv6 == ipv6 && row.type == type && (row.code == kAnyCode || row.code == code)) {
            return row.status;
        }
    }
    return std::nullopt;
}

bool answers(const Message& message, const EchoKey& key) {
    const Address to =
        key.destination != Address(INADDR_ANY) ? key.destination : Address(htonl(INADDR_LOOPBACK));
    const auto same = [&](uint16_t id, uint16_t sequence, const Address& address) {
        return (key.anyId || id == key.id) && sequence == key.sequence && address == to;
    };
    if (const auto* reply = std::get_if<Reply>(&message)) {
        return same(reply->id, reply->sequence, reply->source);
    }
    if (const auto* error = std::get_if<Error>(&message)) {
        return same(error->id, error->sequence, error->destination);
    }
    return false;
}

std::optional<OriginalEcho> parseOriginalEcho(std::span<const uint8_t> quoted) {
    const auto ip = parseIpHeader(quoted);
    if (!ip || ip->protocol != IPPROTO_ICMP || quoted.size() < ip->headerLength + kHeaderSize) {
        return std::nullopt;
    }
    const auto echo = quoted.subspan(ip->headerLength);
    if (echo[0] != kEchoRequest) {
        return std::nullopt;
    }
    return OriginalEcho{ip->destination, load16(echo, 4), load16(echo, 6)};
}

// Our echoes carry no extension header but, when larger than the path's MTU,
// a fragment header: an error about the first fragment quotes it.
std::optional<OriginalEcho> parseOriginalEcho6(std::span<const uint8_t> quoted) {
    if (quoted.size() < kIp6HeaderSize + kHeaderSize || (quoted[0] >> 4) != 6) {
        return std::nullopt;
    }
    auto echo = quoted.subspan(kIp6HeaderSize);
    uint8_t next = quoted[6];
    if (next == IPPROTO_FRAGMENT) {
        if (echo.size() < kFragmentHeaderSize + kHeaderSize) {
            return std::nullopt;
        }
        next = echo[0];
        echo = echo.subspan(kFragmentHeaderSize);
    }
    if (next != IPPROTO_ICMPV6 || echo[0] != kEchoRequest6) {
        return std::nullopt;
    }
    return OriginalEcho{loadAddress6(quoted, 24), load16(echo, 4), load16(echo, 6)};
}

Message parseRawPacket(std::span<const uint8_t> packet) {
    const auto ip = parseIpHeader(packet);
    if (!ip || ip->protocol != IPPROTO_ICMP || ip->totalLength > packet.size() ||
        ip->totalLength < ip->headerLength + kHeaderSize) {
        return {};
    }
    const auto message = packet.subspan(ip->headerLength, ip->totalLength - ip->headerLength);
    if (checksum(message) != 0) {
        return {};
    }
    const uint8_t type = message[0];
    const uint8_t code = message[1];
    if (type == kEchoReply) {
        return Reply{ip->source, ip->ttl, load16(message, 4), load16(message, 6),
                     message.subspan(kHeaderSize)};
    }
    const auto status = errorStatus(type, code, false);
    if (!status) {
        return {};
    }
    const auto original = parseOriginalEcho(message.subspan(kHeaderSize));
    if (!original) {
        return {};
    }
    return Error{ip->source,   ip->ttl,           *status, original->destination,
                 original->id, original->sequence};
}

Message parseRawPacket6(std::span<const uint8_t> message, const Address6& source,
                        std::span<const uint8_t> control) {
    if (message.size() < kHeaderSize) {
        return {};
    }
    if (message[0] == kEchoReply6) {
        return Reply{source, ttlFrom(control), load16(message, 4), load16(message, 6),
                     message.subspan(kHeaderSize)};
    }
    const auto status = errorStatus(message[0], message[1], true);
    const auto original = status ? parseOriginalEcho6(message.subspan(kHeaderSize)) : std::nullopt;
    if (!original) {
        return {};
    }
    return Error{source,       ttlFrom(control),  *status, original->destination,
                 original->id, original->sequence};
}

std::optional<Reply> parseDatagramReply(std::span<const uint8_t> message, const Address& source,
                                        std::span<const uint8_t> control) {
    const bool ipv6 = std::holds_alternative<Address6>(source);
    if (message.size() < kHeaderSize || message[0] != (ipv6 ? kEchoReply6 : kEchoReply)) {
        return std::nullopt;
    }
    return Reply{source, ttlFrom(control), load16(message, 4), load16(message, 6),
                 message.subspan(kHeaderSize)};
}

std::optional<Error> parseDatagramError(std::span<const uint8_t> message,
                                        const Address& destination,
                                        std::span<const uint8_t> control) {
    const bool ipv6 = std::holds_alternative<Address6>(destination);
    if (message.size() < kHeaderSize || message[0] != (ipv6 ? kEchoRequest6 : kEchoRequest)) {
        return std::nullopt;
    }
    std::optional<Error> error;
    forEachControlMessage(control, [&](int level, int type, std::span<const uint8_t> data) {
        if ((ipv6 ? level != IPPROTO_IPV6 || type != IPV6_RECVERR
                  : level != IPPROTO_IP || type != IP_RECVERR) ||
            data.size() < sizeof(sock_extended_err)) {
            return;
        }
        sock_extended_err record;
        std::memcpy(&record, data.data(), sizeof record);
        if (record.ee_origin != (ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
            return;  // local errors: the failed send already said so
        }
        const auto status = errorStatus(record.ee_type, record.ee_code, ipv6);
        if (!status) {
            return;
        }
        Error e;
        e.status = *status;
        // SO_EE_OFFENDER: the sender's address follows the record.
        const auto offender = data.subspan(sizeof record);
        if (ipv6) {
            e.sender = Address6{};
            sockaddr_in6 from;
            if (offender.size() >= sizeof from) {
                std::memcpy(&from, offender.data(), sizeof from);
                if (from.sin6_family == AF_INET6) {
                    e.sender = loadAddress6(offender, offsetof(sockaddr_in6, sin6_addr));
                }
            }
        } else if (offender.size() >= sizeof(sockaddr_in)) {
            sockaddr_in from;
            std::memcpy(&from, offender.data(), sizeof from);
            if (from.sin_family == AF_INET) {
                e.sender = from.sin_addr.s_addr;
            }
        }
        error = e;
    });
    if (error) {
        error->ttl = ttlFrom(control);
        error->destination = destination;
        error->id = load16(message, 4);
        error->sequence = load16(message, 6);
    }
    return error;
}

}  // namespace icmp
