#include "report/text.h"

#include <charconv>

std::u16string decimal(int64_t value) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    return {std::begin(digits), end};
}
