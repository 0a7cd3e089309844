#pragma once

// Doubles of the platform's services, and what the tests of the form share.
// Standard C++ only: these tests run wherever the form is built.

#include "form/frm_ping.h"
#include "platform/icmp_library.h"
#include "platform/socket_library.h"
#include "platform/window_system.h"
#include "system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

// Thrown by the fake window system where the program would end at once.
struct ProgramEnded {
    int status;
};

// Answers message boxes from a script and records them; runs scripted
// actions at given yields, as if the user had acted while the run waited.
class ScriptedWindowSystem final : public WindowSystem {
public:
    struct Box {
        std::u16string prompt, title;
        int style;
    };

    void yield() override {
        if (auto action = atYield.extract(++yields)) {
            action.mapped()();
        }
    }
    int messageBox(std::u16string_view prompt, int style, std::u16string_view title) override {
        boxes.push_back({std::u16string(prompt), std::u16string(title), style});
        const int answer = answers.empty() ? MsgBox::Ok : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    }
    void resetMousePointer() override { ++pointerResets; }
    [[noreturn]] void endProgram(int exitStatus) override { throw ProgramEnded{exitStatus}; }

    int yields = 0, pointerResets = 0;
    std::vector<Box> boxes;
    std::deque<int> answers;
    std::map<int, std::function<void()>> atYield;  // by the yield's number, from 1
};

// An ICMP helper that answers each echo from a script; none left: a time-out.
class ScriptedIcmp final : public IcmpLibrary {
public:
    struct Answer {
        uint32_t result = 1;  // 0: no reply
        int32_t status = 0, rtt = 0;
        std::array<uint8_t, 4> from = {127, 0, 0, 1};
    };
    struct Sent {
        Handle handle;
        uint32_t destination, replySize, timeoutMs;
        uint16_t size;
        uint8_t ttl;
    };

    Handle IcmpCreateFile() override {
        ++opened;
        return failure ? kInvalidHandle : 7;
    }
    Handle Icmp6CreateFile() override { return IcmpCreateFile(); }
    IcmpOpenFailure openFailure() const override { return failure.value_or(IcmpOpenFailure{}); }
    uint32_t IcmpSendEcho(Handle handle, uint32_t destination, const void*, uint16_t size,
                          const EchoOptions* options, void* replyBuffer, uint32_t replySize,
                          uint32_t timeoutMs) override {
        sent.push_back({handle, destination, replySize, timeoutMs, size, options->Ttl});
        whileBlocked();
        const Answer a = answers.empty() ? Answer{0} : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        if (a.result == 0) {
            return 0;
        }
        auto* reply = static_cast<EchoReply*>(replyBuffer);
        std::copy(a.from.begin(), a.from.end(), reply->Address);
        std::tie(reply->Status, reply->RoundTripTime, reply->DataSize, reply->Options.Ttl) =
            std::tuple(a.status, a.rtt, int16_t(a.status == 0 ? size : 0), uint8_t{64});
        return a.result;
    }
    // The same answers, recorded as sent to 0, from the IPv6 host pinged.
    uint32_t Icmp6SendEcho2(Handle handle, const Ipv6AddressEx* destination, const void* data,
                            uint16_t size, const EchoOptions* options, void* replyBuffer,
                            uint32_t replySize, uint32_t timeoutMs) override {
        EchoReply reply;
        const uint32_t result =
            IcmpSendEcho(handle, 0, data, size, options, &reply, replySize, timeoutMs);
        auto* reply6 = static_cast<EchoReply6*>(replyBuffer);
        std::copy_n(destination->sin6_addr, 16, reply6->Address);
        std::tie(reply6->Status, reply6->RoundTripTime, reply6->DataSize, reply6->HopLimit) =
            std::tie(reply.Status, reply.RoundTripTime, reply.DataSize, reply.Options.Ttl);
        return result;
    }
    bool IcmpCloseHandle(Handle handle) override {
        closed.push_back(handle);
        return true;
    }

    static Answer reply(int32_t rtt) { return {1, 0, rtt}; }

    std::optional<IcmpOpenFailure> failure;  // each open's, from now on
    int opened = 0;
    std::deque<Answer> answers;
    std::vector<Sent> sent;
    std::vector<Handle> closed;
    std::function<void()> whileBlocked = [] {};
};

// A socket library that knows a few names, IPv4 or IPv6 by their size, and
// counts its starts.
class FakeSocketLibrary final : public SocketLibrary {
public:
    int32_t WSAStartup(uint16_t, WsaData& data) override {
        if (startResult == 0) {
            data = reported;
            ++starts;
        }
        return startResult;
    }
    int32_t WSACleanup() override {
        --starts;
        return 0;
    }
    // The address stays in its map; the entry is overwritten by the next lookup.
    const HostEnt* gethostbyname(const char* name) override {
        lookups.emplace_back(name);
        if (!names.contains(name)) {
            return nullptr;
        }
        const std::vector<uint8_t>& address = names.at(name);
        list[0] = reinterpret_cast<const char*>(address.data());
        entry = {nullptr, nullptr,
                 address.size() == 16 ? AddressFamily::Inet6 : AddressFamily::Inet,
                 int16_t(address.size()), list};
        return &entry;
    }
    int32_t WSAGetLastError() override { return WsaError::HostNotFound; }

