#include "report/failure.h"

#include <cstddef>
#include <iterator>

namespace {

struct KindRow {
    FailureKind kind;
    int32_t number;
    const char16_t* description;
};

// In the order of FailureKind.
constexpr KindRow kKinds[] = {
    {FailureKind::InvalidArgument, 5, u"Invalid argument"},
    {FailureKind::Overflow, 6, u"Overflow: the number does not fit its variable"},
    {FailureKind::DivisionByZero, 11, u"Division by zero"},
    {FailureKind::TypeMismatch, 13, u"Type mismatch: the text is not a number"},
};

consteval bool inKindOrder() {
    for (std::size_t i = 0; i < std::size(kKinds); ++i) {
        if (static_cast<std::size_t>(kKinds[i].kind) != i) {
            return false;
        }
    }
    return true;
}
static_assert(inKindOrder());

}  // namespace

ProcedureFailure failureOf(FailureKind kind) {
    const KindRow& row = kKinds[static_cast<std::size_t>(kind)];
    return {row.number, row.description, 0};
}

void raise(FailureKind kind) {
    throw failureOf(kind);
}
