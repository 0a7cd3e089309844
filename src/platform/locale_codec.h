#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversions between the program's texts and the locale's character
// encoding, which every text handed to the system is in (host names, the
// settings file), and the locale's rules for numbers.

// Nothing when a character has no encoding in the locale's character set.
std::optional<std::string> encodeLocale(std::u16string_view text);
// Bytes that are invalid in the locale's encoding become U+FFFD.
std::u16string decodeLocale(std::string_view bytes);

// How the user's locale writes numbers: its decimal point, and the separator
// of its digit groups (empty where it has none).
struct NumberSymbols {
    std::u16string decimalPoint;
    std::u16string groupSeparator;
};
NumberSymbols userNumberSymbols();

// encodeLocale for a system call: a text the locale cannot hold gives the
// empty text, which matches no name, so that no substitute reaches the system.
inline std::string localeBytes(std::u16string_view text) {
    return encodeLocale(text).value_or(std::string());
}
