#include "platform/icmp/icmp_packet_linux.h"

#include "platform/icmp_helper.h"

#include <time.h>  // <linux/errqueue.h> needs struct timespec

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

uint8_t ttlFrom(std::span<const uint8_t> control) {
    uint8_t ttl = 0;
    forEachControlMessage(control, [&](int level, int type, std::span<const uint8_t> data) {
        if (level == IPPROTO_IP && type == IP_TTL && data.size() >= sizeof(int)) {
            int value;
            std::memcpy(&value, data.data(), sizeof value);
            if (value > 0 && value <= 255) {
                ttl = static_cast<uint8_t>(value);
            }
        }
    });
    return ttl;
}

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
                                      std::span<const uint8_t> payload) {
    std::vector<uint8_t> packet(kHeaderSize + payload.size());
    packet[0] = kEchoRequest;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    if (!payload.empty()) {
        std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
    }
    const uint16_t sum = checksum(packet);
    packet[2] = static_cast<uint8_t>(sum >> 8);
    packet[3] = static_cast<uint8_t>(sum);
    return packet;
}

std::optional<int32_t> errorStatus(uint8_t type, uint8_t code) {
    switch (type) {
        case kDestUnreachable:
            switch (code) {
                case 0:
                case 6:
                case 9:
                case 11:
                    return IpStatus::DestNetUnreachable;
                case 2:
                    return IpStatus::DestProtUnreachable;
                case 3:
                    return IpStatus::DestPortUnreachable;
                case 4:
                    return IpStatus::PacketTooBig;
                case 5:
                    return IpStatus::BadRoute;
                default:
                    return IpStatus::DestHostUnreachable;
            }
        case kTimeExceeded:
            if (code == 0) {
                return IpStatus::TtlExpiredTransit;
            }
            if (code == 1) {
                return IpStatus::TtlExpiredReassembly;
            }
            return std::nullopt;
        case kParameterProblem:
            return IpStatus::ParameterProblem;
        case kSourceQuench:
            return IpStatus::SourceQuench;
        default:
            return std::nullopt;
    }
}

bool answers(const Message& message, const EchoKey& key) {
    const uint32_t to = key.destination != INADDR_ANY ? key.destination : htonl(INADDR_LOOPBACK);
    const auto same = [&](uint16_t id, uint16_t sequence, uint32_t address) {
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
    const auto status = errorStatus(type, code);
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

std::optional<Reply> parseDatagramReply(std::span<const uint8_t> message, uint32_t source,
                                        std::span<const uint8_t> control) {
    if (message.size() < kHeaderSize || message[0] != kEchoReply) {
        return std::nullopt;
    }
    return Reply{source, ttlFrom(control), load16(message, 4), load16(message, 6),
                 message.subspan(kHeaderSize)};
}

std::optional<Error> parseDatagramError(std::span<const uint8_t> message, uint32_t destination,
                                        std::span<const uint8_t> control) {
    if (message.size() < kHeaderSize || message[0] != kEchoRequest) {
        return std::nullopt;
    }
    std::optional<Error> error;
    forEachControlMessage(control, [&](int level, int type, std::span<const uint8_t> data) {
        if (level != IPPROTO_IP || type != IP_RECVERR || data.size() < sizeof(sock_extended_err)) {
            return;
        }
        sock_extended_err record;
        std::memcpy(&record, data.data(), sizeof record);
        if (record.ee_origin != SO_EE_ORIGIN_ICMP) {
            return;  // local errors: the failed send already said so
        }
        const auto status = errorStatus(record.ee_type, record.ee_code);
        if (!status) {
            return;
        }
        Error e;
        e.status = *status;
        // SO_EE_OFFENDER: the sender's address follows the record.
        if (data.size() >= sizeof record + sizeof(sockaddr_in)) {
            sockaddr_in offender;
            std::memcpy(&offender, data.data() + sizeof record, sizeof offender);
            if (offender.sin_family == AF_INET) {
                e.sender = offender.sin_addr.s_addr;
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
