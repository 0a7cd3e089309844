#pragma once

#include "platform/socket_library.h"

#include <optional>

// The socket library over the system resolver. A lookup takes the name
// without the blanks around it; an address in inet_aton's forms, or an IPv6
// one (with its zone, in brackets or not), needs no resolver, and a text that
// cannot be a host name is not found without asking it. A name is looked up
// once for both families; the answer holds its IPv4 addresses, or where it
// has none its IPv6 ones.
class LinuxSocketLibrary final : public SocketLibrary {
public:
    // What the library reports of itself; tests set other values.
    struct Traits {
        uint16_t highestVersion = 0x0202;
        // Unset: the process's limit on open files, at most 32767.
        std::optional<uint16_t> maxSockets;
        // When set, every start fails with this code.
        std::optional<int32_t> startFailure;
    };

    LinuxSocketLibrary() : LinuxSocketLibrary(Traits{}) {}
    explicit LinuxSocketLibrary(Traits traits);

    int32_t WSAStartup(uint16_t versionRequested, WsaData& data) override;
    int32_t WSACleanup() override;
    const HostEnt* gethostbyname(const char* name) override;
    int32_t WSAGetLastError() override;

    // Starts not yet balanced by a stop.
    int startCount() const { return starts_; }

private:
    Traits traits_;
    int starts_ = 0;
};
