// The program's cost per echo, at start-up and in memory, each against its
// floor measured side by side in the same run: Debian's flood ping for an
// echo, a bare Qt window of the same size for start-up and memory. Prints a
// Markdown table of medians.
//
// Every process runs in a network namespace of the benchmark's own (loopback
// only), where ping_group_range decides the socket the program takes.
// Timing: flood ping as a whole process, from its start to its end; the
// program from the click to the last line painted. Start-up: from the start
// of the process to the end of the window's first paint, for every window.
//
//   ping_bench [REPETITIONS]     (as root; children: run HOST COUNT | hand-over | program |
//                                bare | label)

#include "app/program.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include <fcntl.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReportFd = 3;
constexpr long kCounts[] = {1000, 10000, 32767};

// A field of /proc/self/status in kB: VmHWM is the peak resident memory.
long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ':';
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(prefix)) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return -1;
}

// From here on VmHWM is the peak since now.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void report(const std::string& line) {
    (void)!write(kReportFd, line.data(), line.size());
}

// The system calls of the calling thread, as the kernel counts them: a
// counter of the raw_syscalls:sys_enter tracepoint, or -1 where there is none.
int systemCallCounter() {
    std::ifstream id("/sys/kernel/tracing/events/raw_syscalls/sys_enter/id");
    perf_event_attr attr{};
    attr.type = PERF_TYPE_TRACEPOINT;
    attr.size = sizeof attr;
    if (!(id >> attr.config)) {
        return -1;
    }
    return static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC));
}

double systemCalls(int counter) {
    uint64_t calls = 0;
    return counter >= 0 && read(counter, &calls, sizeof calls) == sizeof calls ? double(calls) : -1;
}

// Ends the process once a window has finished its first paint: the paint
// happens while the expose or update request is handled, so a zero timer
// set then fires after it.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!armed_ && (event->type() == QEvent::Expose || event->type() == QEvent::Paint)) {
            armed_ = true;
            QTimer::singleShot(0, [] {
                report(std::to_string(statusKb("VmHWM")) + "\n");
                _exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool armed_ = false;
};

int runChild(int argc, char** argv, const QString& host, long count) {
    QApplication app(argc, argv);
    Program program;
    FrmPing& form = program.form;
    form.Form_Load();
    form.Host.setText(host.toStdU16String());
    form.lblPingTimes.setText(QString::number(count).toStdU16String());
    form.lblPacketSize.setText(u"32");
    auto* box = qobject_cast<QPlainTextEdit*>(program.window.control("txtStatus"));
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
    }
    resetPeak();
    const long idleKb = statusKb("VmRSS");
    const int counter = systemCallCounter();
    const double callsBefore = systemCalls(counter);
    const auto start = Clock::now();
    form.cmdPing_Click();
    // The box shows new lines at the display's rate: the last ones, painted now.
    program.window.paintWhileWaiting();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    const double calls = systemCalls(counter) - callsBefore;
    const long runKb = statusKb("VmHWM") - idleKb;

    const QString text = QString::fromStdU16String(form.txtStatus.text());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < count; ++i) {
        if (i >= lines.size() || !lines[i].startsWith(QStringLiteral(" Reply from ") + host)) {
            std::fprintf(stderr, "ping_bench: echo %lld of %ld was not answered: %s\n",
                         static_cast<long long>(i + 1), count,
                         i < lines.size() ? qPrintable(lines[i]) : "(no line)");
            return 1;
        }
    }
    resetPeak();
    const long beforeCopyKb = statusKb("VmRSS");
    box->selectAll();
    box->copy();
    const long copyKb = statusKb("VmHWM") - beforeCopyKb;
    report(std::to_string(us / static_cast<double>(count)) + " " + std::to_string(runKb) + " " +
           std::to_string(copyKb) + " " + std::to_string(text.size() * 2 / 1024) + " " +
           std::to_string(calls / static_cast<double>(count)) + "\n");
    return 0;
}

// The bare window alone, or with one line of text in the program's font:
// the floor of any window that shows text (the font system's start).
int idleChild(int argc, char** argv, const std::string& mode) {
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    std::unique_ptr<Program> program;
    QWidget plain;
    if (mode != "program") {
        plain.setFixedSize(416, 248);
        if (mode == "label") {
            QFont font(QStringLiteral("WenQuanYi Micro Hei"));
            font.setPixelSize(12);
            font.setHintingPreference(QFont::PreferNoHinting);
            plain.setFont(font);
            new QLabel(QStringLiteral(u"请输入IP地址或网址:"), &plain);
        }
        plain.show();
    } else {
        program = std::make_unique<Program>();
        program->form.Form_Load();
    }
    return QApplication::exec();
}

