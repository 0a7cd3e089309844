// The Windows program's cost per echo against its floor measured side by side
// in the same session: a bare loop of the system's IcmpSendEcho2 with an
// event, waited on with MsgWaitForMultipleObjects as the Windows layer waits.
// Prints a Markdown table of medians.
//
// Timing: the bare loop from its first send to its last reply; the program
// from the click on the start button to the last line painted. Each run is a
// process of its own.
//
//   ping_bench [REPETITIONS]     (children: bare COUNT | program COUNT)

#include "app/program_win32.h"

// The order the system's headers need.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kCounts[] = {100, 1000, 10000};

double microseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

int bareChild(long count) {
    const HANDLE icmp = IcmpCreateFile();
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char data[32] = {};
    unsigned char reply[sizeof(ICMP_ECHO_REPLY) + sizeof data + 8 + sizeof(IO_STATUS_BLOCK)];
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        if (IcmpSendEcho2(icmp, event, nullptr, nullptr, htonl(INADDR_LOOPBACK), data, sizeof data,
                          nullptr, reply, sizeof reply, 2700) == 0 &&
            GetLastError() == ERROR_IO_PENDING) {
            while (MsgWaitForMultipleObjects(1, &event, FALSE, 3700, QS_PAINT | QS_SENDMESSAGE) ==
                   WAIT_OBJECT_0 + 1) {
                dispatchWhileWaiting();
            }
        }
        if (IcmpParseReplies(reply, sizeof reply) != 1 ||
            reinterpret_cast<const ICMP_ECHO_REPLY*>(reply)->Status != IP_SUCCESS) {
            std::fprintf(stderr, "ping_bench: echo %ld of the bare loop was not answered\n", i + 1);
            return 1;
        }
    }
    std::printf("%f\n", microseconds(start) / static_cast<double>(count));
    IcmpCloseHandle(icmp);
    return 0;
}

int programChild(long count) {
    Program program;
    FrmPing& form = program.form;
    form.Form_Load();
    form.Host.setText(u"127.0.0.1");
    const std::string times = std::to_string(count);
    form.lblPingTimes.setText(std::u16string(times.begin(), times.end()));
    form.lblPacketSize.setText(u"32");
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
        dispatchMessage(msg);
    }
    const auto start = Clock::now();
    form.cmdPing_Click();
    RedrawWindow(program.window.handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const double us = microseconds(start);

    // Every echo answered, and the box showing all the form's text.
    const std::u16string& text = form.txtStatus.text();
    const HWND box = program.window.control("txtStatus");
    long replies = 0;
    for (size_t at = 0; (at = text.find(u" Reply from 127.0.0.1:", at)) != text.npos; ++at) {
        ++replies;
    }
    const auto shown = GetWindowTextLengthW(box);
    if (replies != count || shown != static_cast<int>(text.size())) {
        std::fprintf(stderr, "ping_bench: %ld of %ld echoes answered, %d of %zu characters shown\n",
                     replies, count, shown, text.size());
        return 1;
    }
    std::printf("%f\n", us / static_cast<double>(count));
    return 0;
}

// Runs this program with the arguments; what it printed, as a number.
double child(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    CreatePipe(&read, &write, &inherit, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "ping_bench: cannot start itself (error %lu)\n", GetLastError());
        std::exit(1);
    }
    CloseHandle(write);
    std::string said;
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        said.append(buffer, n);
    }
    CloseHandle(read);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (status != 0 || said.empty()) {
        std::fprintf(stderr, "ping_bench: %ls failed\n", arguments.c_str());
        std::exit(1);
    }
    return std::stod(said);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int driver(int repetitions) {
    std::map<std::string, std::vector<double>> samples;
    for (int r = 0; r < repetitions; ++r) {
        for (const long count : kCounts) {
            const std::wstring n = std::to_wstring(count);
            const double bare = child(L"bare " + n);
            const double program = child(L"program " + n);
            samples["bare" + std::to_string(count)].push_back(bare);
            samples["program" + std::to_string(count)].push_back(program);
            samples["ratio" + std::to_string(count)].push_back(program / bare);
        }
    }
    const auto m = [&](const char* what, long count) {
        return median(samples.at(what + std::to_string(count)));
    };
    using Version = const char* (*)();
    const auto wine = reinterpret_cast<Version>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    std::printf("Medians of %d repetitions, %s %s.\n\n", repetitions,
                wine != nullptr ? "Wine" : "Windows", wine != nullptr ? wine() : "");
    // The ratio of each repetition's pair, run one after the other: the
    // machine's load moves both.
    std::printf("| figure | this program | reference | ratio | goal |\n|---|---|---|---|---|\n");
    for (const long count : kCounts) {
        std::printf(
            "| per echo, %ld echoes to 127.0.0.1 | %.3f ms | %.3f ms (bare loop) | %.2f | "
            "<= 1.5 |\n",
            count, m("program", count) / 1000, m("bare", count) / 1000, m("ratio", count));
    }
    std::printf("| growth: per echo at %ld / at %ld | %.3f ms | %.3f ms | %.2f | <= 1.1 |\n",
                kCounts[2], kCounts[1], m("program", kCounts[2]) / 1000,
                m("program", kCounts[1]) / 1000,
                m("program", kCounts[2]) / m("program", kCounts[1]));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "bare") == 0) {
        return bareChild(std::atol(argv[2]));
    }
    if (argc == 3 && std::strcmp(argv[1], "program") == 0) {
        return programChild(std::atol(argv[2]));
    }
    const int repetitions = argc == 2 ? std::atoi(argv[1]) : 3;
    if (repetitions < 1) {
        std::fputs("usage: ping_bench [REPETITIONS]\n", stderr);
        return 2;
    }
    return driver(repetitions);
}
