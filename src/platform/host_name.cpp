#include "platform/host_name.h"

#include <algorithm>

namespace {

bool isHostNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

}  // namespace

bool isHostName(std::string_view name) {
    if (name.ends_with('.')) {
        name.remove_suffix(1);
    }
    if (name.size() > 253) {
        return false;
    }
    size_t label = 0;  // bytes of the label so far
    for (const char c : name) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
        } else if (!isHostNameByte(c) || ++label > 63) {
            return false;
        }
    }
    return label != 0;
}

std::string unbracketed(const std::string& host) {
    return host.starts_with('[') && host.ends_with(']') ? host.substr(1, host.size() - 2) : host;
}

const HostEnt* HostAnswer::set(std::string name, bool ipv6,
                               std::vector<std::array<char, 16>> addresses, uint32_t scopeId) {
    name_ = std::move(name);
    addresses_ = std::move(addresses);
    addressList_.clear();
    for (const auto& bytes : addresses_) {
        addressList_.push_back(bytes.data());
    }
    addressList_.push_back(nullptr);
    entry_ = HostEnt{name_.c_str(),
                     noAliases_,
                     ipv6 ? AddressFamily::Inet6 : AddressFamily::Inet,
                     static_cast<int16_t>(ipv6 ? 16 : 4),
                     addressList_.data(),
                     scopeId};
    return &entry_;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
