#include "platform/settings_store_linux.h"

#include "platform/locale_codec.h"
#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr size_t kReadLimit = 1 << 20;

constexpr std::string_view kFileName = "/Settings.inf";
constexpr std::string_view kOwnFolder = "/sondrel-ping";

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

std::u16string reason(int error) {
    return decodeLocale(std::strerror(error));
}

bool writeAll(int fd, std::string_view content) {
    const char* next = content.data();
    ssize_t left = std::ssize(content);
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
int makeFolders(const fs::path& folder) {
    std::error_code error;
    if (folder.empty() || fs::exists(folder, error)) {
        return 0;
    }
    if (const int made = makeFolders(folder.parent_path()); made != 0) {
        return made;
    }
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

bool isRegularFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

bool absolute(std::string_view path) {
    return path.starts_with('/');
}

// The system's own folders, where packages put programs: a program there is
// installed, whoever runs it and whatever files its package still has.
bool systemFolder(std::string_view folder) {
    return folder.starts_with("/usr/") || folder.starts_with("/opt/") || folder == "/bin" ||
           folder == "/sbin";
}

// A new file in the target's folder, with a name of its own: created with
// 0666 so that the umask applies, as to any file a program creates.
int createTemporary(const std::string& target, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != sizeof random) {
            return -1;
        }
        char digits[16];
        name =
            target + '.' + std::string(digits, std::to_chars(digits, digits + 16, random, 36).ptr);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

LinuxSettingsStore::LinuxSettingsStore(const std::string& programFolder,
                                       std::string_view xdgConfigHome, std::string_view home,
                                       std::string_view xdgConfigDirs) {
    const std::string own = std::string(kOwnFolder) + std::string(kFileName);
    const std::string beside = programFolder + std::string(kFileName);
    // Installed, the program's folder is its prefix's, never a settings
    // folder, whoever may write there: no package owns a file there, and
    // every user's window would read it.
    const std::string prefix = fs::path(programFolder).parent_path();
    const bool installed = systemFolder(programFolder) ||
                           isRegularFile(prefix + "/share/applications/sondrel-ping.desktop");
    if (!installed && access(programFolder.c_str(), W_OK) == 0) {
        writePath_ = beside;
        readOrder_ = {beside};
        return;
    }
    // Relative values are to be ignored, as the XDG base directory rules say.
    const std::string config = absolute(xdgConfigHome) ? std::string(xdgConfigHome)
                               : absolute(home)        ? std::string(home) + "/.config"
                                                       : std::string();
    if (!config.empty()) {
        writePath_ = config + own;
        readOrder_.push_back(writePath_);
    }
    if (!installed) {
        writePath_ = config.empty() ? beside : writePath_;
        readOrder_.push_back(beside);
    }
    const std::string_view dirs = xdgConfigDirs.empty() ? "/etc/xdg" : xdgConfigDirs;
    for (std::string_view rest = dirs; !rest.empty();) {
        const std::string_view folder = rest.substr(0, rest.find(':'));
        if (absolute(folder)) {
            readOrder_.push_back(std::string(folder) + own);
        }
        rest.remove_prefix(std::min(folder.size() + 1, rest.size()));
    }
    // Where the installation put the defaults: /etc for the prefix /usr.
    if (installed) {
        readOrder_.push_back((prefix == "/usr" ? "" : prefix) + "/etc/xdg" + own);
    }
}

std::string LinuxSettingsStore::readBytes() const {
    for (const std::string& path : readOrder_) {
        if (isRegularFile(path)) {
            return path;
        }
    }
    return writePath_;
}

std::u16string LinuxSettingsStore::readPath() const {
    return decodeLocale(readBytes());
}

std::u16string LinuxSettingsStore::writePath() const {
    return decodeLocale(writePath_);
}

uint32_t LinuxSettingsStore::GetPrivateProfileStringA(const char* section, const char* key,
                                                      const char* defaultValue, char* buffer,
                                                      uint32_t size, const char* file) {
    if (size == 0) {
        return 0;
    }
    // The read path as the form has it, in the locale's encoding: its bytes.
    const std::string path = file == localeBytes(readPath()) ? readBytes() : file;
    const std::optional<std::string> content = readRegularFile(path.c_str());
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

std::u16string LinuxSettingsStore::replace(const std::u16string& path, std::string_view content) {
    const std::string target = path == writePath() ? writePath_ : localeBytes(path);
    if (target.empty()) {
        return reason(ENOENT);  // a path the locale cannot hold
    }
    if (const int error = makeFolders(fs::path(target).parent_path()); error != 0) {
        return reason(error);
    }
    std::string temporary;
    const int fd = createTemporary(target, temporary);
    if (fd < 0) {
        return reason(errno);
    }
    // A regular file keeps its mode; a link is never followed for it.
    struct stat old {};
    const bool keepMode = lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    int error = 0;
    if ((keepMode && fchmod(fd, old.st_mode & 07777) != 0) || !writeAll(fd, content) ||
        fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return reason(error);
    }
    return {};
}
