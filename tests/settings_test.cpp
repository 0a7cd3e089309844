#include "fakes.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <tuple>

namespace {

using namespace std::string_literals;

std::string readProfile(const std::string& path, const char* key = "hostname") {
    char buffer[1024];
    LinuxSettingsStore store({}, {}, {});
    const uint32_t n = store.GetPrivateProfileStringA("settings", key, "dflt", buffer,
                                                      sizeof buffer, path.c_str());
    EXPECT_EQ(buffer[n], '\0');
    return std::string(buffer, n);
}

TEST(ProfileFile, shouldFindTheValueOfAKeyInItsSection) {
    const std::string a1023(1023, 'a');
    const std::string mib10(10 << 20, ';');  // one comment line
    const struct {
        const char* name;
        std::string content;
        const char* key;
        std::string value;
    } cases[] = {
        {"plain", "[settings]\r\nhostname=h\r\ntimes=4\r\n", "times", "4"},
        {"missing key", "[settings]\r\nhostname=h\r\n", "bytes", "dflt"},
        {"missing section", "[other]\r\nhostname=h\r\n", "hostname", "dflt"},
        {"key outside the section", "hostname=x\r\n[settings]\r\n[b]\r\nhostname=y\r\n", "hostname",
         "dflt"},
        {"names without regard to case", "[SetTings]\r\nHOSTNAME=h\r\n", "hostname", "h"},
        {"blanks around names", " [ settings ] \r\n\thostname \t=h\r\n", "hostname", "h"},
        {"the value as it stands", "[settings]\r\nhostname= \"a b\" ;c=d \r\n", "hostname",
         " \"a b\" ;c=d "},
        {"an empty value", "[settings]\r\nhostname=\r\n", "hostname", ""},
        {"the first key wins", "[settings]\nhostname=1\nhostname=2\n", "hostname", "1"},
        {"the first section wins", "[settings]\nx=1\n[settings]\nhostname=2\n", "hostname", "dflt"},
        {"CR line ends", "[settings]\rtimes=4\rbytes=32\r", "bytes", "32"},
        {"LF line ends", "[settings]\ntimes=4\nbytes=32", "bytes", "32"},
        {"comment lines", "[settings]\n;hostname=c\n  ;x\nhostname=h\n", "hostname", "h"},
        {"a byte-order mark", "\xEF\xBB\xBF[settings]\nhostname=h\n", "hostname", "h"},
        {"1023 bytes", "[settings]\nhostname=" + a1023 + "\n", "hostname", a1023},
        {"1024 bytes cut to 1023", "[settings]\nhostname=" + a1023 + "b\n", "hostname", a1023},
        {"a Chinese value", "[settings]\nhostname=例子.测试\n", "hostname", "例子.测试"},
        {"garbage", std::string("\0\xFF[\x01=\n", 6), "hostname", "dflt"},
        {"NUL bytes kept", "[settings]\nhostname=a\0b\n"s, "hostname", "a\0b"s},
        {"bytes invalid in UTF-8 kept", "[settings]\nhostname=\xFF\xC3(\n", "hostname",
         "\xFF\xC3("},
        {"10 MB, the key in the first MiB", "[settings]\nhostname=h\n" + mib10, "hostname", "h"},
        {"10 MB, the key past the first MiB", "[settings]\n" + mib10 + "\nhostname=h\n", "hostname",
         "dflt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Settings.inf"));
        writeFile(path, QByteArray::fromStdString(c.content));
        EXPECT_EQ(readProfile(path.toStdString(), c.key), c.value);
    }
}

