#include "platform/privileges.h"

#include <netinet/in.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool raiseNetRaw() {
    cap_t caps = cap_get_proc();
    if (caps == nullptr) {
        return false;
    }
    cap_flag_value_t permitted = CAP_CLEAR;
    const cap_value_t netRaw[] = {CAP_NET_RAW};
    const bool raised =
        cap_get_flag(caps, CAP_NET_RAW, CAP_PERMITTED, &permitted) == 0 && permitted == CAP_SET &&
        cap_set_flag(caps, CAP_EFFECTIVE, 1, netRaw, CAP_SET) == 0 && cap_set_proc(caps) == 0;
    cap_free(caps);
    return raised;
}

void dropAllCapabilities() {
    cap_t none = cap_init();  // every set empty
    if (none != nullptr) {
        cap_set_proc(none);
        cap_free(none);
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Nothing this process runs may gain privileges again.
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

}  // namespace

int openRawIcmpSocketThenDropCapabilities() {
    const int fd = raiseNetRaw() ? socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
    dropAllCapabilities();
    return fd;
}
