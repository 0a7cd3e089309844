#pragma once

#include "platform/window_system.h"
#include "report/failure.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>

// Composes the error report's text and shows it; returns the answer.
std::u16string procedureErrorText(std::u16string_view label, const ProcedureFailure& failure);
int ReportProcedureError(WindowSystem& ws, std::u16string_view label,
                         const ProcedureFailure& failure);

// The failure mode of one run of a procedure, chosen at its first statement.
// Each later statement runs through operator(), which catches only
// ProcedureFailure: report mode asks the user (Retry runs the statement
// again, Ignore goes on, Abort calls onAbort and leaves the procedure), skip
// mode goes on.
//
//   Procedure::report(ws, u"in Name", onAbort).run([&](Procedure& s) {
//       s([&] { ...one statement... });
//   });
class Procedure {
public:
    static Procedure report(WindowSystem& ws, std::u16string_view label,
                            std::function<void()> onAbort) {
        return Procedure(&ws, label, std::move(onAbort));
    }
    static Procedure skip() { return Procedure(nullptr, {}, {}); }

    // Leaving the procedure unwinds to here and no further.
    template <class Body>
    void run(Body&& body) {
        try {
            body(*this);
        } catch (const Leave&) {
        }
    }

    template <class Statement>
    void operator()(Statement&& statement) {
        for (;;) {
            try {
                statement();
                return;
            } catch (const ProcedureFailure& failure) {
                if (!answer(failure)) {
                    return;
                }
            }
        }
    }

    // A conditional's test as one statement. A test that fails and is passed
    // over counts as true: the first branch is entered.
    template <class Condition>
    bool test(Condition&& condition) {
        bool outcome = true;
        (*this)([&] { outcome = condition(); });
        return outcome;
    }

private:
    struct Leave {};

    Procedure(WindowSystem* ws, std::u16string_view label, std::function<void()> onAbort)
        : ws_(ws), label_(label), onAbort_(std::move(onAbort)) {}

    // True to run the statement again; false to go on; throws Leave.
    bool answer(const ProcedureFailure& failure);

    WindowSystem* ws_;  // null in skip mode
    std::u16string_view label_;
    std::function<void()> onAbort_;
};
