// sondrel-ping-icmp: the one part of Sondrel Ping that holds a raw ICMP
// socket. Its file carries the capability; the window process, which loads
// whatever the toolkit loads, starts it and asks it for echoes. Any user may
// start it by hand with any arguments, environment, descriptors and limits:
// it reads none of them and serves no more than ping does. See
// platform/icmp/helper_protocol.h.

#include "platform/icmp/echo_socket_linux.h"
#include "platform/icmp/helper_protocol.h"
#include "platform/icmp/ip_status.h"
#include "platform/icmp/privileges.h"

#include <linux/capability.h>
#include <linux/filter.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <thread>
#include <variant>
#include <vector>

namespace {

constexpr int kClient = 0;
// iputils' ping sends an ordinary user's echoes no closer together than this.
constexpr auto kUserInterval = std::chrono::milliseconds(2);

bool isSocketPair(int fd) {
    int type = 0;
    int domain = 0;
    socklen_t length = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
           ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 &&
           type == SOCK_SEQPACKET && domain == AF_UNIX;
}

// Needs CAP_SETPCAP; without it (a file given cap_net_raw alone) the set
// stays, which no-new-privs makes moot.
void dropBoundingSet() {
    for (int capability = 0; ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
        ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
}

// All but the client's and those of keep, in the order opened, which is
// ascending (-1: none).
void closeOthers(std::initializer_list<int> keep) {
    unsigned next = kClient + 1;  // the first not yet closed or kept
    for (const int fd : keep) {
        if (fd >= static_cast<int>(next)) {
            if (static_cast<unsigned>(fd) > next) {
                ::close_range(next, static_cast<unsigned>(fd) - 1, 0);
            }
            next = static_cast<unsigned>(fd) + 1;
        }
    }
    ::close_range(next, UINT_MAX, 0);
}

uint16_t randomId() {
    uint16_t id = 0;
    if (::getrandom(&id, sizeof id, GRND_NONBLOCK) != sizeof id) {
        id = static_cast<uint16_t>(::getpid());
    }
    return id;
}

// A socket filter that nothing after us can change or take off.
bool attachLocked(int fd, std::span<sock_filter> code) {
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    const int locked = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0 &&
           ::setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &locked, sizeof locked) == 0;
}

// The host's other ICMP stays out of the queue, idle or busy: the types of an
// echo reply and of the errors that answer one, then only replies with our
// identifier and errors quoting an echo request with it. 0, or the errno.
int filter(int fd, uint16_t id) {
    constexpr int kIcmpFilter = 1;  // of <linux/icmp.h>, which clashes with <netinet/in.h>
    const uint32_t blocked =
        ~(1u << icmp::kEchoReply | 1u << icmp::kDestUnreachable | 1u << icmp::kSourceQuench |
          1u << icmp::kTimeExceeded | 1u << icmp::kParameterProblem);
    // A raw IPv4 socket's filter sees the IP header first. X: its length, then
    // that and the quoted IP header's length together.
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),  // the type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp::kEchoReply, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),  // the identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 9, 10),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),  // an error: the quoted IP header
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f),
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),  // the quoted type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp::kEchoRequest, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12),  // the quoted identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, UINT32_MAX),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    if (::setsockopt(fd, SOL_RAW, kIcmpFilter, &blocked, sizeof blocked) != 0 ||
        !attachLocked(fd, code)) {
        return errno;
    }
    return 0;
}

// The same on a raw ICMPv6 socket, whose filter sees the ICMPv6 header
// first; its checksums are the kernel's, sent and received.
int filter6(int fd, uint16_t id) {
    icmp6_filter types;
    ICMP6_FILTER_SETBLOCKALL(&types);
    for (const uint8_t type : {icmp::kEchoReply6, icmp::kDestUnreachable6, icmp::kPacketTooBig6,
                               icmp::kTimeExceeded6, icmp::kParameterProblem6}) {
        ICMP6_FILTER_SETPASS(type, &types);
    }
    // An error: X is the length of the quoted fragment header, if any (an
    // echo larger than the path's MTU), before the quoted ICMPv6 header.
    constexpr uint32_t kQuoted = icmp::kHeaderSize + icmp::kIp6HeaderSize;
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),  // the type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp::kEchoReply6, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),  // the identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 7, 8),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, icmp::kHeaderSize + 6),  // the quoted next header
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_FRAGMENT, 0, 1),
        BPF_STMT(BPF_LDX | BPF_IMM, icmp::kFragmentHeaderSize),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, kQuoted),  // the quoted type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp::kEchoRequest6, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, kQuoted + 4),  // the quoted identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, UINT32_MAX),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types) != 0 ||
        !attachLocked(fd, code) ||
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0) {
        return errno;
    }
    return 0;
}

