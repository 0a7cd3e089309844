#include "platform/settings_store_linux.h"
#include "fakes.h"
#include "netns.h"
#include "platform/locale_codec.h"

#include <sys/fsuid.h>
#include <sys/stat.h>

#include <clocale>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// The value of a key in its section, else the default; never a wait for a
// FIFO's writer, nor a read without end of /dev/zero; only the first MiB, and
// no more of a value than the buffer holds.
TEST(LinuxSettingsStore, shouldFindTheValueOfAKeyInTheFirstMiBOfARegularFile) {
    const TempFolder dir;
    LinuxSettingsStore store({}, {}, {}, {});
    const auto read = [&](const char* name, const char* key, uint32_t size) {
        std::string buffer(1024, 'x');
        const uint32_t n = store.GetPrivateProfileStringA("settings", key, "default", buffer.data(),
                                                          size, (dir.path / name).c_str());
        EXPECT_EQ(buffer[n], '\0');
        return buffer.substr(0, n);
    };
    const std::string mib(1 << 20, ';');  // one comment line
    const std::string longValue =
        "[settings]\nhostname=" + std::string(1024, 'a') + "\nbytes=a\0b"s;
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {"[settings]\r\nhostname=h\r\ntimes=4\r\n", "times", "4"},
        {"[settings]\r\nhostname=h\r\n", "bytes", "default"},
        {"hostname=x\n[o]\nhostname=o\n[settings]\n[b]\nhostname=y\n", "hostname", "default"},
        {" [ SetTings ] \r\n\tHOSTNAME \t=h\r\n", "hostname", "h"},
        {"[settings]\r\nhostname= \"a b\" ;c=d \r\n", "hostname", " \"a b\" ;c=d "},
        {"[settings]\r\nhostname=\r\n", "hostname", ""},
        {"[settings]\nhostname=1\nhostname=2\n", "hostname", "1"},
        {"[settings]\rtimes=4\rbytes=32", "bytes", "32"},
        {"[settings]\n;hostname=c\n  ;x\nhostname=h\n", "hostname", "h"},
        {"\xEF\xBB\xBF[settings]\nhostname=h\n", "hostname", "h"},
        {"\0\xFF[\x01=\n"s, "hostname", "default"},
        {"[settings]\nhostname=\xFF\xC3(\n", "hostname", "\xFF\xC3("},
        {"[settings]\nhostname=h\n" + mib, "hostname", "h"},
        {"[settings]\n" + mib + "\nhostname=h", "hostname", "default"},
        {longValue, "hostname", std::string(1023, 'a')},
        {longValue, "bytes", "a\0b"s},
    };
    for (const auto& [content, key, value] : cases) {
        writeFile(dir.path / "file", content);
        EXPECT_EQ(read("file", key, 1024), value) << content.substr(0, 80);
    }
    EXPECT_EQ(read("file", "hostname", 1), "");
    EXPECT_EQ(read("missing", "hostname", 5), "defa");
    EXPECT_EQ(store.GetPrivateProfileStringA("settings", "hostname", "default", nullptr, 0, ""),
              0u);
    mkfifo((dir.path / "fifo").c_str(), 0600);
    EXPECT_EQ(read("fifo", "hostname", 1024), "default");
}

// Written where the user may write; read from the first file that exists. A
// folder the program may write keeps its own file, even one still to come,
// unless the program is installed there (a folder of the system's, or a
// prefix with the desktop entry): then, even for root, the user's file and
// its prefix's defaults.
TEST(LinuxSettingsStore, shouldReadTheFirstFileThereIsWhereTheProgramFolderIsReadOnly) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for read-only bind mounts in a private mount namespace";
    }
    const TempFolder bare, carried, config, dirs, etc, prefix;
    const auto own = [](const fs::path& d) { return (d / "sondrel-ping/Settings.inf").string(); };
    const std::string a = dirs.path / "a", b = dirs.path / "b", c = dirs.path / "c";
    const std::string program = config.path / "Settings.inf", user = own(config.path);
    const std::string installed = prefix.path / "bin", defaults = own(prefix.path / "etc/xdg");
    const std::string copy = carried.path / "Settings.inf";
    for (const fs::path path :
         {copy, user, own(b), own(c), defaults, installed + "/Settings.inf",
          (prefix.path / "share/applications/sondrel-ping.desktop").string()}) {
        fs::create_directories(path.parent_path());
        writeFile(path, "x");
    }
    fs::create_directories(own(a));  // a folder, not a file
    const std::string list = "rel/a:" + a + ':' + b + ':' + c;
    const std::string etcFile = own("/etc/xdg"), home = own("/h/.config"), rel = "rel";
    const struct {
        std::string folder, configHome, folders, read, write, home = "/h";  // the program's folder
    } cases[] = {
        {config.path, config.path, list, program, program},
        {carried.path, config.path, list, user, user},
        {carried.path, rel, list, copy, home},
        {carried.path, rel, {}, copy, copy, ""},
        {bare.path, rel, list, own(b), home},
        {bare.path, rel, {}, etcFile, home},
        {bare.path, rel, a, home, home},
        {installed, rel, a, defaults, home},
        {installed, config.path, a, user, user},
        {"/usr/bin", rel, a, etcFile, home},  // without its desktop entry
        {"/bin", config.path, a, user, user},
    };
    // As under /usr, where even root may not write once the capabilities are dropped.
    const auto readOnly = [](const auto& d) { return Mount{d.path, d.path, nullptr, {}, true}; };
    withMounts({readOnly(bare), readOnly(carried), {etc.path, "/etc/xdg", nullptr, {}}}, [&] {
        fs::create_directories(fs::path(etcFile).parent_path());
        writeFile(etcFile, "x");
        for (const auto& row : cases) {
            const LinuxSettingsStore chosen(row.folder, row.configHome, row.home, row.folders);
            EXPECT_EQ(utf8(chosen.readPath()), row.read);
            EXPECT_EQ(utf8(chosen.writePath()), row.write);
        }
    });
}

