#include "platform/profile_file.h"

#include "platform/locale_codec.h"

#include <QString>

#include <algorithm>

namespace {

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
