#pragma once

#include <string_view>

// text without the characters of blanks around it.
template <class Char>
std::basic_string_view<Char> trimmed(std::basic_string_view<Char> text,
                                     std::basic_string_view<Char> blanks) {
    const auto begin = text.find_first_not_of(blanks);
    return begin == text.npos ? text.substr(0, 0)
                              : text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}