// A home whose last byte no locale spells: the form sees the paths decoded,
// and what it saves and reads is in that home, in UTF-8 as in ASCII.
TEST(LinuxSettingsStore, shouldSaveInAHomeTheLocaleCannotSpell) {
    const TempFolder dir;
    const std::string home = dir.path.string() + "/h\xFF";
    for (const char* locale : {"C.UTF-8", "C"}) {
        std::setlocale(LC_ALL, locale);
        LinuxSettingsStore store({}, {}, home, "/nowhere");
        const std::string content = "[settings]\nhostname="s + locale + "\n";
        EXPECT_EQ(store.replace(store.writePath(), content), u"") << locale;
        EXPECT_EQ(::content(home + "/.config/sondrel-ping/Settings.inf"), content);
        char value[16] = {};
        store.GetPrivateProfileStringA("settings", "hostname", "", value, sizeof value,
                                       localeBytes(store.readPath()).c_str());
        EXPECT_STREQ(value, locale);
    }
    std::setlocale(LC_ALL, "C.UTF-8");
}

// Its type and mode, 0 where there is nothing; a link is not followed.
mode_t modeOf(const char* path) {
    struct stat s {};
    lstat(path, &s);
    return s.st_mode;
}

// A first save gets 0666 less the umask, in a folder made 0700; a replaced
// regular file keeps its mode; a link is replaced, never followed. A save
// that fails leaves the earlier file as it was, and says why.
TEST(LinuxSettingsStore, shouldReplaceTheWholeFileWithItsOwnModeOrNotAtAll) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: a small file system in a private mount namespace";
    }
    const TempFolder dir;
    const mode_t devNull = modeOf("/dev/null");
    // The umask; before: 0 no file, -1 a link to /dev/null, else a regular
    // file's mode; the content, none: more than the file system holds; the
    // mode after; the failure said.
    const std::tuple<mode_t, int, const char*, mode_t, const char*> cases[] = {
        {022, 0, "x", 0644, ""},
        {077, 0640, "x", 0640, ""},
        {022, -1, "x", 0644, ""},
        {022, 0600, nullptr, 0600, "No space left on device"},
        {022, 0400, "x", 0400, "Permission denied"},  // as nobody, in a folder of root's
    };
    withMounts({{"tmpfs", dir.path, "tmpfs", "size=64k", false}}, [&] {
        const std::string folder = dir.path / "new", path = folder + "/Settings.inf";
        for (const auto& [mask, before, written, mode, failure] : cases) {
            SCOPED_TRACE(failure);
            if (before != 0) {
                mkdir(folder.c_str(), 0755);
                if (before > 0) {
                    writeFile(path, "earlier");
                    chmod(path.c_str(), mode_t(before));
                } else {
                    symlink("/dev/null", path.c_str());
                }
            }
            const std::string content = written ? written : std::string(80 << 10, 'x');
            const mode_t umaskBefore = umask(mask);
            setfsuid(*failure == 'P' ? 65534 : 0);
            const std::u16string said =
                LinuxSettingsStore({}, {}, {}, {}).replace(ascii(path), content);
            setfsuid(0);
            umask(umaskBefore);
            EXPECT_EQ(std::tuple(said, modeOf(path.c_str()), ::content(path)),
                      std::tuple(ascii(failure), S_IFREG | mode, *failure ? "earlier" : content));
            // No temporary file left.
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
            EXPECT_EQ(modeOf(folder.c_str()), S_IFDIR | (before == 0 ? 0700u : 0755u));
            fs::remove_all(folder);
        }
        // A folder in the file's place stays one.
        mkdir(folder.c_str(), 0755);
        mkdir(path.c_str(), 0755);
        EXPECT_EQ(LinuxSettingsStore({}, {}, {}, {}).replace(ascii(path), "x"), u"Is a directory");
    });
    EXPECT_EQ(modeOf("/dev/null"), devNull);
}

}  // namespace
