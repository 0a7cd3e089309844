#include "platform/replace_file.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

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

}  // namespace

QString replaceFile(const QString& path, QByteArrayView content) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    struct stat old {};
    const mode_t mode = stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool written = fchmod(fd, mode) == 0 && writeAll(fd, content) && fsync(fd) == 0;
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
        return QString::fromLocal8Bit(std::strerror(error));
    }
    return {};
}
