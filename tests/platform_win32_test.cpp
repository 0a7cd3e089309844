// What the Windows platform layer does its own way (under Wine, Wine's): the
// settings file's places and its whole-file saves, the ANSI code page's
// conversions, the lookup of a name that has an IPv6 address alone.

#include "fakes.h"
#include "platform/locale_codec.h"
#include "platform/settings_store_win32.h"
#include "platform/socket_library_win32.h"
#include "platform/system_text_win32.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Beside the program while the file there may be replaced; a read-only one
// there is the installation's, and a save writes the user's own, which the
// next start reads. A failed save says why and leaves the file as it was; a
// save keeps a hidden file hidden, and a symbolic link is replaced itself,
// the file it points to left as it was.
TEST(WindowsSettingsStore, shouldSaveBesideTheProgramOrInTheUsersOwnFolder) {
    const TempFolder root;
    const fs::path program = root.path / "program", user = root.path / "user";
    fs::create_directories(program);
    const auto text = [](const fs::path& path) { return programText(path.wstring()); };
    {
        WindowsSettingsStore portable(text(program), text(user));
        EXPECT_EQ(portable.writePath(), text(program / "Settings.inf"));
        EXPECT_EQ(portable.replace(portable.writePath(), "a\r\n"), u"");
        SetFileAttributesW((program / "Settings.inf").c_str(), FILE_ATTRIBUTE_HIDDEN);
        EXPECT_EQ(portable.replace(portable.writePath(), "b\r\n"), u"");
        EXPECT_EQ(content(program / "Settings.inf"), "b\r\n");
        EXPECT_TRUE(GetFileAttributesW((program / "Settings.inf").c_str()) & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_NE(portable.replace(text(program / "Settings.inf" / "x"), "c"), u"");
    }
    if (const char* linked = std::getenv("PING_LINKED_SETTINGS")) {  // made by platform_test.sh
        const fs::path folder = fs::path(std::string("Z:") + linked).make_preferred();
        WindowsSettingsStore store(text(folder), text(user));
        EXPECT_EQ(store.replace(store.writePath(), "b\r\n"), u"");
        EXPECT_EQ(content(folder / "Settings.inf") + content(folder / ".." / "target.inf"),
                  "b\r\n[settings]\n");
    }
    SetFileAttributesW((program / "Settings.inf").c_str(), FILE_ATTRIBUTE_READONLY);
    WindowsSettingsStore installed(text(program), text(user));
    EXPECT_EQ(installed.readPath(), text(program / "Settings.inf"));
    EXPECT_EQ(installed.writePath(), text(user / "Sondrel Ping" / "Settings.inf"));
    EXPECT_EQ(installed.replace(installed.writePath(), "[settings]\r\ntimes=7\r\n"), u"");
    EXPECT_EQ(installed.readPath(), installed.writePath());
    char value[8] = {};
    EXPECT_EQ(installed.GetPrivateProfileStringA("settings", "times", "", value, sizeof value,
                                                 localeBytes(installed.readPath()).c_str()),
              1u);
    EXPECT_STREQ(value, "7");
    // Else the folder's removal fails.
    SetFileAttributesW((program / "Settings.inf").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The tests' session is in code page 936, as a Chinese Windows: Chinese text
// round trips, an emoji has no place in it.
TEST(LocaleCodec, shouldHoldChineseButNoEmojiInCodePage936) {
    ASSERT_EQ(GetACP(), 936u) << "the session's code page: see tools/wine_session.sh";
    EXPECT_EQ(decodeLocale(*encodeLocale(u"中文.example")), u"中文.example");
    EXPECT_FALSE(encodeLocale(u"\U0001F600"));
}

// Offline, with platform_test.sh's hosts file: a name that has an IPv6
// address alone is found by it, though the IPv4 lookup answers 11002 (try
// again); a name that has none keeps that code.
TEST(WindowsSocketLibrary, shouldFindANameByItsIpv6AddressAlone) {
    if (std::getenv("PING_HOSTS_FILE") == nullptr) {
        GTEST_SKIP() << "needs platform_test.sh's namespaces (as root)";
    }
    WindowsSocketLibrary library;
    WsaData data;
    library.WSAStartup(0x0101, data);
    const HostEnt* entry = library.gethostbyname("v6only.test");
    EXPECT_EQ(entry != nullptr ? entry->h_addrtype : AddressFamily::Inet, AddressFamily::Inet6);
    EXPECT_EQ(library.gethostbyname("nowhere.test"), nullptr);
    EXPECT_EQ(library.WSAGetLastError(), WsaError::TryAgain);
}

}  // namespace
