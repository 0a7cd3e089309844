#pragma once

#include <cstdint>
#include <string>

// What a failing statement raises and a guarded procedure catches.
struct ProcedureFailure {
    int32_t Number = 0;
    std::u16string Description;
    int32_t Line = 0;  // no statement carries a line number
};

// The kinds of unexpected failure that the program's own checked helpers raise.
enum class FailureKind {
    InvalidArgument,
    Overflow,
    DivisionByZero,
    TypeMismatch,
};

ProcedureFailure failureOf(FailureKind kind);
[[noreturn]] void raise(FailureKind kind);
