#include "report/procedure.h"

#include "report/text.h"

std::u16string procedureErrorText(std::u16string_view label, const ProcedureFailure& failure) {
    return u"Error " + decimal(failure.Number) + u": " + failure.Description + u"\r\n" +
           std::u16string(label) + u"\r\nThe error occured at line: " + decimal(failure.Line);
}

int ReportProcedureError(WindowSystem& ws, std::u16string_view label,
                         const ProcedureFailure& failure) {
    return ws.messageBox(procedureErrorText(label, failure),
                         MsgBox::AbortRetryIgnore | MsgBox::Critical, u"Error");
}

bool Procedure::answer(const ProcedureFailure& failure) {
    if (ws_ == nullptr) {
        return false;
    }
    switch (ReportProcedureError(*ws_, label_, failure)) {
        case MsgBox::Retry:
            return true;
        case MsgBox::Ignore:
            return false;
        case MsgBox::Abort:
            ws_->resetMousePointer();
            onAbort_();
            throw Leave{};
        default:
            throw Leave{};
    }
}
