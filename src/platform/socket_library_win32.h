#pragma once

#include "platform/socket_library.h"

// The socket library of Windows (wsock32), as the form calls it; a lookup
// takes the name without the blanks around it, and adds what gethostbyname
// lacks: an IPv6 address (with its zone, in brackets or not) and a name with
// only IPv6 addresses, through getaddrinfo. A text that cannot be a host name
// is not found without asking the resolver; a name in other than ASCII goes
// in its ASCII (IDNA) form.
class WindowsSocketLibrary final : public SocketLibrary {
public:
    int32_t WSAStartup(uint16_t versionRequested, WsaData& data) override;
    int32_t WSACleanup() override;
    const HostEnt* gethostbyname(const char* name) override;
    int32_t WSAGetLastError() override;

private:
    int starts_ = 0;  // not yet balanced by a stop
};
