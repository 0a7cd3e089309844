#include "platform/icmp/helper_protocol.h"

#include "platform/icmp/ip_status.h"

#include <netinet/in.h>
#include <sched.h>

#include <algorithm>
#include <iterator>
#include <limits>

namespace icmp {

bool sendable(uint32_t destination) {
    const uint32_t host = ntohl(destination);
    return host != INADDR_BROADCAST && !IN_MULTICAST(host);
}

bool sendable(const Address6& destination) {
    constexpr Address6 kUnspecified{};
    constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return destination != kUnspecified && destination[0] != 0xff &&
           !std::equal(std::begin(kMapped), std::end(kMapped), destination.begin());
}

bool valid(const Request& request) {
    const bool addressed = request.destination6 == Address6{}
                               ? sendable(request.destination) && request.scopeId == 0
                               : request.destination == 0 && sendable(request.destination6);
    return addressed && request.size <= kMaxPayload && request.zero == 0 &&
           request.timeoutMs >= kMinTimeoutMs && request.timeoutMs <= kMaxTimeoutMs &&
           request.processor >= -1 && request.processor < CPU_SETSIZE;
}

Address destinationOf(const Request& request) {
    if (request.destination6 == Address6{}) {
        return request.destination;
    }
    return request.destination6;
}

Outcome outcome(const std::optional<Answer>& answer, Clock::time_point sent) {
    Outcome out;
    if (!answer) {
        return out;
    }
    Response& r = out.response;
    r.result = 1;
    const auto from = [&r](const Address& address) {
        if (const auto* address6 = std::get_if<Address6>(&address)) {
            r.source6 = *address6;
        } else {
            r.source = std::get<uint32_t>(address);
        }
    };
    if (const auto* reply = std::get_if<Reply>(&answer->message)) {
        from(reply->source);
        r.ttl = reply->ttl;
        out.data = reply->payload;
    } else {
        const auto& error = std::get<Error>(answer->message);
        from(error.sender);
        r.status = error.status;
        r.ttl = error.ttl;
    }
    r.dataSize = static_cast<uint16_t>(out.data.size());
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(answer->at - sent);
    r.roundTripMs = static_cast<int32_t>(
        std::clamp<int64_t>(elapsed.count(), 0, std::numeric_limits<int32_t>::max()));
    return out;
}

}  // namespace icmp
