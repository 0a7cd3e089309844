#include "fakes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <unistd.h>

#include <optional>

namespace {

struct Shown final : WindowView {
    void showWindow() override { ++shows; }
    void closeWindow() override {}
    int shows = 0;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(FormLoad, shouldStartTheLibraryShowTheWindowAndFillTheBoxesFromTheFile) {
    const struct {
        const char* name;
        QByteArray file;  // empty: no file
        QStringList boxes;
    } cases[] = {
        {"no file empties the boxes", {}, {"", "", ""}},
        {"a missing key empties its box",
         "[settings]\r\nhostname=h\r\nbytes=64\r\n",
         {"h", "", "64"}},
        {"all three",
         "[settings]\r\nhostname=10.0.0.1\r\ntimes=9\r\nbytes=0\r\n",
         {"10.0.0.1", "9", "0"}},
        {"a box keeps what precedes a NUL",
         QByteArray("[settings]\r\nhostname=a\0b\r\ntimes=4\r\n", 35),
         {"a", "4", ""}},
        {"bytes invalid in the locale's encoding become U+FFFD",
         "[settings]\r\nhostname=\xFF\xC3(\r\n",
         {"\uFFFD\uFFFD(", "", ""}},
        {"a byte-order mark, no line end at the end",
         "\xEF\xBB\xBF[settings]\r\nbytes=64",
         {"", "", "64"}},
    };
    for (const auto& c : cases) {
        FakeForm f;
        Shown window;
        f.form.bind(&window);
        if (!c.file.isEmpty()) {
            writeFile(f.settingsPath(), c.file);
        }
        f.form.StopFlag = -1;
        f.form.Form_Load();
        EXPECT_EQ(QStringList({f.form.Host.text(), f.form.lblPingTimes.text(),
                               f.form.lblPacketSize.text()}),
                  c.boxes)
            << c.name;
        EXPECT_EQ(f.form.SettingsPath, f.settingsPath());
        EXPECT_EQ(f.form.StopFlag, 0);
        EXPECT_EQ(window.shows, 1);
        EXPECT_EQ(f.winsock.starts, 1);  // the start kept for the program's life
    }
}

TEST(ComdSave, shouldWriteFourLinesThatReadBackTheSame) {
    const QString long1023 = QString(1023, u'x');
    const struct {
        QString host;
        QString times;
        QString bytes;
    } cases[] = {
        {QStringLiteral("127.0.0.1"), QStringLiteral("4"), QStringLiteral("32")},
        {QStringLiteral("a=b"), QStringLiteral(";4"), QStringLiteral("\"32\"")},
        {QStringLiteral(u"例子.测试"), QStringLiteral(" 4 "), QString()},
        {long1023, QStringLiteral("[settings]"), QStringLiteral("=")},
    };
    for (const auto& c : cases) {
        FakeForm saved;
        saved.form.Host.setText(c.host);
        saved.form.lblPingTimes.setText(c.times);
        saved.form.lblPacketSize.setText(c.bytes);
        saved.form.ComdSave_Click();
        ASSERT_EQ(saved.ui.boxes.size(), 1u);
        EXPECT_EQ(saved.ui.boxes[0].prompt, QStringLiteral(u"已经保存参数"));
        EXPECT_EQ(saved.ui.boxes[0].title, QStringLiteral(u"提示"));
        EXPECT_EQ(saved.ui.boxes[0].style, MsgBox::OkOnly);
        EXPECT_EQ(saved.ui.yields, 1);
        EXPECT_EQ(
            readFile(saved.settingsPath()),
            (QStringLiteral("[settings]\r\nhostname=") + c.host + QStringLiteral("\r\ntimes=") +
             c.times + QStringLiteral("\r\nbytes=") + c.bytes + QStringLiteral("\r\n"))
                .toUtf8());

        FakeForm loaded;
        QFile::copy(saved.settingsPath(), loaded.settingsPath());
        loaded.form.Form_Load();
        EXPECT_EQ(loaded.form.Host.text(), c.host);
        EXPECT_EQ(loaded.form.lblPingTimes.text(), c.times);
        EXPECT_EQ(loaded.form.lblPacketSize.text(), c.bytes);
    }
}

// Root may read and write anything: as root, files are opened as nobody.
class FilesAsNobody {
public:
    FilesAsNobody() {
        if (root_) {
            setfsuid(65534);
        }
    }
    ~FilesAsNobody() {
        if (root_) {
            setfsuid(0);
        }
    }

private:
    const bool root_ = geteuid() == 0;
};

TEST(FormLoad, shouldEmptyTheBoxesWhenTheFileMayNotBeRead) {
    FakeForm f;
    writeFile(f.settingsPath(), "[settings]\r\nhostname=h\r\n");
    ASSERT_TRUE(QFile::setPermissions(f.folder.path(), QFile::ReadOther | QFile::ExeOther |
                                                           QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner));
    ASSERT_TRUE(QFile::setPermissions(f.settingsPath(), QFile::Permissions()));
    const FilesAsNobody nobody;
    f.form.Form_Load();
    EXPECT_EQ(f.form.Host.text(), QString());
    EXPECT_TRUE(f.ui.boxes.empty());
}

TEST(ComdSave, shouldSayWhereAndWhyASaveFailedAndNeverConfirmIt) {
    const QByteArray earlier = "[settings]\r\nhostname=earlier\r\n";
    const struct {
        const char* name;
        const char* folder;  // under a new one
        const char* why;
        bool asNobody;
    } cases[] = {
        {"no such folder", "missing", "No such file or directory", false},
        {"a folder named Settings.inf", "", "Is a directory", false},
        {"an unwritable folder", "", "Permission denied", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir dir;
        const QString folder =
            c.folder[0] != '\0' ? dir.filePath(QString::fromLatin1(c.folder)) : dir.path();
        const QString path = folder + QStringLiteral("/Settings.inf");
        if (c.asNobody) {
            writeFile(path, earlier);
            QFile::setPermissions(
                folder, QFile::ReadOther | QFile::ExeOther | QFile::ReadOwner | QFile::ExeOwner);
        } else if (c.folder[0] == '\0') {
            ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("Settings.inf")));
        }
        const QStringList before = QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        ScriptedWindowSystem ui;
        ScriptedIcmp icmp;
        FakeSocketLibrary winsock;
        FrmPing form({ui, icmp, winsock, folder});
        {
            std::optional<FilesAsNobody> nobody;
            if (c.asNobody) {
                nobody.emplace();
            }
            form.ComdSave_Click();
        }
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_TRUE(ui.boxes[0].prompt.contains(path));
        EXPECT_TRUE(ui.boxes[0].prompt.contains(QString::fromLatin1(c.why)))
            << ui.boxes[0].prompt.toStdString();
        EXPECT_EQ(ui.boxes[0].style, MsgBox::OkOnly | MsgBox::Critical);
        EXPECT_EQ(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
        if (c.asNobody) {
            EXPECT_EQ(readFile(path), earlier);
        }
    }
}

TEST(ComdSave, shouldKeepTheEarlierFileWhenTheDiskIsFull) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a small file system in a private mount namespace";
    }
    const QTemporaryDir dir;
    EXPECT_EXIT(
        {
            ScriptedWindowSystem ui;
            ScriptedIcmp icmp;
            FakeSocketLibrary winsock;
            FrmPing form({ui, icmp, winsock, dir.path()});
            const QString path = dir.filePath(QStringLiteral("Settings.inf"));
            const QByteArray folder = QFile::encodeName(dir.path());
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16k") != 0) {
                std::_Exit(2);
            }
            const QByteArray earlier = "[settings]\r\nhostname=earlier\r\ntimes=4\r\nbytes=32\r\n";
            writeFile(path, earlier);
            const int filler = open((folder + "/filler").constData(), O_WRONLY | O_CREAT, 0600);
            const std::vector<char> block(1024, 'f');
            while (write(filler, block.data(), block.size()) > 0) {
            }
            form.Host.setText(QString(8000, u'h'));
            form.ComdSave_Click();
            const bool kept = readFile(path) == earlier;
            const bool told = ui.boxes.size() == 1 && ui.boxes[0].style != MsgBox::OkOnly;
            std::_Exit(kept && told ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ComdSave, shouldMakeTheUsersConfigFolderAndSaveThereForTheNextStart) {
    const QTemporaryDir home;
    const SettingsFolder config{home.filePath(QStringLiteral(".config/sondrel-ping")), true};
    ScriptedWindowSystem ui;
    ScriptedIcmp icmp;
    FakeSocketLibrary winsock;
    FrmPing saved({ui, icmp, winsock, config});
    saved.Host.setText(QStringLiteral("10.0.0.1"));
    saved.ComdSave_Click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].prompt, QStringLiteral(u"已经保存参数"));
    EXPECT_EQ(readFile(config.path + QStringLiteral("/Settings.inf")),
              QByteArray("[settings]\r\nhostname=10.0.0.1\r\ntimes=4\r\nbytes=32\r\n"));

    FrmPing loaded({ui, icmp, winsock, config});
    loaded.Form_Load();
    EXPECT_EQ(loaded.Host.text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(loaded.SettingsPath, config.path + QStringLiteral("/Settings.inf"));
}

TEST(ComdSave, shouldWriteTheCurrentTextsDuringARunWhichThenGoesOn) {
    FakeForm f;
    f.form.Host.setText(QStringLiteral("127.0.0.1"));
    f.ui.atYield[1] = [&] { f.form.ComdSave_Click(); };
    f.icmp.answers = {ScriptedIcmp::reply(1), ScriptedIcmp::reply(1), ScriptedIcmp::reply(1),
                      ScriptedIcmp::reply(1)};
    f.form.cmdPing_Click();
    EXPECT_EQ(readFile(f.settingsPath()),
              QByteArray("[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n"));
    EXPECT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.icmp.sent.size(), 4u);
}

}  // namespace
