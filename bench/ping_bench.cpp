// The program's cost per echo, at start-up and in memory, each against its
// floor measured side by side in the same run: Debian's flood ping for an
// echo, a bare Qt window of the same size for start-up and memory. Prints a
// Markdown table of medians.
//   ping_bench [REPETITIONS]     (children: run COUNT | helper COUNT | program | bare)

#include "app/program.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReportFd = 3;
constexpr long kCounts[] = {1000, 10000, 32767};

// A field of /proc/self/status in kB, such as VmHWM (peak resident memory).
long statusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

void report(const std::string& line) {
    (void)!write(kReportFd, line.data(), line.size());
}

int runChild(int argc, char** argv, long count, LinuxIcmpHelper::SocketKind kind) {
    QApplication app(argc, argv);
    Program program(kind);
    FrmPing& form = program.form;
    form.Form_Load();
    form.Host.setText(QStringLiteral("127.0.0.1"));
    form.lblPingTimes.setText(QString::number(count));
    form.lblPacketSize.setText(QStringLiteral("32"));
    QCoreApplication::processEvents();
    const long idleKb = statusKb("VmHWM");
    const auto start = Clock::now();
    form.cmdPing_Click();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    QCoreApplication::processEvents();
    if (form.txtStatus.text().count(QStringLiteral(" Reply from 127.0.0.1")) != count) {
        std::fputs("ping_bench: not every echo was answered\n", stderr);
        return 1;
    }
    report(std::to_string(us / static_cast<double>(count)) + " " + std::to_string(idleKb) + " " +
           std::to_string(statusKb("VmHWM")) + " " +
           std::to_string(form.txtStatus.text().size() * 2 / 1024) + "\n");
    return 0;
}

// The bare window alone, or with one line of text in the program's font:
// the floor of any window that shows text (the font system's start).
int idleChild(int argc, char** argv, const std::string& mode) {
    QApplication app(argc, argv);
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
    QTimer::singleShot(0, [] {
        report(std::to_string(statusKb("VmHWM")) + "\n");
        _exit(0);
    });
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
    for (const QByteArray& word : QByteArray::fromStdString(said).simplified().split(' ')) {
        if (!word.isEmpty()) {
            child.numbers.push_back(word.toDouble());
        }
    }
    return child;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int driver(const char* self, int repetitions) {
    std::map<std::string, std::vector<double>> samples;
    for (int r = 0; r < repetitions; ++r) {
        for (long count : kCounts) {
            const std::string n = std::to_string(count);
            const Child flood = spawn({"ping", "-f", "-q", "-c", n, "-s", "32", "127.0.0.1"});
            samples["flood" + n].push_back(flood.ms * 1000 / static_cast<double>(count));
            const Child run = spawn({self, "run", n});
            samples["run" + n].push_back(run.numbers.at(0));
            if (count == 10000) {
                samples["helper" + n].push_back(spawn({self, "helper", n}).numbers.at(0));
            }
            if (count == 32767) {
                samples["runIdleKb"].push_back(run.numbers.at(1));
                samples["runAfterKb"].push_back(run.numbers.at(2));
                samples["textKb"].push_back(run.numbers.at(3));
            }
        }
        const Child program = spawn({self, "program"});
        const Child bare = spawn({self, "bare"});
        const Child label = spawn({self, "label"});
        samples["programMs"].push_back(program.ms);
        samples["bareMs"].push_back(bare.ms);
        samples["labelMs"].push_back(label.ms);
        samples["labelKb"].push_back(label.numbers.at(0));
        samples["programKb"].push_back(program.numbers.at(0));
        samples["bareKb"].push_back(bare.numbers.at(0));
    }
    const auto m = [&](const std::string& key) { return median(samples.at(key)); };

    utsname machine{};
    uname(&machine);
    std::printf("Medians of %d repetitions; %s %s, %ld cores.\n\n", repetitions, machine.sysname,
                machine.release, sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("| figure | this program | reference | ratio | goal |\n|---|---|---|---|---|\n");
    for (long count : kCounts) {
        const std::string n = std::to_string(count);
        std::printf("| per echo, %ld echoes | %.1f us | %.1f us (flood ping) | %.1f | <= 10 |\n",
                    count, m("run" + n), m("flood" + n), m("run" + n) / m("flood" + n));
    }
    std::printf(
        "| per echo, 10000 echoes, on the raw socket through the ICMP helper | %.1f us | %.1f us "
        "(flood ping) | %.1f | <= 3 |\n",
        m("helper10000"), m("flood10000"), m("helper10000") / m("flood10000"));
    std::printf("| growth: per echo at 32767 / at 1000 | %.1f us | %.1f us | %.2f | <= 1.25 |\n",
                m("run32767"), m("run1000"), m("run32767") / m("run1000"));
    std::printf(
        "| start-up to an idle window | %.1f ms | %.1f ms (bare Qt window) | %.2f | <= 1.5 |\n",
        m("programMs"), m("bareMs"), m("programMs") / m("bareMs"));
    std::printf("| start-up, against a window with one label | %.1f ms | %.1f ms | %.2f | |\n",
                m("programMs"), m("labelMs"), m("programMs") / m("labelMs"));
    std::printf("| peak memory, idle | %.0f kB | %.0f kB (bare Qt window) | %.2f | <= 1.3 |\n",
                m("programKb"), m("bareKb"), m("programKb") / m("bareKb"));
    std::printf("| peak memory, against a window with one label | %.0f kB | %.0f kB | %.2f | |\n",
                m("programKb"), m("labelKb"), m("programKb") / m("labelKb"));
    std::printf(
        "| memory grown by 32767 echoes | %.0f kB | %.0f kB (the text written) | %.1f | a few |\n",
        m("runAfterKb") - m("runIdleKb"), m("textKb"),
        (m("runAfterKb") - m("runIdleKb")) / m("textKb"));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "run") == 0) {
        return runChild(argc, argv, std::atol(argv[2]), LinuxIcmpHelper::SocketKind::Auto);
    }
    if (argc == 3 && std::strcmp(argv[1], "helper") == 0) {
        return runChild(argc, argv, std::atol(argv[2]), LinuxIcmpHelper::SocketKind::HelperOnly);
    }
    for (const char* mode : {"program", "bare", "label"}) {
        if (argc == 2 && std::strcmp(argv[1], mode) == 0) {
            return idleChild(argc, argv, mode);
        }
    }
    const int repetitions = argc == 2 ? std::atoi(argv[1]) : 5;
    if (repetitions < 1) {
        std::fputs("usage: ping_bench [REPETITIONS]\n", stderr);
        return 2;
    }
    return driver(argv[0], repetitions);
}
