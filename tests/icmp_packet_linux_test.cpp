// The ICMP packets as the Linux layer reads them: what answers an echo, and
// the TTL of a datagram reply.

#include "platform/icmp/icmp_packet_linux.h"
#include "platform/icmp/ip_status.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <span>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kClient = inet_addr("198.18.1.1");
const uint32_t kRouter = inet_addr("198.18.1.2");
const uint32_t kTarget = inet_addr("198.18.2.2");
const uint32_t kLoopback = inet_addr("127.0.0.1");

Bytes operator+(Bytes bytes, std::span<const uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

Bytes icmpMessage(uint8_t type, uint16_t id, uint16_t seq, const Bytes& body = {},
                  uint8_t code = 0) {
    Bytes m{type, code, 0, 0, uint8_t(id >> 8), uint8_t(id), uint8_t(seq >> 8), uint8_t(seq)};
    m = m + body;
    const uint16_t sum = icmp::checksum(m);
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m;
}

Bytes ipPacket(uint32_t src, uint32_t dst, const Bytes& body) {
    const auto length = 20 + body.size();
    Bytes p{0x45, 0, uint8_t(length >> 8), uint8_t(length), 0, 0, 0, 0, 61, IPPROTO_ICMP, 0, 0};
    const uint32_t addresses[] = {src, dst};
    return p + std::span(reinterpret_cast<const uint8_t*>(addresses), 8) + body;
}

Bytes edit(Bytes bytes, std::size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

const auto cut = [](const Bytes& bytes) { return Bytes(bytes.begin(), bytes.end() - 1); };

// Bad checksums are dropped: raw sockets get packets before the kernel checks.
// An error quotes the request's IP header and first 8 ICMP bytes; an ICMPv6
// one, of an echo larger than the MTU, its fragment header too.
TEST(IcmpPacket, RawPacketsAnswerOnlyTheirEcho) {
    const auto raw = [](const Bytes& packet) { return icmp::parseRawPacket(packet); };
    const auto reply = [](uint16_t id, uint16_t seq, uint32_t from = kTarget) {
        return ipPacket(from, kClient, icmpMessage(0, id, seq));
    };
    const Bytes request = ipPacket(kClient, kTarget, icmpMessage(8, 7, 9));
    const auto error = [&](uint8_t type, uint8_t code, const Bytes& quoted) {
        return raw(ipPacket(kRouter, kClient, icmpMessage(type, 0, 0, quoted, code)));
    };
    // ICMPv6 as a raw socket reads it: the message alone, here from the target.
    const icmp::Address6 target6{0x20, 1, 0xd, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const auto raw6 = [&](const Bytes& m) { return icmp::parseRawPacket6(m, target6, {}); };
    const auto error6 = [&](uint8_t type, uint8_t code, const Bytes& quoted) {
        return raw6(icmpMessage(type, 0, 0, quoted, code));
    };
    const Bytes echo6 = icmpMessage(128, 7, 9);
    const Bytes request6 =
        Bytes{0x60, 0, 0, 0, 0, 8, IPPROTO_ICMPV6, 64} + Bytes(16) + target6 + echo6;
    Bytes fragment6 = edit(request6, 6, IPPROTO_FRAGMENT);
    fragment6.insert(fragment6.begin() + 40, {IPPROTO_ICMPV6, 0, 0, 1, 0, 0, 0, 7});
    const icmp::EchoKey key{7, 9, kTarget, false}, key6{7, 9, target6, false};
    // What the row is; the message; the echo; whether it answers it.
    const std::tuple<const char*, icmp::Message, icmp::EchoKey, bool> rows[] = {
        {"reply", raw(reply(7, 9)), key, true},
        {"reply from another address", raw(reply(7, 9, kRouter)), key, false},
        {"other id", raw(reply(8, 9)), key, false},
        {"other sequence", raw(reply(7, 8)), key, false},
        {"own request", raw(request), key, false},
        {"not ICMP", raw(edit(reply(7, 9), 9, IPPROTO_UDP)), key, false},
        {"shorter than its IP header says", raw(cut(reply(7, 9))), key, false},
        {"ICMP under 8 bytes", raw(ipPacket(kTarget, kClient, Bytes(7))), key, false},
        {"bad checksum", raw(edit(reply(7, 9), 23, 0)), key, false},
        // The kernel sends an echo to 0.0.0.0 to 127.0.0.1.
        {"to 0.0.0.0", raw(reply(7, 9, kLoopback)), {7, 9, INADDR_ANY}, true},
        {"host unreachable", error(3, 1, request), key, true},
        {"error quoting UDP", error(3, 1, edit(request, 9, IPPROTO_UDP)), key, false},
        {"error quoting a reply", error(3, 1, edit(request, 20, 0)), key, false},
        {"error quoting 7 ICMP bytes", error(3, 1, cut(request)), key, false},
        // Other types and codes are no answer: the wait goes on.
        {"redirect", error(5, 1, request), key, false},
        {"time exceeded, code 2", error(11, 2, request), key, false},
        {"time exceeded in reassembly", error(11, 1, request), key, true},
        {"IPv6 reply", raw6(icmpMessage(129, 7, 9)), key6, true},
        {"IPv6 under 8 bytes", raw6({129, 0, 0, 0, 0, 7, 0}), key6, false},
        {"IPv6 own request", raw6(echo6), key6, false},
        {"IPv6 address unreachable", error6(1, 3, request6), key6, true},
        {"IPv6 error quoting IPv4", error6(1, 3, edit(request6, 0, 0x45)), key6, false},
        {"IPv6 error quoting UDP", error6(1, 3, edit(request6, 6, IPPROTO_UDP)), key6, false},
        {"IPv6 error quoting a reply", error6(1, 3, edit(request6, 40, 129)), key6, false},
        {"IPv6 error quoting 7 ICMPv6 bytes", error6(1, 3, cut(request6)), key6, false},
        {"IPv6 error about a first fragment", error6(1, 3, fragment6), key6, true},
        {"the same, 7 ICMPv6 bytes", error6(1, 3, cut(fragment6)), key6, false},
        {"IPv6 time exceeded, code 3", error6(3, 3, request6), key6, false},
        {"IPv6 redirect", error6(137, 0, request6), key6, false},
    };
    for (const auto& [name, message, echo, answers] : rows) {
        EXPECT_EQ(icmp::answers(message, echo), answers) << name;
    }
    // Errors that no network of ours can send: a net administratively
    // prohibited reads as the net unreachable does; ICMPv6 ones have their own.
    EXPECT_EQ(std::get<icmp::Error>(error(3, 9, request)).status, IpStatus::DestNetUnreachable);
    EXPECT_EQ(std::get<icmp::Error>(error6(1, 1, request6)).status, IpStatus::DestProhibited);
    EXPECT_EQ(std::get<icmp::Error>(error6(1, 2, request6)).status, IpStatus::DestScopeMismatch);
}

// A datagram reply's TTL or hop limit from its ancillary data, where the
// kernel gives 1 to 255, beside other records. 257 would read 1 in a byte.
TEST(IcmpPacket, DatagramRepliesTakeTheirTtlFrom1To255Only) {
    // The record's level, type and value; the TTL read, -1: no reply.
    const std::array<int, 4> rows[] = {
        {IPPROTO_IP, IP_TTL, 255, 255},        {IPPROTO_IP, IP_TTL, 1, 1},
        {IPPROTO_IP, IP_TTL, 0, 0},            {IPPROTO_IP, IP_TTL, 257, 0},
        {IPPROTO_IPV6, IPV6_HOPLIMIT, 64, 64}, {IPPROTO_IP, IP_RECVERR, 64, 0},
        {IPPROTO_IPV6, IPV6_RECVERR, 64, 0}};
    for (const auto& [level, type, value, ttl] : rows) {
        alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))] = {};
        auto* header = new (control) cmsghdr{CMSG_LEN(sizeof(int)), level, type};
        std::memcpy(CMSG_DATA(header), &value, sizeof value);
        const auto reply = icmp::parseDatagramReply(icmpMessage(0, 7, 9), kTarget, control);
        EXPECT_EQ(reply ? reply->ttl : -1, ttl) << level << '/' << type << ": " << value;
    }
}

}  // namespace
