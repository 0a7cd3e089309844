// The window in this process on the form's fakes, for the shared window
// tests; and the program itself, driven from outside as a user would: its
// window found by its class, its controls by their ids, texts read and
// buttons pressed through window messages. Its echoes to 127.0.0.1 are real.

#include "form/layout.h"
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

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// A window's text, also another process's.
std::u16string textOf(HWND window) {
    wchar_t text[4096];
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &length);
    return {text, text + length};
}

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
    std::u16string text(const char* name) const { return textOf(control(name)); }
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

// The program started, and its window.
struct Program {
    explicit Program(const fs::path& file) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + file.wstring() + L"\"";
        // A file an installer has just written may still be held a moment.
        EXPECT_TRUE(eventually([&] {
            return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  file.parent_path().c_str(), &startup, &process) != 0;
        })) << "error "
            << GetLastError();
        EXPECT_TRUE(eventually(
            [&] { return IsWindowVisible(window = FindWindowW(L"SondrelPingWindow", nullptr)); }));
    }
    ~Program() {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    HWND control(std::string_view name) const {
        const char* container = kControls[controlIndex(name)].container;
        return GetDlgItem(*container != '\0' ? control(container) : window,
                          kFirstControlId + static_cast<int>(controlIndex(name)));
    }
    std::u16string text(std::string_view name) const { return textOf(control(name)); }
    void type(std::string_view name, const wchar_t* text) const {
        SendMessageTimeoutW(control(name), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    }
    // Saves, answers the confirmation, and ends the program by its close button.
    void saveAndClose() const {
        PostMessageW(control("ComdSave"), BM_CLICK, 0, 0);
        HWND box = nullptr;
        EXPECT_TRUE(
            eventually([&] { return IsWindowVisible(box = FindWindowW(L"#32770", nullptr)); }));
        EXPECT_EQ(textOf(box), u"提示");
        EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), u"已经保存参数");
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        PostMessageW(control("cmdClose"), BM_CLICK, 0, 0);
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    }

    PROCESS_INFORMATION process{};
    HWND window = nullptr;
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
    // A copy of the program in a folder of its own.
    const TempFolder folder;
    const fs::path copy = folder.path / programFile.filename();
    fs::copy_file(programFile, copy);
    writeFile(folder.path / "Settings.inf", kLocalhost);
    {
        const Program program(copy);
        EXPECT_EQ(textOf(program.window), kFormCaption);
        EXPECT_EQ(GetWindowLongW(program.window, GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
        program.type("Host", L"localhost");
        program.type("lblPingTimes", L"2");
        program.saveAndClose();
    }
    const Program again(copy);
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
