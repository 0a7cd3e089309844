#include "platform/icmp/helper_protocol.h"

#include "platform/icmp_helper.h"

#include <netinet/in.h>

#include <algorithm>
#include <limits>

namespace icmp {

bool sendable(uint32_t destination) {
    const uint32_t host = ntohl(destination);
    return host != INADDR_BROADCAST && !IN_MULTICAST(host);
}

bool valid(const Request& request) {
    return sendable(request.destination) && request.size <= kMaxPayload && request.zero == 0 &&
           request.timeoutMs <= kMaxTimeoutMs;
}

Outcome outcome(const std::optional<Answer>& answer, Clock::time_point sent) {
    Outcome out;
    if (!answer) {
        return out;
    }
    Response& r = out.response;
    r.result = 1;
    if (const auto* reply = std::get_if<Reply>(&answer->message)) {
        r.source = reply->source;
        r.ttl = reply->ttl;
        out.data = reply->payload;
    } else {
        const auto& error = std::get<Error>(answer->message);
        r.source = error.sender;
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
