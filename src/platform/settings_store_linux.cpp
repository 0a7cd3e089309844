#include "platform/settings_store_linux.h"

#include "platform/profile_file.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr size_t kReadLimit = 1 << 20;

const QString kFileName = QStringLiteral("/Settings.inf");
const QString kOwnFolder = QStringLiteral("/sondrel-ping");

// A FIFO, a device or a folder is no settings file: never block on it or read
// it without bound.
std::optional<std::string> readRegularFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string bytes(std::min<size_t>(static_cast<size_t>(info.st_size), kReadLimit), '\0');
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        content = std::move(bytes);
    }
    close(fd);
    return content;
}

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, QByteArrayView content) {
    const char* next = content.data();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = write(fd, next, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        next += n;
        left -= n;
    }
    return true;
}

// Missing folders are made private to the user, as configuration folders are.
int makeFolders(const QByteArray& folder) {
    struct stat info {};
    if (folder.isEmpty() || stat(folder.constData(), &info) == 0) {
        return 0;
    }
    if (const int error = makeFolders(folder.left(folder.lastIndexOf('/'))); error != 0) {
        return error;
    }
    return mkdir(folder.constData(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// A new file in the target's folder, with a name of its own: created with
// 0666 so that the umask applies, as to any file a program creates.
int createTemporary(const QByteArray& target, QByteArray& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != sizeof random) {
            return -1;
        }
        name = target + '.' + QByteArray::number(random, 36);
        const int fd = open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

LinuxSettingsStore::LinuxSettingsStore(const QString& programFolder, const QString& xdgConfigHome,
                                       const QString& home, const QString& xdgConfigDirs)
    : readOrder_{programFolder + kFileName} {
    if (access(QFile::encodeName(programFolder).constData(), W_OK) == 0) {
        return;
    }
    // Relative values are to be ignored, as the XDG base directory rules say.
    const QString config = QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome
                           : QDir::isAbsolutePath(home)        ? home + QStringLiteral("/.config")
                                                               : QString();
    if (!config.isEmpty()) {
        readOrder_.prepend(config + kOwnFolder + kFileName);
    }
    const QString dirs = xdgConfigDirs.isEmpty() ? QStringLiteral("/etc/xdg") : xdgConfigDirs;
    for (const QString& dir : dirs.split(u':')) {
        if (QDir::isAbsolutePath(dir)) {
            readOrder_.append(dir + kOwnFolder + kFileName);
        }
    }
}

QString LinuxSettingsStore::readPath() const {
    for (const QString& path : readOrder_) {
        struct stat info {};
        if (stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)) {
            return path;
        }
    }
    return readOrder_.front();
}

uint32_t LinuxSettingsStore::GetPrivateProfileStringA(const char* section, const char* key,
                                                      const char* defaultValue, char* buffer,
                                                      uint32_t size, const char* file) {
    if (size == 0) {
        return 0;
    }
    const std::optional<std::string> content = readRegularFile(file);
    std::optional<std::string_view> value;
    if (content) {
        value = findProfileValue(*content, section, key);
    }
    const std::string_view chosen = value ? *value : std::string_view(defaultValue);
    const size_t count = std::min<size_t>(chosen.size(), size - 1);
    std::memcpy(buffer, chosen.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

QString LinuxSettingsStore::replace(const QString& path, QByteArrayView content) {
    const QByteArray target = QFile::encodeName(path);
    if (const int error = makeFolders(target.left(target.lastIndexOf('/'))); error != 0) {
        return reason(error);
    }
    QByteArray temporary;
    const int fd = createTemporary(target, temporary);
    if (fd < 0) {
        return reason(errno);
    }
    // A regular file keeps its mode; a link is never followed for it.
    struct stat old {};
    bool written = (lstat(target.constData(), &old) != 0 || !S_ISREG(old.st_mode) ||
                    fchmod(fd, old.st_mode & 07777) == 0) &&
                   writeAll(fd, content) && fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(temporary.constData(), target.constData()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary.constData());
        return reason(error);
    }
    return {};
}
