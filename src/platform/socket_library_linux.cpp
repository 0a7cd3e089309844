#include "platform/socket_library_linux.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

constexpr int32_t kSocketError = -1;

thread_local int32_t lastError = 0;

// The answer of the calling thread's last lookup, which the next overwrites.
struct Answer {
    std::string name;
    std::vector<std::array<char, 4>> addresses;
    std::vector<const char*> addressList;
    const char* noAliases[1] = {nullptr};
    HostEnt entry;
};
thread_local Answer answer;

int majorOf(uint16_t word) {
    return word & 0xFF;
}
int minorOf(uint16_t word) {
    return word >> 8;
}

uint16_t openFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 32767;
    }
    return static_cast<uint16_t>(std::min<rlim_t>(limit.rlim_cur, 32767));
}

int32_t lookupError(int eai) {
    switch (eai) {
        case EAI_NONAME:
            return WsaError::HostNotFound;
        case EAI_AGAIN:
            return WsaError::TryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return WsaError::NoData;
        default:
            return WsaError::NoRecovery;
    }
}

}  // namespace

LinuxSocketLibrary::LinuxSocketLibrary(Traits traits) : traits_(traits) {}

int32_t LinuxSocketLibrary::WSAStartup(uint16_t versionRequested, WsaData& data) {
    if (traits_.startFailure) {
        return *traits_.startFailure;
    }
    if (majorOf(versionRequested) < 1) {
        return WsaError::VersionNotSupported;
    }
    const auto key = [](uint16_t w) { return majorOf(w) * 256 + minorOf(w); };
    data.wVersion = key(versionRequested) < key(traits_.highestVersion) ? versionRequested
                                                                        : traits_.highestVersion;
    data.wHighVersion = traits_.highestVersion;
    data.iMaxSockets = traits_.maxSockets.value_or(openFileLimit());
    ++starts_;
    return 0;
}

int32_t LinuxSocketLibrary::WSACleanup() {
    if (starts_ == 0) {
        lastError = WsaError::NotInitialised;
        return kSocketError;
    }
    --starts_;
    return 0;
}

const HostEnt* LinuxSocketLibrary::gethostbyname(const char* name) {
    if (starts_ == 0) {
        lastError = WsaError::NotInitialised;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = AI_CANONNAME | AI_IDN;
    addrinfo* result = nullptr;
    const int eai = getaddrinfo(name, nullptr, &hints, &result);
    if (eai != 0) {
        lastError = lookupError(eai);
        return nullptr;
    }
    answer.name = result->ai_canonname != nullptr ? result->ai_canonname : name;
    answer.addresses.clear();
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        std::array<char, 4> bytes;
        std::copy_n(reinterpret_cast<const char*>(&sin->sin_addr.s_addr), 4, bytes.begin());
        answer.addresses.push_back(bytes);
    }
    freeaddrinfo(result);
    answer.addressList.clear();
    for (const auto& bytes : answer.addresses) {
        answer.addressList.push_back(bytes.data());
    }
    answer.addressList.push_back(nullptr);
    answer.entry =
        HostEnt{answer.name.c_str(), answer.noAliases, AF_INET, 4, answer.addressList.data()};
    return &answer.entry;
}

int32_t LinuxSocketLibrary::WSAGetLastError() {
    return lastError;
}
