// The text written for each reply.

#include "form/frm_ping.h"
#include "ping/reply_status.h"
#include "report/checked.h"
#include "report/procedure.h"
#include "report/text.h"

void FrmPing::GetRCode() {
    report(u"in GetRCode").run([&](Procedure& s) {
        s([&] { ReplyStatusText.clear(); });
        for (const StatusText& row : kStatusTexts) {
            if (s.test([&] { return EchoReply.Status == row.status; })) {
                s([&] { ReplyStatusText = row.text; });
            }
        }
        s([&] { ui_.yield(); });
        if (closed_) {
            return;
        }
        if (s.test([&] { return !ReplyStatusText.empty(); })) {
            if (s.test([&] { return ReplyStatusText == u"Success"; })) {
                s([&] { TotalRtt = add32(TotalRtt, EchoReply.RoundTripTime); });
                s([&] {
                    appendStatus(u" Reply from " + ReplyAddressText + u": Bytes = " +
                                 decimal(EchoReply.DataSize) + u" RTT = " +
                                 decimal(EchoReply.RoundTripTime) + u"ms TTL = " +
                                 decimal(EchoReply.Options.Ttl) + u"\r\n");
                });
                return;
            }
            s([&] { StatusShown = 1; });
            s([&] { appendStatus(ReplyStatusText); });
            return;
        }
        s([&] { StatusShown = 1; });
        s([&] { appendStatus({}); });
    });
}
