#include "netns.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/stat.h>

#include <clocale>
#include <tuple>

namespace {

using namespace std::string_literals;

TEST(ProfileFile, shouldFindTheValueOfAKeyInItsSection) {
    const struct {
        std::string content;
        const char* key;
        const char* value;  // none: not found
    } cases[] = {
        {"[settings]\r\nhostname=h\r\ntimes=4\r\n", "times", "4"},
        {"[settings]\r\nhostname=h\r\n", "bytes", nullptr},
        {"[other]\r\nhostname=h\r\n", "hostname", nullptr},
        {"hostname=x\r\n[settings]\r\n[b]\r\nhostname=y\r\n", "hostname", nullptr},
        {"[SetTings]\r\nHOSTNAME=h\r\n", "hostname", "h"},
        {" [ settings ] \r\n\thostname \t=h\r\n", "hostname", "h"},
        {"[settings]\r\nhostname= \"a b\" ;c=d \r\n", "hostname", " \"a b\" ;c=d "},
        {"[settings]\r\nhostname=\r\n", "hostname", ""},
        {"[settings]\nhostname=1\nhostname=2\n", "hostname", "1"},
        {"[settings]\nx=1\n[settings]\nhostname=2\n", "hostname", nullptr},
        {"[settings]\rtimes=4\rbytes=32\r", "bytes", "32"},
        {"[settings]\ntimes=4\nbytes=32", "bytes", "32"},
        {"[settings]\n;hostname=c\n  ;x\nhostname=h\n", "hostname", "h"},
        {"\xEF\xBB\xBF[settings]\nhostname=h\n", "hostname", "h"},
        {"[settings]\nhostname=例子.测试\n", "hostname", "例子.测试"},
        {"\0\xFF[\x01=\n"s, "hostname", nullptr},
        {"[settings]\nhostname=\xFF\xC3(\n", "hostname", "\xFF\xC3("},
    };
    for (const auto& c : cases) {
        const auto value = findProfileValue(c.content, "settings", c.key);
        EXPECT_EQ(value ? std::string(*value) : "(none)", c.value ? c.value : "(none)")
            << c.content;
    }
}

// Never a wait for a FIFO's writer, nor a read without end of /dev/zero;
// only the first MiB, and no more of a value than the buffer holds.
TEST(LinuxSettingsStore, shouldReadOnlyRegularFilesTheirFirstMiBAndWhatTheBufferHolds) {
    const QTemporaryDir dir;
    const std::string mib10(10 << 20, ';');  // one comment line
    const auto file = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    writeFile(file("early"), QByteArray::fromStdString("[settings]\nhostname=h\n" + mib10));
    writeFile(file("late"), QByteArray::fromStdString("[settings]\n" + mib10 + "\nhostname=h"));
    writeFile(file("long"), QByteArray::fromStdString("[settings]\nhostname=" +
                                                      std::string(1024, 'a') + "\nbytes=a\0b"s));
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    mkfifo(QFile::encodeName(file("fifo")).constData(), 0600);
    QFile::link(QStringLiteral("/dev/zero"), file("zero"));
    QFile::link(file("fifo"), file("tofifo"));
    const struct {
        const char* file;
        const char* key;
        uint32_t size;
        std::string value;
    } cases[] = {
        {"early", "hostname", 1024, "h"},
        {"late", "hostname", 1024, "default"},
        {"long", "hostname", 1024, std::string(1023, 'a')},
        {"long", "bytes", 1024, "a\0b"s},
        {"missing", "hostname", 5, "defa"},
        {"early", "hostname", 1, ""},
        {"folder", "hostname", 1024, "default"},
        {"fifo", "hostname", 1024, "default"},
        {"zero", "hostname", 1024, "default"},
        {"tofifo", "hostname", 1024, "default"},
    };
    LinuxSettingsStore store({}, {}, {}, {});
    for (const auto& c : cases) {
        char buffer[1024];
        std::fill_n(buffer, sizeof buffer, 'x');
        const uint32_t n = store.GetPrivateProfileStringA("settings", c.key, "default", buffer,
                                                          c.size, QFile::encodeName(file(c.file)));
        EXPECT_EQ(std::string(buffer, n), c.value) << c.file << " " << c.key;
        EXPECT_EQ(buffer[n], '\0');
    }
}

// Written where the user may write; read from the first file that exists.
TEST(LinuxSettingsStore, shouldReadTheFirstFileThereIsWhereTheProgramFolderIsReadOnly) {
    const QTemporaryDir bare, carried, config, dirs;
    const QString user = config.filePath(QStringLiteral("sondrel-ping/Settings.inf"));
    const auto own = [&](const char* dir) {
        return dirs.filePath(QStringLiteral("%1/sondrel-ping/Settings.inf").arg(dir));
    };
    for (const QString& path :
         {carried.filePath(QStringLiteral("Settings.inf")), user, own("b"), own("c")}) {
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "x");
    }
    QDir().mkpath(own("a"));  // a folder, not a file
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
    const QTemporaryDir etc;
    const auto readOnly = [](const QTemporaryDir& dir) {
        const std::string path = dir.path().toStdString();
        return Mount{path, path, nullptr, {}, true};
    };
    withMounts({readOnly(bare),
                readOnly(carried),
                {etc.path().toStdString(), "/etc/xdg", nullptr, {}, false}},
               [&] {
                   const QString etcFile = QStringLiteral("/etc/xdg/sondrel-ping/Settings.inf");
                   QDir().mkpath(QFileInfo(etcFile).path());
                   writeFile(etcFile, "x");
                   const QString home = QStringLiteral("/h/.config/sondrel-ping/Settings.inf");
                   const struct {
                       const QTemporaryDir& folder;
                       QString configHome;
                       QString dirs;
                       QString read;
                       QString write;
                   } cases[] = {
                       {carried, config.path(), list, user, user},
                       {carried, QStringLiteral("rel"), list,
                        carried.filePath(QStringLiteral("Settings.inf")), home},
                       {bare, QStringLiteral("rel"), list, own("b"), home},
                       {bare, QStringLiteral("rel"), {}, etcFile, home},
                       {bare, QStringLiteral("rel"), dirs.filePath("a"), home, home},
                   };
                   for (const auto& c : cases) {
                       const LinuxSettingsStore chosen(c.folder.path(), c.configHome, "/h", c.dirs);
                       EXPECT_EQ(std::tuple(chosen.readPath(), chosen.writePath()),
                                 std::tuple(c.read, c.write));
                   }
               });
}

