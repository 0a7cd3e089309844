// leadingNumber on any text: a finite number, or the overflow failure.

#include "form/number_input.h"
#include "report/failure.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
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