// Never a wait for a FIFO's writer, nor a read without end of /dev/zero.
TEST(ProfileFile, shouldGiveTheDefaultForAnythingButARegularFile) {
    const QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    ASSERT_EQ(mkdir((folder + "/folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (folder + "/zero").c_str()), 0);
    ASSERT_EQ(symlink((folder + "/fifo").c_str(), (folder + "/tofifo").c_str()), 0);
    for (const char* name : {"missing", "folder", "fifo", "zero", "tofifo"}) {
        EXPECT_EQ(readProfile(folder + "/" + name), "dflt") << name;
    }
    char buffer[8];
    LinuxSettingsStore store({}, {}, {});
    EXPECT_EQ(store.GetPrivateProfileStringA("s", "k", "longer default", buffer, sizeof buffer,
                                             "/nonexistent"),
              7u);
    EXPECT_STREQ(buffer, "longer ");
}

// Written where the user may write; read from the first file that exists.
TEST(LinuxSettingsStore, shouldReadTheFirstFileThereIsWhereTheProgramFolderIsReadOnly) {
    const QTemporaryDir bare, carried, config, dirs;
    writeFile(carried.filePath(QStringLiteral("Settings.inf")), "x");
    const QString user = config.filePath(QStringLiteral("sondrel-ping/Settings.inf"));
    const auto own = [&](const char* dir) {
        return dirs.filePath(QStringLiteral("%1/sondrel-ping/Settings.inf").arg(dir));
    };
    for (const char* dir : {"b", "c"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(own(dir)).path()));
        writeFile(own(dir), "x");
    }
    QDir().mkpath(own("a"));  // a folder, not a file
    QDir().mkpath(QFileInfo(user).path());
    writeFile(user, "x");
    const QString list = QStringLiteral("rel/a:%1:%2:%3")
                             .arg(dirs.filePath("a"), dirs.filePath("b"), dirs.filePath("c"));
    // A folder the program may write keeps its own file, even one still to come.
    const LinuxSettingsStore portable(bare.path(), config.path(), {}, list);
    EXPECT_EQ(portable.readPath(), bare.filePath(QStringLiteral("Settings.inf")));
    EXPECT_EQ(portable.writePath(), portable.readPath());

    // As under /usr, where even root may not write once the capabilities are dropped.
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for read-only bind mounts in a private mount namespace";
    }
    // The number of wrong cases, in a private mount namespace.
    const auto wrongCases = [&] {
        bool mounted = unshare(CLONE_NEWNS) == 0 &&
                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       mount("tmpfs", "/etc/xdg", "tmpfs", 0, nullptr) == 0;
        for (const QTemporaryDir* dir : {&bare, &carried}) {
            const QByteArray folder = QFile::encodeName(dir->path());
            mounted =
                mounted &&
                mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) == 0 &&
                mount(nullptr, folder.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                      nullptr) == 0;
        }
        if (!mounted) {
            return -1;
        }
        const QString etc = QStringLiteral("/etc/xdg/sondrel-ping/Settings.inf");
        QDir().mkpath(QFileInfo(etc).path());
        writeFile(etc, "x");
        const QString homeFile = QStringLiteral("/h/.config/sondrel-ping/Settings.inf");
        const struct {
            const char* name;
            const QTemporaryDir& folder;
            QString configHome;
            QString dirs;
            QString read;
            QString write;
        } cases[] = {
            {"the user's file first", carried, config.path(), list, user, user},
            {"else the one beside", carried, QStringLiteral("rel"), list,
             carried.filePath(QStringLiteral("Settings.inf")), homeFile},
            {"else the first in the list", bare, QStringLiteral("rel"), list, own("b"), homeFile},
            {"/etc/xdg when there is no list", bare, QStringLiteral("rel"), {}, etc, homeFile},
            {"none: the user's", bare, QStringLiteral("rel"), dirs.filePath("a"), homeFile,
             homeFile},
        };
        int wrong = 0;
        for (const auto& c : cases) {
            const LinuxSettingsStore chosen(c.folder.path(), c.configHome, "/h", c.dirs);
            if (chosen.readPath() != c.read || chosen.writePath() != c.write) {
                std::fprintf(stderr, "%s: %s, %s\n", c.name, qPrintable(chosen.readPath()),
                             qPrintable(chosen.writePath()));
                ++wrong;
            }
        }
        return wrong;
    };
    EXPECT_EXIT(std::_Exit(wrongCases()), testing::ExitedWithCode(0), "");
}