struct Child {
    double ms;
    std::vector<double> numbers;  // what it reported
};

// Times a command from before its start to its report (or its end).
Child spawn(std::vector<std::string> args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kReportFd);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(1);
    }
    close(fds[1]);
    std::string said;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        said.append(buffer, static_cast<size_t>(n));
        if (said.ends_with('\n')) {
            break;
        }
    }
    const auto elapsed = Clock::now() - start;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ping_bench: %s failed\n", argv[0]);
        std::exit(1);
    }
    Child child{std::chrono::duration<double, std::milli>(elapsed).count(), {}};
    std::istringstream words(said);
    for (double number = 0; words >> number;) {
        child.numbers.push_back(number);
    }
    return child;
}

// What an echo through the helper cannot cost less than: a request and an
// answer between two processes on one processor, in us.
int handOverChild() {
    int ends[2];
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(sched_getcpu(), &here);
    sched_setaffinity(0, sizeof here, &here);
    socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends);
    char message[64] = {};
    if (fork() == 0) {
        close(ends[0]);
        while (read(ends[1], message, sizeof message) > 0 && write(ends[1], message, 52) > 0) {
        }
        _exit(0);
    }
    close(ends[1]);
    constexpr int kRounds = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        (void)!write(ends[0], message, 48);
        (void)!read(ends[0], message, sizeof message);
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    report(std::to_string(us / kRounds) + "\n");
    close(ends[0]);
    wait(nullptr);
    return 0;
}

