// localeNumber on any text, by the symbols of three locales (the first byte
// picks one): a finite number from a text with a digit, or the type mismatch
// failure.

#include "form/number_input.h"
#include "report/failure.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const NumberSymbols symbols[] = {{u".", u""}, {u".", u","}, {u",", u"."}};
    const NumberSymbols& chosen = symbols[data[0] % 3];
    std::u16string text;  // the rest as UTF-16 code units, little-endian
    for (size_t i = 1; i + 1 < size; i += 2) {
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    try {
        const double count = localeNumber(text, chosen);
        const bool digit = std::any_of(text.begin(), text.end(),
                                       [](char16_t c) { return c >= u'0' && c <= u'9'; });
        if (!std::isfinite(count) || !digit) {
            std::abort();
        }
    } catch (const ProcedureFailure& failure) {
        if (failure.Number != failureOf(FailureKind::TypeMismatch).Number) {
            std::abort();
        }
    }
    return 0;
}