// A first save gets 0666 less the umask, in a folder made 0700; a replaced
// regular file keeps its mode; a link is replaced, never followed.
TEST(LinuxSettingsStore, shouldSaveWithTheFilesOwnModeOrTheUmasks) {
    struct stat devNull {};
    ASSERT_EQ(stat("/dev/null", &devNull), 0);
    const struct {
        const char* name;
        mode_t umask;
        int before;  // 0: no file, -1: a link to /dev/null, else a regular file's mode
        mode_t mode;
    } cases[] = {
        {"a first save under umask 077", 077, 0, 0600},
        {"a first save under umask 022", 022, 0, 0644},
        {"a file of mode 0640 under umask 077", 077, 0640, 0640},
        {"a link to /dev/null under umask 022", 022, -1, 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.filePath(QStringLiteral("new")));
        const QByteArray path = folder + "/Settings.inf";
        if (c.before != 0) {
            ASSERT_EQ(mkdir(folder.constData(), 0700), 0);
        }
        if (c.before > 0) {
            writeFile(QFile::decodeName(path), "earlier");
            ASSERT_EQ(chmod(path.constData(), mode_t(c.before)), 0);
        } else if (c.before < 0) {
            ASSERT_EQ(symlink("/dev/null", path.constData()), 0);
        }
        const mode_t mask = umask(c.umask);
        const QString failure =
            LinuxSettingsStore({}, {}, {}).replace(QFile::decodeName(path), "x");
        umask(mask);
        EXPECT_EQ(failure, QString());
        struct stat file {};
        struct stat made {};
        ASSERT_EQ(lstat(path.constData(), &file), 0);
        ASSERT_EQ(stat(folder.constData(), &made), 0);
        EXPECT_TRUE(S_ISREG(file.st_mode));
        EXPECT_EQ(file.st_mode & 07777, c.mode);
        EXPECT_EQ(made.st_mode & 07777, 0700u);
    }
    struct stat after {};
    ASSERT_EQ(stat("/dev/null", &after), 0);
    EXPECT_EQ(std::tuple(after.st_mode, after.st_rdev),
              std::tuple(devNull.st_mode, devNull.st_rdev));
}

struct Shown final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

TEST(FormLoad, shouldStartTheLibraryShowTheWindowAndFillTheBoxesFromTheFile) {
    const struct {
        const char* name;
        QByteArray file;  // empty: no file
        QStringList boxes;
    } cases[] = {
        {"no file empties the boxes", {}, {"", "", ""}},
        {"a missing key empties its box",
         "[settings]\r\nhostname=198.18.0.1\r\ntimes=9\r\n",
         {"198.18.0.1", "9", ""}},
        {"a box keeps what precedes a NUL; bytes invalid in the locale's encoding become U+FFFD",
         QByteArray::fromStdString("[settings]\r\nhostname=a\0b\r\nbytes=\xFF\xC3(\r\n"s),
         {"a", "", "\uFFFD\uFFFD("}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeForm f;
        Shown window;
        f.form.bind(&window);
        if (!c.file.isEmpty()) {
            writeFile(f.settingsPath(), c.file);
        }
        f.form.Form_Load();
        EXPECT_EQ(QStringList({f.form.Host.text(), f.form.lblPingTimes.text(),
                               f.form.lblPacketSize.text()}),
                  c.boxes);
        EXPECT_EQ(f.form.SettingsPath, f.settingsPath());
        EXPECT_EQ(window.shows, 1);
        EXPECT_EQ(f.winsock.starts, 1);  // the start kept for the program's life
    }
}

// Saved where the program's folder is read-only: the user's folder, made at
// the save.
TEST(ComdSave, shouldWriteFourLinesThatReadBackTheSame) {
    const struct {
        QString host;
        QString times;
        QString bytes;
    } cases[] = {
        {QStringLiteral("a=b"), QStringLiteral(" ;4 "), QStringLiteral("\"32\"")},
        {QStringLiteral(u"例子.测试"), QStringLiteral("[settings]"), QString()},
        {QString(1023, u'x'), QStringLiteral("4"), QStringLiteral("=")},
    };
    for (const auto& c : cases) {
        const QTemporaryDir home;
        const QString config = home.filePath(QStringLiteral(".config/sondrel-ping"));
        LinuxSettingsStore store(QStringLiteral("/nonexistent"), {}, home.path());
        ScriptedWindowSystem ui;
        ScriptedIcmp icmp;
        FakeSocketLibrary winsock;
        FrmPing saved({ui, icmp, winsock, store});
        saved.Host.setText(c.host);
        saved.lblPingTimes.setText(c.times);
        saved.lblPacketSize.setText(c.bytes);
        saved.ComdSave_Click();
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].prompt, QStringLiteral(u"已经保存参数"));
        EXPECT_EQ(ui.boxes[0].title, QStringLiteral(u"提示"));
        EXPECT_EQ(ui.boxes[0].style, MsgBox::OkOnly);
        EXPECT_EQ(readFile(config + QStringLiteral("/Settings.inf")),
                  (QStringLiteral("[settings]\r\nhostname=%1\r\ntimes=%2\r\nbytes=%3\r\n")
                       .arg(c.host, c.times, c.bytes))
                      .toUtf8());

        FrmPing loaded({ui, icmp, winsock, store});
        loaded.Form_Load();
        EXPECT_EQ(loaded.Host.text(), c.host);
        EXPECT_EQ(loaded.lblPingTimes.text(), c.times);
        EXPECT_EQ(loaded.lblPacketSize.text(), c.bytes);
    }
}

