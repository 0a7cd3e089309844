#include "platform/icmp/privileges.h"

#include <sys/capability.h>

void raiseCapabilities(std::initializer_list<int> capabilities) {
    const cap_t sets = cap_get_proc();
    for (cap_value_t capability : capabilities) {
        cap_flag_value_t permitted = CAP_CLEAR;
        cap_get_flag(sets, capability, CAP_PERMITTED, &permitted);
        cap_set_flag(sets, CAP_EFFECTIVE, 1, &capability, permitted);
    }
    cap_set_proc(sets);
    cap_free(sets);
}

bool dropCapabilities() {
    // The kernel keeps the ambient set within the permitted one: it goes too.
    const cap_t none = cap_init();
    const bool dropped = none != nullptr && cap_set_proc(none) == 0;
    cap_free(none);
    return dropped;
}
