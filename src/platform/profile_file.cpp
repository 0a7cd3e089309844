#include "platform/profile_file.h"

#include "platform/locale_codec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr size_t kReadLimit = 1 << 20;

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

std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Names are compared as texts, so that a multi-byte character's second byte
// never matches a letter.
bool sameName(std::string_view a, std::string_view b) {
    return decodeLocale(trimBlanks(a)).compare(decodeLocale(trimBlanks(b)), Qt::CaseInsensitive) ==
           0;
}

}  // namespace

std::optional<std::string_view> findProfileValue(std::string_view content, std::string_view section,
                                                 std::string_view key) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (content.starts_with(kByteOrderMark)) {
        content.remove_prefix(kByteOrderMark.size());
    }
    bool inSection = false;
    while (!content.empty()) {
        const size_t end = std::min(content.find_first_of("\r\n"), content.size());
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end);
        if (content.starts_with("\r\n")) {
            content.remove_prefix(2);
        } else if (!content.empty()) {
            content.remove_prefix(1);
        }
        const std::string_view trimmed = trimBlanks(line);
        if (trimmed.starts_with(';')) {
            continue;
        }
        if (trimmed.starts_with('[')) {
            const size_t close = trimmed.find(']');
            if (close != std::string_view::npos) {
                if (inSection) {
                    return std::nullopt;  // only the first matching section counts
                }
                inSection = sameName(trimmed.substr(1, close - 1), section);
                continue;
            }
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string_view::npos &&
            sameName(line.substr(0, equals), key)) {
            return line.substr(equals + 1);
        }
    }
    return std::nullopt;
}

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* file) {
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