// From here on only the system calls that serving needs pass, and any other
// ends the helper: code made to run in it could open, start or change
// nothing, only send on the sockets it has. 0, or the errno.
int confine() {
    const scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        return ENOMEM;
    }
    const auto is = [](unsigned argument, uint64_t value) {  // an int: its low half
        return scmp_arg_cmp{argument, SCMP_CMP_MASKED_EQ, 0xffffffff, value};
    };
    const struct {
        int call;
        std::vector<scmp_arg_cmp> when;
    } rules[] = {
        {SCMP_SYS(recvfrom), {}},
        {SCMP_SYS(recvmsg), {}},
        {SCMP_SYS(sendto), {}},
        {SCMP_SYS(ppoll), {}},
        {SCMP_SYS(clock_gettime), {}},
        {SCMP_SYS(clock_nanosleep), {}},
        {SCMP_SYS(restart_syscall), {}},  // a sleep or wait resumed after SIGSTOP
        {SCMP_SYS(exit_group), {}},
        // The TTL or hop limit of the next echo, and no other option:
        // IP_HDRINCL would let it write the sender's address.
        {SCMP_SYS(setsockopt), {is(1, IPPROTO_IP), is(2, IP_TTL)}},
        {SCMP_SYS(setsockopt), {is(1, IPPROTO_IPV6), is(2, IPV6_UNICAST_HOPS)}},
        {SCMP_SYS(getsockopt), {is(1, SOL_SOCKET), is(2, SO_ERROR)}},
        {SCMP_SYS(sched_setaffinity), {is(0, 0)}},  // its own
        // Memory for the allocator (and a sanitizer's), never executable.
        {SCMP_SYS(brk), {}},
        {SCMP_SYS(munmap), {}},
        {SCMP_SYS(mmap), {{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0}}},
        // Only asked, by AddressSanitizer before a call that does not return.
        {SCMP_SYS(sigaltstack), {{0, SCMP_CMP_EQ, 0, 0}}},
    };
    int rc = 0;
    for (const auto& [call, when] : rules) {
        rc = rc != 0 ? rc
                     : ::seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call,
                                                static_cast<unsigned>(when.size()), when.data());
    }
    rc = rc != 0 ? rc : ::seccomp_load(filter);
    ::seccomp_release(filter);
    return -rc;
}

// What came before the filter; nothing more comes but answers to our echoes.
void drain(int fd) {
    for (char byte = 0; ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0;) {
    }
}

// Exits on the end of the client, a malformed request or a failed answer. An
// ICMPv6 echo without a raw ICMPv6 socket (a kernel without IPv6) has no answer.
// No echo goes sooner than `interval` after the one before.
[[noreturn]] void serve(icmp::Socket& raw, icmp::Socket* raw6, uint16_t id,
                        icmp::Clock::duration interval) {
    const std::vector<uint8_t> blanks(kMaxPayload, ' ');
    std::vector<uint8_t> message(sizeof(icmp::Response) + kMaxPayload);
    uint16_t sequence = 0;
    int32_t processor = -1;
    icmp::Clock::time_point nextSend;
    for (;;) {
        icmp::Request request;
        std::array<uint8_t, sizeof request + 1> bytes;  // one more: a longer message shows
        const ssize_t n = ::recv(kClient, bytes.data(), bytes.size(), 0);
        if (n == 0) {
            ::_exit(0);  // the window process ended
        }
        if (n == sizeof request) {
            std::memcpy(&request, bytes.data(), sizeof request);
        }
        if (n != sizeof request || !icmp::valid(request)) {
            ::_exit(3);
        }
        if (request.processor != processor && request.processor >= 0) {
            processor = request.processor;
            cpu_set_t beside;
            CPU_ZERO(&beside);
            CPU_SET(processor, &beside);
            ::sched_setaffinity(0, sizeof beside, &beside);  // a hint: where not allowed, anywhere
        }
        const icmp::EchoKey key{id, ++sequence, icmp::destinationOf(request), false,
                                request.scopeId};
        icmp::Socket* socket =
            std::holds_alternative<icmp::Address6>(key.destination) ? raw6 : &raw;
        std::optional<icmp::Clock::time_point> sent;
        if (socket != nullptr) {
            std::this_thread::sleep_until(nextSend);
            sent = icmp::send(*socket, key, std::span(blanks).first(request.size), request.ttl);
        }
        std::optional<icmp::Answer> answer;
        if (sent) {
            nextSend = *sent + interval;
            answer =
                icmp::await(*socket, key, *sent + std::chrono::milliseconds(request.timeoutMs));
        }
        const auto [response, data] = icmp::outcome(answer, sent.value_or(icmp::Clock::now()));
        std::memcpy(message.data(), &response, sizeof response);
        if (!data.empty()) {
            std::memcpy(message.data() + sizeof response, data.data(), data.size());
        }
        const std::size_t size = sizeof response + data.size();
        if (::send(kClient, message.data(), size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
            ::_exit(0);
        }
    }
}

}  // namespace

// Everything that needs a capability comes before the first read from the
// client, and nothing after it can get one back. _exit: nothing to flush.
int main() {
    if (!isSocketPair(kClient)) {
        ::_exit(2);
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Else its owner could take the raw socket from it (ptrace, pidfd_getfd).
    ::prctl(PR_SET_DUMPABLE, 0);
    raiseCapabilities({CAP_NET_RAW, CAP_SETPCAP});
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    icmp::Hello hello{fd < 0 ? errno : 0};
    const int fd6 = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    dropBoundingSet();
    if (!dropCapabilities() || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        ::_exit(2);
    }
    closeOthers({fd, fd6});
    const uint16_t id = randomId();
    if (fd >= 0) {
        hello.error = filter(fd, id);
    }
    if (hello.error == 0 && fd6 >= 0) {
        hello.error = filter6(fd6, id);
    }
    // Root could open the raw socket itself.
    const auto interval = ::getuid() == 0 ? icmp::Clock::duration::zero() : kUserInterval;
    if (hello.error == 0) {
        hello.error = confine();
    }
    if (::send(kClient, &hello, sizeof hello, MSG_NOSIGNAL) != sizeof hello || hello.error != 0) {
        ::_exit(1);
    }
    drain(fd);
    icmp::Socket raw(fd, false, false);
    std::optional<icmp::Socket> raw6;
    if (fd6 >= 0) {
        drain(fd6);
        raw6.emplace(fd6, false, true);
    }
    serve(raw, raw6 ? &*raw6 : nullptr, id, interval);
}
