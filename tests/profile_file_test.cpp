#include "platform/profile_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

namespace {

using namespace std::string_literals;

struct Profile {
    QTemporaryDir dir;
    std::string path = QDir(dir.path()).filePath(QStringLiteral("Settings.inf")).toStdString();

    void write(const std::string& content) const {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), static_cast<qint64>(content.size()));
    }
    std::string read(const char* key, const char* section = "settings") const {
        char buffer[1024];
        const uint32_t n =
            GetPrivateProfileStringA(section, key, "dflt", buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(buffer[n], '\0');
        return std::string(buffer, n);
    }
};

std::string noise(std::size_t size) {
    std::minstd_rand next(20240601);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(next());
    }
    return bytes;
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
        {"binary garbage", noise(1 << 16), "hostname", "dflt"},
        {"NUL bytes kept", "[settings]\nhostname=a\0b\n"s, "hostname", "a\0b"s},
        {"bytes invalid in UTF-8 kept", "[settings]\nhostname=\xFF\xC3(\n", "hostname",
         "\xFF\xC3("},
        {"10 MB, the key in the first MiB", "[settings]\nhostname=h\n" + mib10, "hostname", "h"},
        {"10 MB, the key past the first MiB", "[settings]\n" + mib10 + "\nhostname=h\n", "hostname",
         "dflt"},
    };
    for (const auto& c : cases) {
        Profile p;
        p.write(c.content);
        EXPECT_EQ(p.read(c.key), c.value) << c.name;
    }
}

TEST(ProfileFile, shouldGiveTheDefaultForAnythingButARegularFile) {
    Profile p;
    EXPECT_EQ(p.read("hostname"), "dflt");  // no file
    ASSERT_TRUE(QDir(p.dir.path()).mkdir(QStringLiteral("Settings.inf")));
    EXPECT_EQ(p.read("hostname"), "dflt");  // a folder

    Profile fifo;
    ASSERT_EQ(mkfifo(fifo.path.c_str(), 0600), 0);
    EXPECT_EQ(fifo.read("hostname"), "dflt");  // and no wait for a writer

    // Links to them too; a FIFO without a writer, /dev/zero without end.
    Profile zero;
    ASSERT_EQ(symlink("/dev/zero", zero.path.c_str()), 0);
    EXPECT_EQ(zero.read("hostname"), "dflt");
    Profile toFifo;
    ASSERT_EQ(symlink(fifo.path.c_str(), toFifo.path.c_str()), 0);
    EXPECT_EQ(toFifo.read("hostname"), "dflt");

    char buffer[8];
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "dflt", buffer, sizeof buffer, "/dev/zero"), 4u);
    EXPECT_EQ(
        GetPrivateProfileStringA("s", "k", "longer default", buffer, sizeof buffer, "/nonexistent"),
        7u);
    EXPECT_STREQ(buffer, "longer ");
}

}  // namespace
