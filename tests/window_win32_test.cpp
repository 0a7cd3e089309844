// The window in this process on the form's fakes, for the shared window
// tests; and the program itself, driven from outside as a user would: its
// window found by its class, its controls by their ids, texts read and
// buttons pressed through window messages. Its echoes to 127.0.0.1 are real.

#include "form/layout.h"
#include "platform/system_text_win32.h"
#include "win32/form_window.h"
#include "win32/win32_window_system.h"
#include "window_behaviour.h"

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
#include <thread>

namespace {

namespace fs = std::filesystem;

// The driver of the shared window tests: keys and clicks through the
// message loop's own dispatch, the dialog manager first.
struct Window : LoadedForm {
    FormWindow window{form};
    Window() { form.Form_Load(); }
    HWND control(const char* name) const { return window.control(name); }

    void type(const char* box, const char16_t* text) {
        SetFocus(control(box));
        PostMessageW(control(box), WM_KEYDOWN, VK_END, 0);
        for (const char16_t c : std::u16string_view(text)) {
            PostMessageW(control(box), WM_CHAR, c, 0);
        }
        serve();
    }
    void click(const char* button) { SendMessageW(control(button), BM_CLICK, 0, 0); }
    void post(Key key, const char* name) {
        const WPARAM keys[] = {VK_TAB, VK_RETURN, VK_RETURN, VK_ESCAPE};
        SetFocus(control(name));
        PostMessageW(control(name), WM_KEYDOWN, keys[int(key)],
                     key == Key::KeypadEnter ? 1 << 24 : 0);
    }
    void serve() {
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
            dispatchMessage(msg);
        }
    }
    std::u16string text(const char* name) const {
        wchar_t text[64];
        return programText({text, static_cast<size_t>(GetWindowTextW(control(name), text, 64))});
    }
    bool enabled(const char* name) const { return IsWindowEnabled(control(name)); }
    HWND focus() const { return GetFocus(); }
    void close() { SendMessageW(window.handle(), WM_CLOSE, 0, 0); }
    bool visible() const { return IsWindowVisible(window.handle()); }
    // A button paints a new caption as it takes it.
    std::u16string painted() const {
        return GetUpdateRect(control("cmdPing"), nullptr, FALSE) ? u"" : text("cmdPing");
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, WindowBehaviour, Window);

fs::path programFile;  // the program under test, from the command line

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
    // Saves, answers the confirmation, and ends the program by its close button.
    void saveAndClose() const {
        press(control("ComdSave"));
        HWND box = nullptr;
        EXPECT_TRUE(eventually([&] { return (box = shown(L"#32770")) != nullptr; }));
        EXPECT_EQ(textOf(box), u"提示");
        EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), u"已经保存参数");
        press(GetDlgItem(box, IDOK));
        press(control("cmdClose"));
        EXPECT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    }

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// A copy of the program in a folder of its own, with a settings file.
struct Folder : TempFolder {
    explicit Folder(const std::string& settings) {
        fs::copy_file(programFile, program());
        writeFile(path / "Settings.inf", settings);
    }
    fs::path program() const { return path / programFile.filename(); }
};

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

// The save's confirmation, and the next start reading what it wrote; Enter
// in the host box pings from there, for real.
TEST(Window, shouldSaveForTheNextStartAndPingFromThere) {
    const Folder folder(kLocalhost);
    {
        const Program program(folder.program());
        EXPECT_EQ(textOf(program.window()), kFormCaption);
        EXPECT_EQ(GetWindowLongW(program.window(), GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME),
                  0);
        program.type("Host", L"localhost");
        program.type("lblPingTimes", L"2");
        program.saveAndClose();
    }
    const Program again(folder.program());
    EXPECT_EQ(again.text("Host") + u"|" + again.text("lblPingTimes"), u"localhost|2");
    if (!systemEchoes()) {
        GTEST_SKIP() << "the system's IcmpSendEcho got no reply from 127.0.0.1 (under Wine: "
                        "as root or with CAP_NET_RAW)";
    }
    PostMessageW(again.control("Host"), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(eventually([&] { return again.text("cmdPing") == u"Ping"; }));
    EXPECT_TRUE(eventually([&] {
        return fullMatch(repliesPattern("127.0.0.1", 2, 64), again.text("txtStatus"));
    })) << utf8(again.text("txtStatus"));
}

// As installed (the package's test): the installation's settings, read-only
// beside the program; a save writes the user's own file.
TEST(Installed, shouldStartWithTheInstallationsSettingsAndSaveTheUsersOwn) {
    const Program program(programFile);
    EXPECT_EQ(program.text("Host") + u"|" + program.text("lblPingTimes") + u"|" +
                  program.text("lblPacketSize"),
              u"127.0.0.1|4|32");
    program.saveAndClose();
    EXPECT_EQ(content(fs::path(_wgetenv(L"APPDATA")) / "Sondrel Ping" / "Settings.inf"),
              kLocalhost);
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
