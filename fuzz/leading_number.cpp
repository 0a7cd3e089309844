// leadingNumber on any text (the bytes as UTF-16 code units, little-endian):
// a finite number, or the overflow failure.

#include "form/number_input.h"
#include "report/failure.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    try {
        if (!std::isfinite(leadingNumber(text))) {
            std::abort();
        }
    } catch (const ProcedureFailure& failure) {
        if (failure.Number != failureOf(FailureKind::Overflow).Number) {
            std::abort();
        }
    }
    return 0;
}
