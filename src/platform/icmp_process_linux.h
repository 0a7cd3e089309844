#pragma once

#include "platform/icmp/helper_protocol.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// The ICMP helper program as a child of the window process, started with its
// end of a socket pair as descriptor 0, no argument and an empty environment.
class IcmpHelperProcess {
public:
    enum class Start {
        Serving,
        Missing,  // no such file
        Failed,   // it could not be started (error() says why), or ended before its Hello (0)
        Refused,  // its Hello: error() is the errno of its raw socket or filter
    };

    // Starts it and waits for its Hello.
    explicit IcmpHelperProcess(const std::string& path);
    ~IcmpHelperProcess();  // end()
    IcmpHelperProcess(const IcmpHelperProcess&) = delete;
    IcmpHelperProcess& operator=(const IcmpHelperProcess&) = delete;

    Start start() const { return start_; }
    int error() const { return error_; }
    int fd() const { return fd_; }

    // False once it was found to have ended (and was reaped): its answer or
    // a request could not pass.
    bool serving() const { return fd_ >= 0; }

    // False when it could not be told: it has ended. Asked while the answer
    // to the previous request has not been taken (the asker gave up before
    // the helper's time-out), the request waits here until that answer has
    // come, and is dropped, then goes.
    bool ask(const icmp::Request& request);

    // The answer to the latest request, nullopt while none has come by
    // `until`. A helper that ended, broke the protocol or has not answered a
    // second after its time-out (stuck) is ended and gives result 0. The data
    // lasts until the next call.
    std::optional<icmp::Outcome> answer(icmp::Clock::time_point until);

    // Kills and reaps it: bounded, wherever it is.
    void end();

private:
    // The answer of the helper, read from the socket: nullopt at `until`.
    std::optional<icmp::Outcome> receive(icmp::Clock::time_point until);

    Start start_ = Start::Failed;
    int error_ = 0;
    pid_t pid_ = -1;
    int fd_ = -1;
    int receiveTimeoutMs_ = 0;  // none
    std::vector<uint8_t> buffer_;
    std::optional<icmp::Clock::time_point> due_;  // of the answer the helper owes
    std::optional<icmp::Request> next_;           // to go once that answer is dropped
};