// The system calls a command makes per echo, as perf stat counts them.
double floodSystemCalls(std::vector<std::string> command, long count) {
    const std::string file = "/tmp/ping_bench.perf";
    command.insert(command.begin(),
                   {"perf", "stat", "-x", ",", "-e", "raw_syscalls:sys_enter", "-o", file});
    spawn(command);
    std::ifstream counted(file);
    double calls = -1;
    for (std::string line; std::getline(counted, line);) {
        if (line.find("raw_syscalls:sys_enter") != std::string::npos) {
            calls = std::stod(line);
        }
    }
    std::remove(file.c_str());
    return calls / static_cast<double>(count);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Loopback only, with the ICMP sockets that ping_group_range allows.
void privateNetwork() {
    if (unshare(CLONE_NEWNET) != 0 || !shell("ip link set lo up")) {
        std::perror("ping_bench: a network namespace of its own (needs root and iproute2)");
        std::exit(1);
    }
}

void allowDatagramIcmp(bool allowed) {
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << (allowed ? "0 2147483647" : "1 0");
}

int driver(const char* self, int repetitions) {
    privateNetwork();
    struct Path {
        const char* name;
        const char* host;
        std::vector<std::string> flood;
        bool datagram;
        double goal;
    };
    const Path paths[] = {
        {"datagram", "127.0.0.1", {"ping", "-4"}, true, 2.5},
        {"raw, through the helper", "127.0.0.1", {"ping", "-4"}, false, 2},
        {"datagram, IPv6", "::1", {"ping", "-6"}, true, 2.5},
    };
    std::map<std::string, std::vector<double>> samples;
    for (int r = 0; r < repetitions; ++r) {
        for (const Path& path : paths) {
            allowDatagramIcmp(path.datagram);
            for (long count : kCounts) {
                const std::string key = std::string(path.name) + std::to_string(count);
                std::vector<std::string> flood = path.flood;
                flood.insert(flood.end(),
                             {"-f", "-q", "-c", std::to_string(count), "-s", "32", path.host});
                samples["flood" + key].push_back(spawn(flood).ms * 1000 /
                                                 static_cast<double>(count));
                const Child run = spawn({self, "run", path.host, std::to_string(count)});
                samples["run" + key].push_back(run.numbers.at(0));
                samples["calls" + key].push_back(run.numbers.at(4));
                if (r == 0) {
                    samples["floodCalls" + key].push_back(floodSystemCalls(flood, count));
                }
                // Memory: of the longest run on the first path (IPv4, datagram).
                if (count == kCounts[std::size(kCounts) - 1] && &path == &paths[0]) {
                    samples["lineKb"].push_back(run.numbers.at(1) / static_cast<double>(count));
                    samples["copyKb"].push_back(run.numbers.at(2));
                    samples["textKb"].push_back(run.numbers.at(3));
                }
            }
        }
        samples["handOver"].push_back(spawn({self, "hand-over"}).numbers.at(0));
        const Child program = spawn({self, "program"});
        const Child bare = spawn({self, "bare"});
        const Child label = spawn({self, "label"});
        samples["programMs"].push_back(program.ms);
        samples["bareMs"].push_back(bare.ms);
        samples["labelMs"].push_back(label.ms);
        samples["programKb"].push_back(program.numbers.at(0));
        samples["bareKb"].push_back(bare.numbers.at(0));
        samples["labelKb"].push_back(label.numbers.at(0));
    }

    const auto m = [&](const std::string& key) { return median(samples.at(key)); };
    utsname machine{};
    uname(&machine);
    std::printf("Medians of %d repetitions; %s %s, %ld cores, Qt platform %s.\n\n", repetitions,
                machine.sysname, machine.release, sysconf(_SC_NPROCESSORS_ONLN),
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("xcb")).toUtf8().data());
    std::printf("| figure | this program | reference | ratio | goal |\n|---|---|---|---|---|\n");
    for (const Path& path : paths) {
        for (long count : kCounts) {
            const std::string key = std::string(path.name) + std::to_string(count);
            std::printf(
                "| per echo, %ld echoes to %s (%s) | %.1f us | %.1f us (flood ping) | %.2f "
                "| <= %.1f |\n",
                count, path.host, path.name, m("run" + key), m("flood" + key),
                m("run" + key) / m("flood" + key), path.goal);
        }
        const std::string calls = std::string(path.name) + std::to_string(kCounts[1]);
        std::printf(
            "| system calls per echo on the window's thread, %ld echoes (%s) | %.1f | %.1f "
            "(flood ping) | %.1f | <= 5 calls |\n",
            kCounts[1], path.name, m("calls" + calls), m("floodCalls" + calls),
            m("calls" + calls) / m("floodCalls" + calls));
        if (!path.datagram) {
            const std::string key = std::string(path.name) + std::to_string(kCounts[1]);
            std::printf(
                "| per echo through the helper, %ld echoes, against flood ping and a "
                "hand-over between two processes | %.1f us | %.1f + %.1f us | %.2f | |\n",
                kCounts[1], m("run" + key), m("flood" + key), m("handOver"),
                m("run" + key) / (m("flood" + key) + m("handOver")));
        }
        const std::string last = std::string(path.name) + std::to_string(kCounts[2]);
        const std::string middle = std::string(path.name) + std::to_string(kCounts[1]);
        std::printf(
            "| growth (%s): per echo at %ld / at %ld | %.1f us | %.1f us | %.2f | <= 1.1 |\n",
            path.name, kCounts[2], kCounts[1], m("run" + last), m("run" + middle),
            m("run" + last) / m("run" + middle));
    }
    std::printf(
        "| start-up to the first paint | %.1f ms | %.1f ms (bare Qt window) | %.2f | <= 1.3 "
        "|\n",
        m("programMs"), m("bareMs"), m("programMs") / m("bareMs"));
    std::printf("| start-up, against a window with one label | %.1f ms | %.1f ms | %.2f | |\n",
                m("programMs"), m("labelMs"), m("programMs") / m("labelMs"));
    std::printf("| peak memory, idle | %.0f kB | %.0f kB (bare Qt window) | %.2f | <= 1.25 |\n",
                m("programKb"), m("bareKb"), m("programKb") / m("bareKb"));
    std::printf("| peak memory, against a window with one label | %.0f kB | %.0f kB | %.2f | |\n",
                m("programKb"), m("labelKb"), m("programKb") / m("labelKb"));
    const double lineTextKb = m("textKb") / static_cast<double>(kCounts[2]);
    std::printf("| memory per result line | %.2f kB | %.2f kB (its text) | %.1f | <= 3.5 |\n",
                m("lineKb"), lineTextKb, m("lineKb") / lineTextKb);
    std::printf("| select all and copy, %ld lines | %.0f kB | %.0f kB (the text) | %.2f | <= 2 |\n",
                kCounts[2], m("copyKb"), m("textKb"), m("copyKb") / m("textKb"));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "run") == 0) {
        return runChild(argc, argv, QString::fromLatin1(argv[2]), std::atol(argv[3]));
    }
    if (argc == 2 && std::strcmp(argv[1], "hand-over") == 0) {
        return handOverChild();
    }
    for (const char* mode : {"program", "bare", "label"}) {
        if (argc == 2 && std::strcmp(argv[1], mode) == 0) {
            return idleChild(argc, argv, mode);
        }
    }
    const int repetitions = argc == 2 ? std::atoi(argv[1]) : 5;
    if (repetitions < 1 || geteuid() != 0) {
        std::fputs("usage, as root: ping_bench [REPETITIONS]\n", stderr);
        return 2;
    }
    return driver(argv[0], repetitions);
}
