#include "netns.h"

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
// folder the program may write keeps its own file, even one still to come.
TEST(LinuxSettingsStore, shouldReadTheFirstFileThereIsWhereTheProgramFolderIsReadOnly) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for read-only bind mounts in a private mount namespace";
    }
    const QTemporaryDir bare, carried, config, dirs, etc;
    const auto own = [](const QString& dir) { return dir + "/sondrel-ping/Settings.inf"; };
    const QString a = dirs.filePath("a"), b = dirs.filePath("b"), c = dirs.filePath("c");
    const QString program = config.filePath("Settings.inf"), user = own(config.path());
    for (const QString& path : {carried.filePath("Settings.inf"), user, own(b), own(c)}) {
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "x");
    }
    QDir().mkpath(own(a));  // a folder, not a file
    const QString list = QStringList({"rel/a", a, b, c}).join(u':');
    const QString etcFile = own("/etc/xdg"), home = own("/h/.config"), rel = "rel";
    // The program's folder, the user's config home, the folder list; read, write.
    const std::tuple<QString, QString, QString, QString, QString> cases[] = {
        {config.path(), config.path(), list, program, program},
        {carried.path(), config.path(), list, user, user},
        {carried.path(), rel, list, carried.filePath("Settings.inf"), home},
        {bare.path(), rel, list, own(b), home},
        {bare.path(), rel, {}, etcFile, home},
        {bare.path(), rel, a, home, home},
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
            for (const auto& [folder, configHome, folders, read, write] : cases) {
                const LinuxSettingsStore chosen(folder, configHome, "/h", folders);
                EXPECT_EQ(std::tuple(chosen.readPath(), chosen.writePath()),
                          std::tuple(read, write));
            }
        });
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
            const QString said = LinuxSettingsStore({}, {}, {}, {}).replace(file, content);
            setfsuid(0);
            umask(umaskBefore);
            EXPECT_EQ(said, QString::fromLatin1(failure));
            EXPECT_EQ(modeOf(path.constData()), S_IFREG | mode);
            EXPECT_EQ(readFile(file), *failure ? "earlier" : content);
            EXPECT_EQ(QDir(QFile::decodeName(folder)).count(), 3u);  // no temporary file left
            EXPECT_EQ(modeOf(folder.constData()), S_IFDIR | (before == 0 ? 0700u : 0755u));
            QDir(QFile::decodeName(folder)).removeRecursively();
        }
    });
    EXPECT_EQ(modeOf("/dev/null"), devNull);
}

QStringList boxes(const FrmPing& form) {
    return {form.Host.text(), form.lblPingTimes.text(), form.lblPacketSize.text()};
}

struct ShownWindow final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

// Shown once, with the socket library's start kept for the program's life;
// the host box focused with its default selected, then filled from the file.
// A box keeps what precedes a NUL; bytes invalid in UTF-8 become U+FFFD.
TEST(FormLoad, shouldShowTheWindowWithTheHostBoxSelectedThenFillTheBoxesFromTheFile) {
    FakeForm f;
    ShownWindow window;
    RecordedBox host;
    f.form.bind(&window);
    f.form.Host.bind(&host);
    f.settings.files[f.settings.path] =
        QByteArray::fromStdString("[settings]\r\nhostname=a\0b\r\nbytes=\xFF\xC3(\r\n"s);
    f.form.Form_Load();
    EXPECT_EQ(boxes(f.form), QStringList({"a", "", "\uFFFD\uFFFD("}));
    EXPECT_EQ(std::tuple(f.form.SettingsPath, window.shows, f.winsock.starts),
              std::tuple(f.settings.path, 1, 1));
    EXPECT_EQ(host.seen, QStringList({"www.example.com", "focus", "0+15", "a"}));
}

// Four lines, which the load reads back the same; where the save fails, a
// box says where and why, and nothing is confirmed.
TEST(ComdSave, shouldWriteFourLinesThatReadBackTheSameOrSayWhyNot) {
    // The boxes, the locale, the file writer's failure, the reason said (none: confirmed).
    const std::tuple<QStringList, const char*, const char*, const char*> cases[] = {
        {{"a=b", " ;4 ", "\"32\""}, "C.UTF-8", "", nullptr},
        {{"例子.测试", "[settings]", ""}, "C.UTF-8", "", nullptr},
        {{"h", "", ""}, "C.UTF-8", "Disk full", "Disk full"},
        {{"例子", "", ""}, "C", "", "有的字符无法用本机的字符编码保存"},
    };
    for (const auto& [texts, locale, failure, said] : cases) {
        std::setlocale(LC_ALL, locale);
        FakeForm f;
        f.settings.failure = QString::fromLatin1(failure);
        f.settings.files[f.settings.path] = "earlier";
        f.form.Host.setText(texts[0]);
        f.form.lblPingTimes.setText(texts[1]);
        f.form.lblPacketSize.setText(texts[2]);
        f.form.ComdSave_Click();
        std::setlocale(LC_ALL, "C.UTF-8");
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        const QString prompt = said ? QStringLiteral(u"参数没有保存。\n文件：%1\n原因：%2")
                                          .arg(f.settings.path, QString::fromUtf8(said))
                                    : QStringLiteral(u"已经保存参数");
        EXPECT_EQ(std::tuple(f.ui.boxes[0].title, f.ui.boxes[0].prompt, f.ui.boxes[0].style),
                  std::tuple(QStringLiteral(u"提示"), prompt,
                             said ? MsgBox::OkOnly | MsgBox::Critical : MsgBox::OkOnly));
        const QByteArray written =
            QStringLiteral("[settings]\r\nhostname=%1\r\ntimes=%2\r\nbytes=%3\r\n")
                .arg(texts[0], texts[1], texts[2])
                .toUtf8();
        EXPECT_EQ(f.settings.files[f.settings.path], said ? QByteArray("earlier") : written);
        FrmPing loaded({f.ui, f.icmp, f.winsock, f.settings});
        loaded.Form_Load();
        EXPECT_EQ(boxes(loaded), said ? QStringList({"", "", ""}) : texts);
    }
}

TEST(ComdSave, shouldWriteTheCurrentTextsDuringARunWhichThenGoesOn) {
    PingRun r;
    r.ui.atYield[1] = [&] { r.form.ComdSave_Click(); };
    r.start(QStringLiteral("4"));
    EXPECT_EQ(r.settings.files[r.settings.path],
              "[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n");
    EXPECT_EQ(std::pair(r.ui.boxes.size(), r.icmp.sent.size()), std::pair(size_t{1}, size_t{4}));
}

}  // namespace
