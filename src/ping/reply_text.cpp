// The text written for each reply.

#include "form/frm_ping.h"
#include "report/checked.h"
#include "report/procedure.h"

namespace {

struct StatusRow {
    int32_t status;
    const char* text;
};

// Compared in this order; the misspellings are the program's own. Transit
// TTL expiry has no text.
constexpr StatusRow kStatusTexts[] = {
    {IpStatus::Success, "Success"},
    {IpStatus::BufferTooSmall, "Buffer too Small"},
    {IpStatus::DestNetUnreachable, "Destination Unreahable"},
    {IpStatus::DestHostUnreachable, "Destination Host Not Reachable"},
    {IpStatus::DestProtUnreachable, "Destination Protocol Not Reachable"},
    {IpStatus::DestPortUnreachable, "Destination Port Not Reachable"},
    {IpStatus::NoResources, "No Resources Available"},
    {IpStatus::BadOption, "Bad Option"},
    {IpStatus::HardwareError, "Hardware Error"},
    {IpStatus::PacketTooBig, "Packet too Big"},
    {IpStatus::RequestTimedOut, "Requested Timed Out"},
    {IpStatus::BadRequest, "Bad Request"},
    {IpStatus::BadRoute, "Bad Route"},
    {IpStatus::TtlExpiredReassembly, "TTL Exprd Reassemb"},
    {IpStatus::ParameterProblem, "Parameter Problem"},
    {IpStatus::SourceQuench, "Source Quench"},
    {IpStatus::OptionTooBig, "Option too Big"},
    {IpStatus::BadDestination, "Bad Destination"},
    {IpStatus::AddressDeleted, "Address Deleted"},
    {IpStatus::SpecificMtuChange, "Spec MTU Change"},
    {IpStatus::MtuChange, "MTU Change"},
    {IpStatus::Unload, "Unload"},
    {IpStatus::GeneralFailure, "General Failure"},
};

const QString kSuccess = QStringLiteral("Success");

}  // namespace

void FrmPing::GetRCode() {
    report(u"in GetRCode").run([&](Procedure& s) {
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
