#include "report/failure.h"

namespace {

struct KindRow {
    FailureKind kind;
    int32_t number;
    const char* description;
};

constexpr KindRow kKinds[] = {
    {FailureKind::InvalidArgument, 5, "Invalid argument"},
    {FailureKind::Overflow, 6, "Overflow: the number does not fit its variable"},
    {FailureKind::DivisionByZero, 11, "Division by zero"},
    {FailureKind::TypeMismatch, 13, "Type mismatch: the text is not a number"},
};

}  // namespace

ProcedureFailure failureOf(FailureKind kind) {
    for (const KindRow& row : kKinds) {
        if (row.kind == kind) {
            return {row.number, QString::fromLatin1(row.description), 0};
        }
    }
    return {0, QString(), 0};
}

void raise(FailureKind kind) {
    throw failureOf(kind);
}
