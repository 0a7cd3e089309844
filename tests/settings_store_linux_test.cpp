#include "netns.h"
#include "platform/locale_codec.h"

#include <sys/fsuid.h>
#include <sys/stat.h>

#include <clocale>

namespace {

using namespace std::string_literals;

// The value of a key in its section, else the default; never a wait for a
// FIFO's writer, nor a read without end of /dev/zero; only the first MiB, and
// no more of a value than the buffer holds.
TEST(LinuxSettingsStore, shouldFindTheValueOfAKeyInTheFirstMiBOfARegularFile) {
    const QTemporaryDir dir;
    LinuxSettingsStore store({}, {}, {}, {});
    const auto read = [&](const char* name, const char* key, uint32_t size) {
        char buffer[1024];
        std::fill_n(buffer, sizeof buffer, 'x');
        const uint32_t n = store.GetPrivateProfileStringA(
            "settings", key, "default", buffer, size,
            QFile::encodeName(dir.filePath(QString::fromLatin1(name))));
        EXPECT_EQ(buffer[n], '\0');
        return std::string(buffer, n);
    };
    const std::string mib10(10 << 20, ';');  // one comment line
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
        {"[settings]\nhostname=h\n" + mib10, "hostname", "h"},
        {"[settings]\n" + mib10 + "\nhostname=h", "hostname", "default"},
        {longValue, "hostname", std::string(1023, 'a')},
        {longValue, "bytes", "a\0b"s},
    };
    for (const auto& [content, key, value] : cases) {
        writeFile(dir.filePath(QStringLiteral("file")), QByteArray::fromStdString(content));
        EXPECT_EQ(read("file", key, 1024), value) << content.substr(0, 80);
    }
    EXPECT_EQ(read("file", "hostname", 1), "");
    EXPECT_EQ(read("missing", "hostname", 5), "defa");
    EXPECT_EQ(store.GetPrivateProfileStringA("settings", "hostname", "default", nullptr, 0, ""),
              0u);
    mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600);
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
    const QTemporaryDir bare, carried, config, dirs, etc, prefix;
    const auto own = [](const QString& dir) { return dir + "/sondrel-ping/Settings.inf"; };
    const QString a = dirs.filePath("a"), b = dirs.filePath("b"), c = dirs.filePath("c");
    const QString program = config.filePath("Settings.inf"), user = own(config.path());
    const QString installed = prefix.filePath("bin"), defaults = own(prefix.filePath("etc/xdg"));
    for (const QString& path : {carried.filePath("Settings.inf"), user, own(b), own(c), defaults,
                                installed + "/Settings.inf",
                                prefix.filePath("share/applications/sondrel-ping.desktop")}) {
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "x");
    }
    QDir().mkpath(own(a));  // a folder, not a file
    const QString list = QStringList({"rel/a", a, b, c}).join(u':');
    const QString etcFile = own("/etc/xdg"), home = own("/h/.config"), rel = "rel";
    const struct {
        QString folder, configHome, folders, read, write, home = "/h";  // the program's folder
    } cases[] = {
        {config.path(), config.path(), list, program, program},
        {carried.path(), config.path(), list, user, user},
        {carried.path(), rel, list, carried.filePath("Settings.inf"), home},
        {carried.path(),
         rel,
         {},
         carried.filePath("Settings.inf"),
         carried.filePath("Settings.inf"),
         ""},
        {bare.path(), rel, list, own(b), home},
        {bare.path(), rel, {}, etcFile, home},
        {bare.path(), rel, a, home, home},
        {installed, rel, a, defaults, home},
        {installed, config.path(), a, user, user},
        {"/usr/bin", rel, a, etcFile, home},  // without its desktop entry
    };
    // As under /usr, where even root may not write once the capabilities are dropped.
    const auto readOnly = [](const QTemporaryDir& dir) {
        const std::string path = dir.path().toStdString();
        return Mount{path, path, nullptr, {}, true};
    };
    withMounts(
        {readOnly(bare), readOnly(carried), {etc.path().toStdString(), "/etc/xdg", nullptr, {}}},
        [&] {
            QDir().mkpath(QFileInfo(etcFile).path());
            writeFile(etcFile, "x");
            for (const auto& row : cases) {
                const LinuxSettingsStore chosen(row.folder.toStdString(),
                                                row.configHome.toStdString(),
                                                row.home.toStdString(), row.folders.toStdString());
                EXPECT_EQ(QString::fromStdU16String(chosen.readPath()), row.read);
                EXPECT_EQ(QString::fromStdU16String(chosen.writePath()), row.write);
            }
        });
}

// A home whose last byte no locale spells: the form sees the paths decoded,
// and what it saves and reads is in that home, in UTF-8 as in ASCII.
TEST(LinuxSettingsStore, shouldSaveInAHomeTheLocaleCannotSpell) {
    const QTemporaryDir dir;
    const std::string home = QFile::encodeName(dir.path()).toStdString() + "/h\xFF";
    for (const char* locale : {"C.UTF-8", "C"}) {
        std::setlocale(LC_ALL, locale);
        LinuxSettingsStore store({}, {}, home, "/nowhere");
        const std::string content = "[settings]\nhostname="s + locale + "\n";
        EXPECT_EQ(store.replace(store.writePath(), content), u"") << locale;
        std::ifstream saved(home + "/.config/sondrel-ping/Settings.inf");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), content);
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
    const QTemporaryDir dir;
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
    withMounts({{"tmpfs", dir.path().toStdString(), "tmpfs", "size=64k", false}}, [&] {
        const QByteArray folder = QFile::encodeName(dir.filePath(QStringLiteral("new")));
        const QByteArray path = folder + "/Settings.inf";
        const QString file = QFile::decodeName(path);
        for (const auto& [mask, before, written, mode, failure] : cases) {
            SCOPED_TRACE(failure);
            if (before != 0) {
                mkdir(folder.constData(), 0755);
                if (before > 0) {
                    writeFile(file, "earlier");
                    chmod(path.constData(), mode_t(before));
                } else {
                    symlink("/dev/null", path.constData());
                }
            }
            const QByteArray content = written ? QByteArray(written) : QByteArray(80 << 10, 'x');
            const mode_t umaskBefore = umask(mask);
            setfsuid(*failure == 'P' ? 65534 : 0);
            const QString said = QString::fromStdU16String(
                LinuxSettingsStore({}, {}, {}, {})
                    .replace(file.toStdU16String(), content.toStdString()));
            setfsuid(0);
            umask(umaskBefore);
            EXPECT_EQ(said, QString::fromLatin1(failure));
            EXPECT_EQ(modeOf(path.constData()), S_IFREG | mode);
            EXPECT_EQ(readFile(file), *failure ? "earlier" : content);
            EXPECT_EQ(QDir(QFile::decodeName(folder)).count(), 3u);  // no temporary file left
            EXPECT_EQ(modeOf(folder.constData()), S_IFDIR | (before == 0 ? 0700u : 0755u));
            QDir(QFile::decodeName(folder)).removeRecursively();
        }
        // A folder in the file's place stays one.
        mkdir(folder.constData(), 0755);
        mkdir(path.constData(), 0755);
        EXPECT_EQ(LinuxSettingsStore({}, {}, {}, {}).replace(file.toStdU16String(), "x"),
                  u"Is a directory");
    });
    EXPECT_EQ(modeOf("/dev/null"), devNull);
}

}  // namespace