// A first save gets 0666 less the umask, in a folder made 0700; a replaced
// regular file keeps its mode; a link is replaced, never followed. A save
// that fails leaves the earlier file as it was, and says why.
TEST(LinuxSettingsStore, shouldReplaceTheWholeFileWithItsOwnModeOrNotAtAll) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: a small file system in a private mount namespace";
    }
    const QTemporaryDir dir;
    const struct stat devNull = [] {
        struct stat s {};
        stat("/dev/null", &s);
        return s;
    }();
    const struct {
        mode_t umask;
        int before;  // 0: no file, -1: a link to /dev/null, else a regular file's mode
        const char* content;
        mode_t mode;
        const char* failure;
    } cases[] = {
        {077, 0, "x", 0600, ""},
        {022, 0, "x", 0644, ""},
        {077, 0640, "x", 0640, ""},
        {022, -1, "x", 0644, ""},
        {022, 0600, nullptr, 0600, "No space left on device"},
        {022, 0400, "x", 0400, "Permission denied"},  // as nobody, in a folder of root's
    };
    withMounts({{"tmpfs", dir.path().toStdString(), "tmpfs", "size=64k", false}}, [&] {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.failure);
            const QByteArray folder = QFile::encodeName(dir.filePath(QStringLiteral("new")));
            const QByteArray path = folder + "/Settings.inf";
            if (c.before != 0) {
                mkdir(folder.constData(), 0755);
                c.before > 0 ? writeFile(QFile::decodeName(path), "earlier")
                             : (void)symlink("/dev/null", path.constData());
                chmod(path.constData(), mode_t(c.before));
            }
            const QByteArray content =
                c.content ? QByteArray(c.content) : QByteArray(80 << 10, 'x');
            const mode_t mask = umask(c.umask);
            setfsuid(*c.failure == 'P' ? 65534 : 0);
            const QString failure =
                LinuxSettingsStore({}, {}, {}, {}).replace(QFile::decodeName(path), content);
            setfsuid(0);
            umask(mask);
            EXPECT_EQ(failure, QString::fromLatin1(c.failure));
            struct stat file {};
            ASSERT_EQ(lstat(path.constData(), &file), 0);
            EXPECT_TRUE(S_ISREG(file.st_mode));
            EXPECT_EQ(file.st_mode & 07777, c.mode);
            EXPECT_EQ(readFile(QFile::decodeName(path)), *c.failure ? "earlier" : content);
            EXPECT_EQ(QDir(QFile::decodeName(folder)).count(), 3u);  // no temporary file left
            struct stat made {};
            stat(folder.constData(), &made);
            EXPECT_EQ(made.st_mode & 07777, c.before == 0 ? 0700u : 0755u);
            QDir(QFile::decodeName(folder)).removeRecursively();
        }
    });
    struct stat after {};
    stat("/dev/null", &after);
    EXPECT_EQ(std::tuple(after.st_mode, after.st_rdev),
              std::tuple(devNull.st_mode, devNull.st_rdev));
}

struct ShownWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

