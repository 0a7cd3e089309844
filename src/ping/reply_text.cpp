// The text written for each reply.

#include "report/numbers.h"
#include "report/procedure.h"
#include "ui/frm_ping.h"

namespace {

struct StatusRow {
    int32_t status;
    const char* text;
};

// Compared in this order; the misspellings are the program's own.
constexpr StatusRow kStatusTexts[] = {
    {0, "Success"},
    {11001, "Buffer too Small"},
    {11002, "Destination Unreahable"},
    {11003, "Destination Host Not Reachable"},
    {11004, "Destination Protocol Not Reachable"},
    {11005, "Destination Port Not Reachable"},
    {11006, "No Resources Available"},
    {11007, "Bad Option"},
    {11008, "Hardware Error"},
    {11009, "Packet too Big"},
    {11010, "Requested Timed Out"},
    {11011, "Bad Request"},
    {11012, "Bad Route"},
    {11014, "TTL Exprd Reassemb"},
    {11015, "Parameter Problem"},
    {11016, "Source Quench"},
    {11017, "Option too Big"},
    {11018, "Bad Destination"},
    {11019, "Address Deleted"},
    {11020, "Spec MTU Change"},
    {11021, "MTU Change"},
    {11022, "Unload"},
    {11050, "General Failure"},
};

const QString kSuccess = QStringLiteral("Success");

}  // namespace

void FrmPing::GetRCode() {
    Procedure::report(ui_, u"in GetRCode").run([&](Procedure& s) {
        s([&] { ReplyStatusText.clear(); });
        for (const StatusRow& row : kStatusTexts) {
            if (s.test([&] { return EchoReply.Status == row.status; })) {
                s([&] { ReplyStatusText = QString::fromLatin1(row.text); });
            }
        }
        s([&] { ui_.yield(); });
        if (closed_) {
            return;
        }
        if (s.test([&] { return !ReplyStatusText.isEmpty(); })) {
            if (s.test([&] { return ReplyStatusText == kSuccess; })) {
                s([&] { TotalRtt = add32(TotalRtt, EchoReply.RoundTripTime); });
                s([&] {
                    appendStatus(QStringLiteral(" Reply from ") + ReplyAddressText +
                                 QStringLiteral(": Bytes = ") +
                                 QString::number(EchoReply.DataSize) + QStringLiteral(" RTT = ") +
                                 QString::number(EchoReply.RoundTripTime) +
                                 QStringLiteral("ms TTL = ") +
                                 QString::number(EchoReply.Options.Ttl) + QStringLiteral("\r\n"));
                });
                return;
            }
            s([&] { StatusShown = 1; });
            s([&] { appendStatus(ReplyStatusText); });
            return;
        }
        s([&] { StatusShown = 1; });
        s([&] { appendStatus(QString()); });
    });
}
