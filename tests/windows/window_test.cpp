// The program itself, driven from outside as a user would: its window found
// by its class, its controls by their ids, texts read and buttons pressed
// through window messages. Its echoes to 127.0.0.1 are real ones.

#include "fakes.h"
#include "form/layout.h"
#include "win32/form_window.h"

// The order the system's headers need.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

fs::path programFile;  // the program under test, from the command line

// done() within 20 s, looked at every 50 ms.
template <class Done>
bool eventually(Done done) {
    for (int i = 0; i < 400; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::u16string textOf(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(length + 1, L'\0');
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &length);
    return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length)};
}

void press(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

std::string content(const fs::path& file) {
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

// A visible top-level window of this kind, when there is one.
HWND shown(const wchar_t* kind) {
    const HWND window = FindWindowW(kind, nullptr);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// The program started, and its window.
class Program {
public:
    explicit Program(const fs::path& file) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + file.wstring() + L"\"";
        // A file an installer has just written may still be held a moment.
        EXPECT_TRUE(eventually([&] {
            return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  file.parent_path().c_str(), &startup, &process_) != 0;
        })) << "error "
            << GetLastError();
        EXPECT_TRUE(eventually([&] { return (window_ = shown(L"SondrelPingWindow")) != nullptr; }));
    }
    ~Program() {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    HWND window() const { return window_; }
    HWND control(std::string_view name) const {
        const char* container = kControls[controlIndex(name)].container;
        return GetDlgItem(*container != '\0' ? control(container) : window_,
                          kFirstControlId + static_cast<int>(controlIndex(name)));
    }
    std::u16string text(std::string_view name) const { return textOf(control(name)); }
    void type(std::string_view name, const wchar_t* text) const {
        SendMessageTimeoutW(control(name), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    }
    // The message box the program shows.
    HWND box() const {
        HWND found = nullptr;
        EXPECT_TRUE(eventually([&] { return (found = shown(L"#32770")) != nullptr; }));
        return found;
    }
    bool endsWithin(DWORD ms) const {
        return WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0;
    }

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// A copy of the program in a folder of its own, with a settings file.
struct Folder {
    explicit Folder(const std::string& settings) {
        path =
            fs::temp_directory_path() / ("sondrel-ping-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(path);
        fs::copy_file(programFile, program(), fs::copy_options::overwrite_existing);
        std::ofstream(path / "Settings.inf", std::ios::binary) << settings;
    }
    ~Folder() { fs::remove_all(path); }
    fs::path program() const { return path / programFile.filename(); }
    fs::path path;
};

const std::string kLocalhost = "[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n";

// Whether the system's own call gets a reply from 127.0.0.1: Wine's needs
// root or CAP_NET_RAW.
bool systemEchoes() {
    const HANDLE icmp = IcmpCreateFile();
    char reply[sizeof(ICMP_ECHO_REPLY) + 64] = {};
    const bool replied = IcmpSendEcho(icmp, htonl(INADDR_LOOPBACK), nullptr, 0, nullptr, reply,
                                      sizeof reply, 2700) == 1;
    IcmpCloseHandle(icmp);
    return replied;
}

// Read from Settings.inf; Esc does nothing, Enter in the host box runs once.
TEST(Window, shouldPingLocalhostOnceForEnterInTheHostBox) {
    if (!systemEchoes()) {
        GTEST_SKIP() << "the system's IcmpSendEcho got no reply from 127.0.0.1 (under Wine: "
                        "as root or with CAP_NET_RAW)";
    }
    const Folder folder(kLocalhost);
    const Program program(folder.program());
    EXPECT_EQ(textOf(program.window()), kFormCaption);
    EXPECT_EQ(GetWindowLongW(program.window(), GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_EQ(program.text("Host") + program.text("lblPingTimes") + program.text("lblPacketSize"),
              u"127.0.0.1"
              u"4"
              u"32");
    EXPECT_EQ(program.text("cmdPing"), u"开始");
    for (const char* name : {"txtStatus", "Host"}) {
        PostMessageW(program.control(name), WM_KEYDOWN, VK_ESCAPE, 0);
    }
    PostMessageW(program.control("Host"), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(eventually([&] { return program.text("cmdPing") == u"Ping"; }));
    EXPECT_TRUE(eventually([&] {
        return fullMatch(repliesPattern("127.0.0.1", 4, 64), program.text("txtStatus"));
    })) << utf8(program.text("txtStatus"));
}

// The save's confirmation, and the next start reading what it wrote.
TEST(Window, shouldSaveTheBoxesForTheNextStart) {
    const Folder folder(kLocalhost);
    {
        const Program program(folder.program());
        program.type("Host", L"localhost");
        program.type("lblPingTimes", L"2");
        press(program.control("ComdSave"));
        const HWND box = program.box();
        EXPECT_EQ(textOf(box), u"提示");
        EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), u"已经保存参数");
        press(GetDlgItem(box, IDOK));
        press(program.control("cmdClose"));
        EXPECT_TRUE(program.endsWithin(10000));
    }
    const Program again(folder.program());
    EXPECT_EQ(again.text("Host") + again.text("lblPingTimes"),
              u"localhost"
              u"2");
}

// The error report: its three buttons in the system's order, Abort the
// default; Retry asks again, Ignore goes on to the next statement, Abort
// leaves the procedure.
TEST(Window, shouldReportAnOverflowWithAbortRetryAndIgnore) {
    const Folder folder("[settings]\r\nhostname=127.0.0.1\r\ntimes=1\r\nbytes=32768\r\n");
    const Program program(folder.program());
    const std::u16string summary = u"\r\n 平均速度: 0ms.";
    press(program.control("cmdPing"));
    HWND box = program.box();
    EXPECT_EQ(textOf(box), u"Error");
    EXPECT_TRUE(fullMatch("Error 6: Overflow.*\\r\\nin vbIcmpSendEcho\\r\\n.*line: 0",
                          textOf(GetDlgItem(box, 0xFFFF))));
    RECT abort{}, retry{}, ignore{};
    GetWindowRect(GetDlgItem(box, IDABORT), &abort);
    GetWindowRect(GetDlgItem(box, IDRETRY), &retry);
    GetWindowRect(GetDlgItem(box, IDIGNORE), &ignore);
    EXPECT_TRUE(abort.left < retry.left && retry.left < ignore.left);
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(box, IDABORT), GWL_STYLE) & BS_DEFPUSHBUTTON);
    press(GetDlgItem(box, IDRETRY));
    EXPECT_TRUE(eventually([&] { return !IsWindow(box); }));
    press(GetDlgItem(program.box(), IDIGNORE));
    EXPECT_TRUE(
        eventually([&] { return program.text("txtStatus") == u" Request Timeout\r\n" + summary; }));
    press(program.control("cmdPing"));
    press(GetDlgItem(program.box(), IDABORT));
    EXPECT_TRUE(eventually([&] { return program.text("txtStatus") == summary; }));
}

// As installed (the package's test): the installation's settings, read-only
// beside the program; a save writes the user's own file.
TEST(Installed, shouldStartWithTheInstallationsSettingsAndSaveTheUsersOwn) {
    const Program program(programFile);
    EXPECT_EQ(program.text("Host") + program.text("lblPingTimes") + program.text("lblPacketSize"),
              u"127.0.0.1"
              u"4"
              u"32");
    press(program.control("ComdSave"));
    press(GetDlgItem(program.box(), IDOK));
    EXPECT_EQ(content(fs::path(_wgetenv(L"APPDATA")) / "Sondrel Ping" / "Settings.inf"),
              kLocalhost);
    press(program.control("cmdClose"));
    EXPECT_TRUE(program.endsWithin(10000));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fputs("Usage: window_tests [--gtest_filter=...] path\\to\\sondrel-ping.exe\n", stderr);
        return 2;
    }
    // A path of the build machine's, under Wine: its root is drive Z.
    std::string path = argv[1];
    programFile = path.starts_with('/') ? fs::path("Z:" + path).make_preferred() : fs::path(path);
    return RUN_ALL_TESTS();
}