// Root may write anything: as nobody, permissions count.
TEST(ComdSave, shouldSayWhereAndWhyASaveFailedAndNeverConfirmIt) {
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.inf"));
    const QByteArray earlier = "[settings]\r\nhostname=earlier\r\n";
    writeFile(path, earlier);
    QFile::setPermissions(dir.path(),
                          QFile::ReadOther | QFile::ExeOther | QFile::ReadOwner | QFile::ExeOwner);
    ScriptedWindowSystem ui;
    ScriptedIcmp icmp;
    FakeSocketLibrary winsock;
    LinuxSettingsStore store(dir.path(), {}, {});
    FrmPing form({ui, icmp, winsock, store});
    const bool nobody = geteuid() == 0;
    if (nobody) {
        setfsuid(65534);
    }
    form.ComdSave_Click();
    if (nobody) {
        setfsuid(0);
    }
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes[0].prompt.contains(path));
    EXPECT_TRUE(ui.boxes[0].prompt.endsWith(QStringLiteral("Permission denied")));
    EXPECT_EQ(ui.boxes[0].style, MsgBox::OkOnly | MsgBox::Critical);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("Settings.inf")});
    EXPECT_EQ(readFile(path), earlier);
}

TEST(ComdSave, shouldKeepTheEarlierFileWhenTheDiskIsFull) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a small file system in a private mount namespace";
    }
    EXPECT_EXIT(
        {
            FakeForm f;
            const QByteArray folder = QFile::encodeName(f.folder.path());
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") != 0) {
                std::_Exit(2);
            }
            const QByteArray earlier = "[settings]\r\nhostname=earlier\r\ntimes=4\r\nbytes=32\r\n";
            writeFile(f.settingsPath(), earlier);
            const int filler = open((folder + "/filler").constData(), O_WRONLY | O_CREAT, 0600);
            const std::vector<char> block(1024, 'f');
            while (write(filler, block.data(), block.size()) > 0) {
            }
            f.form.Host.setText(QString(8000, u'h'));
            f.form.ComdSave_Click();
            const bool kept = readFile(f.settingsPath()) == earlier;
            const bool told = f.ui.boxes.size() == 1 && f.ui.boxes[0].style != MsgBox::OkOnly;
            std::_Exit(kept && told ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ComdSave, shouldWriteTheCurrentTextsDuringARunWhichThenGoesOn) {
    PingRun r;
    r.ui.atYield[1] = [&] { r.form.ComdSave_Click(); };
    r.start(QStringLiteral("4"));
    EXPECT_EQ(readFile(r.settingsPath()),
              QByteArray("[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n"));
    EXPECT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.icmp.sent.size(), 4u);
}

}  // namespace