TEST(FormLoad, shouldShowTheWindowWithTheHostBoxSelectedThenFillTheBoxesFromTheFile) {
    const struct {
        QByteArray file;  // empty: no file
        QStringList boxes;
    } cases[] = {
        {{}, {"", "", ""}},
        {"[settings]\r\nhostname=198.18.0.1\r\ntimes=9\r\n", {"198.18.0.1", "9", ""}},
        // A box keeps what precedes a NUL; bytes invalid in UTF-8 become U+FFFD.
        {QByteArray::fromStdString(
             "[settings]\r\nhostname=a\0b\r\ntimes=\0x\r\nbytes=\xFF\xC3(\r\n"s),
         {"a", "", "\uFFFD\uFFFD("}},
    };
    for (const auto& c : cases) {
        FakeForm f;
        ShownWindow window;
        RecordedBox host;
        f.form.bind(&window);
        f.form.Host.bind(&host);
        if (!c.file.isEmpty()) {
            f.settings.files[f.settings.path] = c.file;
        }
        f.form.Form_Load();
        EXPECT_EQ(QStringList({f.form.Host.text(), f.form.lblPingTimes.text(),
                               f.form.lblPacketSize.text()}),
                  c.boxes);
        EXPECT_EQ(f.form.SettingsPath, f.settings.path);
        EXPECT_EQ(window.shows, 1);
        // The default host selected, then the file's.
        EXPECT_EQ(host.seen, QStringList({"www.example.com", "focus", "0+15", c.boxes[0]}));
        EXPECT_EQ(f.winsock.starts, 1);  // the start kept for the program's life
    }
}

// Four lines, which the load reads back the same; where the save fails, a
// box says where and why, and nothing is confirmed.
TEST(ComdSave, shouldWriteFourLinesThatReadBackTheSameOrSayWhyNot) {
    const struct {
        const char16_t* host;
        const char16_t* times;
        const char16_t* bytes;
        const char* locale;
        const char* failure;   // of the file's writer
        const char16_t* said;  // none: confirmed
    } cases[] = {
        {u"a=b", u" ;4 ", u"\"32\"", "C.UTF-8", "", nullptr},
        {u"例子.测试", u"[settings]", u"", "C.UTF-8", "", nullptr},
        {u"x", u"4", u"=", "C.UTF-8", "", nullptr},
        {u"h", u"", u"", "C.UTF-8", "Disk full", u"Disk full"},
        {u"例子", u"", u"", "C", "", u"有的字符无法用本机的字符编码保存"},
    };
    for (const auto& c : cases) {
        std::setlocale(LC_ALL, c.locale);
        FakeForm f;
        f.settings.failure = QString::fromLatin1(c.failure);
        f.settings.files[f.settings.path] = "earlier";
        const QStringList boxes = {QString::fromUtf16(c.host), QString::fromUtf16(c.times),
                                   QString::fromUtf16(c.bytes)};
        f.form.Host.setText(boxes[0]);
        f.form.lblPingTimes.setText(boxes[1]);
        f.form.lblPacketSize.setText(boxes[2]);
        f.form.ComdSave_Click();
        std::setlocale(LC_ALL, "C.UTF-8");
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        EXPECT_EQ(f.ui.boxes[0].title, QStringLiteral(u"提示"));
        if (c.said == nullptr) {
            EXPECT_EQ(f.ui.boxes[0].prompt, QStringLiteral(u"已经保存参数"));
            EXPECT_EQ(f.ui.boxes[0].style, MsgBox::OkOnly);
            EXPECT_EQ(f.settings.files[f.settings.path],
                      QStringLiteral("[settings]\r\nhostname=%1\r\ntimes=%2\r\nbytes=%3\r\n")
                          .arg(boxes[0], boxes[1], boxes[2])
                          .toUtf8());
            FrmPing loaded({f.ui, f.icmp, f.winsock, f.settings});
            loaded.Form_Load();
            EXPECT_EQ(QStringList({loaded.Host.text(), loaded.lblPingTimes.text(),
                                   loaded.lblPacketSize.text()}),
                      boxes);
        } else {
            EXPECT_EQ(f.ui.boxes[0].prompt, QStringLiteral(u"参数没有保存。\n文件：") +
                                                f.settings.path + QStringLiteral(u"\n原因：") +
                                                QString::fromUtf16(c.said));
            EXPECT_EQ(f.ui.boxes[0].style, MsgBox::OkOnly | MsgBox::Critical);
            EXPECT_EQ(f.settings.files[f.settings.path], "earlier");
        }
    }
}

TEST(ComdSave, shouldWriteTheCurrentTextsDuringARunWhichThenGoesOn) {
    PingRun r;
    r.ui.atYield[1] = [&] { r.form.ComdSave_Click(); };
    r.start(QStringLiteral("4"));
    EXPECT_EQ(r.settings.files[r.settings.path],
              "[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n");
    EXPECT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.icmp.sent.size(), 4u);
}

}  // namespace
