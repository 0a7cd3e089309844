#include "platform/profile_file.h"

#include "platform/blanks.h"
#include "platform/locale_codec.h"

#include <algorithm>
#include <cwctype>

namespace {

std::string_view trimBlanks(std::string_view text) {
    return trimmed<char>(text, " \t");
}

// Names are compared as texts, so that a multi-byte character's second byte
// never matches a letter.
bool sameName(std::string_view a, std::string_view b) {
    const auto lower = [](char16_t c) { return std::towlower(static_cast<std::wint_t>(c)); };
    const std::u16string x = decodeLocale(trimBlanks(a));
    const std::u16string y = decodeLocale(trimBlanks(b));
    return std::ranges::equal(x, y, {}, lower, lower);
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
