// Starts as main() does, then tells through its exit status whether it holds
// no capability any more and still pings 127.0.0.1 over the raw socket it
// kept: 0 yes; 2 no socket; 3 a capability left; 4 a new raw socket opened;
// 5 no reply.

#include "platform/icmp_linux.h"
#include "platform/privileges.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

int main() {
    const int raw = openRawIcmpSocketThenDropCapabilities();
    if (raw < 0) {
        return 2;
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        const std::string value = line.substr(line.find('\t') + 1);
        const bool held = line.starts_with("Cap") && !line.starts_with("CapBnd") &&
                          value.find_first_not_of('0') != std::string::npos;
        if (held || line == "NoNewPrivs:\t0") {
            std::fprintf(stderr, "%s\n", line.c_str());
            return 3;
        }
    }
    if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0) {
        return 4;
    }
    LinuxIcmpHelper icmp(LinuxIcmpHelper::SocketKind::RawOnly, raw);
    close(raw);
    const auto reply = std::make_unique<EchoReply>();
    const uint32_t got = icmp.IcmpSendEcho(icmp.IcmpCreateFile(), inet_addr("127.0.0.1"), "ping", 4,
                                           nullptr, reply.get(), sizeof(EchoReply), 2000);
    return got == 1 && reply->Status == 0 ? 0 : 5;
}