    std::map<std::string, std::vector<uint8_t>> names = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"v6.example", {0x20, 1, 0xd, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}};
    WsaData reported{0x0202, 0x0202, 100};
    int32_t startResult = 0;
    int starts = 0;
    std::vector<std::string> lookups;

private:
    const char* list[2] = {nullptr, nullptr};
    HostEnt entry;
};

// A new folder of the test's own, removed with everything in it.
struct TempFolder {
    TempFolder() {
        static int made = 0;
        path = std::filesystem::temp_directory_path() /
               ("sondrel-ping-test-" + std::to_string(std::random_device()()) + '-' +
                std::to_string(++made));
        std::filesystem::create_directories(path);
    }
    TempFolder(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;  // what a test left running keeps its files
        std::filesystem::remove_all(path, ignored);
    }

    std::filesystem::path path;
};

// A file's bytes; none where it cannot be read.
inline std::string content(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// done() within 30 s, asked every 50 ms until it is.
template <class Done>
bool eventually(Done done) {
    int tries = 0;
    while (!done() && ++tries < 600) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return tries < 600;
}

// An ASCII text as the form's.
inline std::u16string ascii(std::string_view text) {
    return {text.begin(), text.end()};
}

// What a control was asked to show, in order: its texts, "focus", and
// selections as "start+length".
struct RecordedBox final : TextBoxView {
    void showText(const std::u16string& text) override { seen.push_back(text); }
    void showAppended(std::u16string_view) override {}
    void showSelection(const std::u16string&, std::ptrdiff_t start,
                       std::ptrdiff_t length) override {
        seen.push_back(ascii(std::to_string(start) + '+' + std::to_string(length)));
    }
    void takeFocus() override { seen.push_back(u"focus"); }
    std::vector<std::u16string> seen;
};

// A window that counts how often it was shown.
struct ShownWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

// A form on the fakes and the system's settings store, as a program in a
// folder of its own (or in programFolder).
struct FakeForm {
    explicit FakeForm(const std::filesystem::path& programFolder = {})
        : settings(settingsStoreIn(programFolder.empty() ? folder.path : programFolder)) {}

    ScriptedWindowSystem ui;
    ScriptedIcmp icmp;
    FakeSocketLibrary winsock;
    TempFolder folder;
    std::unique_ptr<SettingsStore> settings;
    FrmPing form{{ui, icmp, winsock, *settings}};

    const std::u16string& text() const { return form.txtStatus.text(); }
};

// A form set to ping 127.0.0.1 with the boxes' other defaults.
struct PingRun : FakeForm {
    PingRun() { form.Host.setText(u"127.0.0.1"); }
    void start(std::u16string_view count, std::deque<ScriptedIcmp::Answer> replies = {}) {
        form.lblPingTimes.setText(count);
        icmp.answers = std::move(replies);
        form.cmdPing_Click();
    }
};

// text, count times over.
inline std::u16string repeated(std::u16string_view text, std::size_t count) {
    const std::vector<std::u16string> parts(count, std::u16string(text));
    return std::accumulate(parts.begin(), parts.end(), std::u16string());
}

// A text in UTF-8, for patterns and messages.
inline std::string utf8(std::u16string_view text) {
    // The standard library's own conversion, whatever the locale.
    const std::u8string bytes = std::filesystem::path(text).u8string();
    return {bytes.begin(), bytes.end()};
}

// The whole text matches the pattern (ECMAScript, on UTF-8).
inline bool fullMatch(const std::string& pattern, std::u16string_view text) {
    return std::regex_match(utf8(text), std::regex(pattern));
}

// The error report's text for an overflow.
inline const std::u16string kOverflow = u"Error 6: Overflow: the number does not fit its variable";

// A reply line of 32 bytes, and the summary, as the form writes them; with
// "\\d+" for a time, and the dots of an address escaped, they are patterns.
inline std::u16string replyLine(std::u16string_view rtt, std::u16string_view from = u"127.0.0.1",
                                int ttl = 64) {
    return u" Reply from " + std::u16string(from) + u": Bytes = 32 RTT = " + std::u16string(rtt) +
           u"ms TTL = " + ascii(std::to_string(ttl)) + u"\r\n";
}
inline std::u16string summary(std::u16string_view average) {
    return u"\r\n 平均速度: " + std::u16string(average) + u"ms.";
}

// Reply lines and the average, whatever the times.
inline std::string repliesPattern(const std::string& from, int count, int ttl) {
    const std::string escaped = std::regex_replace(from, std::regex("[.]"), "\\.");
    return utf8(u'(' + replyLine(u"\\d+", ascii(escaped), ttl) + u"){" +
                ascii(std::to_string(count)) + u'}' + summary(u"\\d+"));
}
