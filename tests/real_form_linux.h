#pragma once

// The form on the real Linux layer, and the processes it starts.

#include "fakes.h"
#include "platform/icmp_library_linux.h"
#include "platform/settings_store_linux.h"
#include "platform/socket_library_linux.h"

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A form on the real ICMP layer and resolver of the calling thread's
// namespace (the ICMP helper, if any, is started there too), the library
// started as the load does.
struct RealForm {
    explicit RealForm(LinuxIcmpLibrary::SocketKind kind = LinuxIcmpLibrary::SocketKind::Auto)
        : icmp(kind) {
        WsaData data;
        winsock.WSAStartup(0x0202, data);
    }
    const std::u16string& run(std::u16string_view host, std::u16string_view count) {
        form.Host.setText(host);
        form.lblPingTimes.setText(count);
        form.cmdPing_Click();
        return form.txtStatus.text();
    }

    ScriptedWindowSystem ui;
    LinuxIcmpLibrary icmp;
    LinuxSocketLibrary winsock;
    LinuxSettingsStore settings{{}, {}, {}};
    FrmPing form{{ui, icmp, winsock, settings}};
};

// The children that a process's main thread started, zombies too.
inline std::vector<pid_t> childrenOf(pid_t parent) {
    const std::string pid = std::to_string(parent);
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    return {std::istream_iterator<pid_t>(children), {}};
}
