#include "platform/icmp_process_linux.h"

#include "platform/icmp/ip_status.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Even a sanitizer build starts in a fraction of this.
constexpr auto kStartTime = std::chrono::seconds(5);
// What a helper gets beyond its time-out to answer: it starts its wait a
// little after ours, on a machine that may be busy.
constexpr auto kGrace = std::chrono::seconds(1);

}  // namespace

IcmpHelperProcess::IcmpHelperProcess(const std::string& path)
    : buffer_(sizeof(icmp::Response) + kMaxPayload + 1) {  // one more: a longer message shows
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        error_ = errno;
        return;
    }
    fd_ = ends[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    char name[] = "sondrel-ping-icmp";
    char* argv[] = {name, nullptr};
    char* environment[] = {nullptr};
    const int spawned = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environment);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        pid_ = -1;
        error_ = spawned;
        start_ = spawned == ENOENT || spawned == ENOTDIR ? Start::Missing : Start::Failed;
        end();
        return;
    }
    icmp::Hello hello;
    if (icmp::waitFor(fd_, POLLIN, icmp::Clock::now() + kStartTime) == 0 ||
        ::recv(fd_, &hello, sizeof hello, MSG_DONTWAIT) != sizeof hello) {
        end();
        return;
    }
    error_ = hello.error;
    if (error_ != 0) {
        start_ = Start::Refused;
        end();
        return;
    }
    start_ = Start::Serving;
}

IcmpHelperProcess::~IcmpHelperProcess() {
    end();
}

bool IcmpHelperProcess::ask(const icmp::Request& request) {
    if (due_) {
        next_ = request;
        return true;
    }
    if (::send(fd_, &request, sizeof request, MSG_NOSIGNAL) == sizeof request) {
        due_ = icmp::Clock::now() + std::chrono::milliseconds(request.timeoutMs) + kGrace;
        return true;
    }
    end();
    return false;
}

std::optional<icmp::Outcome> IcmpHelperProcess::answer(icmp::Clock::time_point until) {
    for (;;) {
        auto outcome = receive(due_ ? std::min(until, *due_) : until);
        if (!outcome) {
            if (due_ && icmp::Clock::now() >= *due_) {
                end();
                return icmp::Outcome{};
            }
            return std::nullopt;
        }
        due_.reset();
        if (!next_) {
            return outcome;
        }
        // The answer given up on, dropped: the request that waited goes now.
        const icmp::Request request = *next_;
        next_.reset();
        if (!ask(request)) {
            return icmp::Outcome{};
        }
    }
}

std::optional<icmp::Outcome> IcmpHelperProcess::receive(icmp::Clock::time_point until) {
    if (fd_ < 0) {
        return icmp::Outcome{};
    }
    // A read that blocks for the time left, at most: one system call where
    // polling and reading take two. The time-out, in whole milliseconds and
    // so at most one early, changes only when the time left does.
    for (auto left = until - icmp::Clock::now(); left.count() > 0;
         left = until - icmp::Clock::now()) {
        const int ms =
            std::max(1, int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
        if (ms != receiveTimeoutMs_) {
            const timeval timeout{ms / 1000, ms % 1000 * 1000};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            receiveTimeoutMs_ = ms;
        }
        const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        icmp::Outcome outcome;
        icmp::Response& response = outcome.response;
        const auto size = static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        if (size >= sizeof response) {
            std::memcpy(&response, buffer_.data(), sizeof response);
        }
        if (size < sizeof response || size != sizeof response + response.dataSize) {
            end();
            return icmp::Outcome{};
        }
        outcome.data = std::span(buffer_).subspan(sizeof response, response.dataSize);
        return outcome;
    }
    return std::nullopt;
}

void IcmpHelperProcess::end() {
    due_.reset();
    next_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}
