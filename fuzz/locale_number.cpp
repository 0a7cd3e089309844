// localeNumber on any text: a finite number from a text with a digit, or the
// type mismatch failure.

#include "form/number_input.h"
#include "report/failure.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const double count = localeNumber(text);
        const bool digit =
            std::any_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
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
