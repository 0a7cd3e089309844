#pragma once

#include "platform/socket_library.h"

#include <optional>

// The socket library over the system resolver (IPv4 only). A lookup takes the
// name without the blanks around it; an address in inet_aton's forms needs no
// resolver, and a text that cannot be a host name is not found without asking
// it.
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
