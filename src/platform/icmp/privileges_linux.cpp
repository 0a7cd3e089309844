#include "platform/icmp/privileges.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Version 3: 64 capabilities in two 32-bit words.
struct Sets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct words[_LINUX_CAPABILITY_U32S_3]{};
};

bool get(Sets& sets) {
    return ::syscall(SYS_capget, &sets.header, sets.words) == 0;
}

bool set(Sets& sets) {
    return ::syscall(SYS_capset, &sets.header, sets.words) == 0;
}

}  // namespace

void raiseCapabilities(std::initializer_list<int> capabilities) {
    Sets sets;
    if (!get(sets)) {
        return;
    }
    for (const int capability : capabilities) {
        auto& word = sets.words[CAP_TO_INDEX(capability)];
        word.effective |= word.permitted & CAP_TO_MASK(capability);
    }
    set(sets);
}

bool dropCapabilities() {
    // The kernel keeps the ambient set within the permitted one: it goes too.
    Sets none;
    Sets left;
    if (!set(none) || !get(left)) {
        return false;
    }
    for (const auto& word : left.words) {
        if ((word.effective | word.permitted | word.inheritable) != 0) {
            return false;
        }
    }
    return true;
}
