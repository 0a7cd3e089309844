#pragma once

// Tests that send real ICMP do it in network namespaces of their own. Each is
// anonymous, held only by a descriptor: closing it removes the namespace with
// its links, addresses and routes, also when a test fails or crashes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Made by a thread of its own, so the caller's namespace stays; -1 when refused.
struct Netns {
    Netns() {
        std::thread([this] {
            fd = unshare(CLONE_NEWNET) == 0 ? open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)
                                            : -1;
        }).join();
    }
    // One held already: a thread's own, say.
    explicit Netns(int held) : fd(held) {}
    Netns(const Netns&) = delete;
    ~Netns() { close(fd); }
    // For tools that take a namespace file.
    std::string path() const {
        return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
    }
    bool shell(const std::string& script) const {
        return fd >= 0 &&
               std::system(("nsenter --net=" + path() + " sh -ec '" + script + "'").c_str()) == 0;
    }

    int fd = -1;
};

// A mount of a private mount namespace: a file bound over another, a small
// file system, or a folder bound over itself read-only.
struct Mount {
    std::string source, target;
    const char* type = nullptr;  // none: a bind
    std::string options;
    bool readOnly = false;
};

// Runs body in a thread of its own whose mounts no other thread sees.
inline void withMounts(const std::vector<Mount>& mounts, const std::function<void()>& body) {
    std::thread([&] {
        bool mounted = unshare(CLONE_NEWNS) == 0 &&
                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        for (const Mount& m : mounts) {
            const unsigned long flags = m.type == nullptr ? static_cast<unsigned long>(MS_BIND) : 0;
            mounted =
                mounted &&
                mount(m.source.c_str(), m.target.c_str(), m.type, flags, m.options.c_str()) == 0 &&
                (!m.readOnly || mount(nullptr, m.target.c_str(), nullptr,
                                      MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        }
        ASSERT_TRUE(mounted) << strerror(errno);
        body();
    }).join();
}
