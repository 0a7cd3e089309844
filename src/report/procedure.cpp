#include "report/procedure.h"

QString procedureErrorText(QStringView label, const ProcedureFailure& failure) {
    return QStringLiteral("Error ") + QString::number(failure.Number) + QStringLiteral(": ") +
           failure.Description + QStringLiteral("\r\n") + label.toString() +
           QStringLiteral("\r\n") + QStringLiteral("The error occured at line: ") +
           QString::number(failure.Line);
}

int ReportProcedureError(WindowSystem& ws, QStringView label, const ProcedureFailure& failure) {
    return ws.messageBox(procedureErrorText(label, failure),
                         MsgBox::AbortRetryIgnore | MsgBox::Critical, QStringLiteral("Error"));
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
