// The echo exchange with the ICMP library, and the text written for each reply.

#include "form/frm_ping.h"
#include "form/reply_status.h"
#include "platform/address_text.h"
#include "report/checked.h"
#include "report/procedure.h"
#include "report/text.h"

namespace {

constexpr uint32_t kEchoTimeoutMs = 2700;

// Why there is no echo handle, in lines that fit the results box: without a
// word, a machine that grants no ICMP would show nothing but time-outs.
std::u16string openFailureText(const IcmpOpenFailure& failure) {
    using Step = IcmpOpenFailure::Step;
    const std::u16string reason = failure.error != 0 ? failure.reason : u"it ended at once";
    if (failure.step == Step::HelperFile) {
        return u"The ICMP helper of this program is missing:\r\n  " + failure.helperPath + u"\r\n";
    }
    if (failure.step == Step::HelperStart) {
        return u"The ICMP helper did not start (" + reason + u"):\r\n  " + failure.helperPath +
               u"\r\n";
    }
    if (failure.notPermitted) {
        return u"ICMP is not permitted for this program. To permit it, run:\r\n"
               u"  sudo setcap cap_net_raw,cap_setpcap=p \\\r\n    " +
               failure.helperPath +
               u"\r\nor let every group open ping sockets:\r\n"
               u"  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\r\n";
    }
    return u"No ICMP socket could be opened: " + reason + u".\r\n";
}

// 198.18.0.1: the four bytes in network order.
std::u16string dottedText(const uint8_t (&address)[4]) {
    return decimal(address[0]) + u'.' + decimal(address[1]) + u'.' + decimal(address[2]) + u'.' +
           decimal(address[3]);
}

}  // namespace

void FrmPing::vbIcmpCreateFile() {
    report(u"in vbIcmpCreateFile").run([&](Procedure& s) {
        s([&] {
            IcmpHandle = DestFamily == AddressFamily::Inet6 ? icmp_.Icmp6CreateFile()
                                                            : icmp_.IcmpCreateFile();
        });
        if (s.test([&] { return IcmpHandle == IcmpLibrary::kInvalidHandle; })) {
            s([&] { appendStatus(openFailureText(icmp_.openFailure())); });
            s([&] { NetErrorFlag = 1; });
        }
    });
}

void FrmPing::vbIcmpSendEcho() {
    report(u"in vbIcmpSendEcho").run([&](Procedure& s) {
        s([&] { ui_.yield(); });
        if (closed_) {
            return;
        }
        const bool ipv6 = DestFamily == AddressFamily::Inet6;
        s([&] {
            const auto size = static_cast<uint16_t>(toInt16(EchoData.length()));
            EchoResult = static_cast<int16_t>(
                ipv6 ? icmp_.Icmp6SendEcho2(IcmpHandle, &DestAddress6, EchoData.bytes(), size,
                                            &EchoOptions, &EchoReply6, sizeof(EchoReply6),
                                            kEchoTimeoutMs)
                     : icmp_.IcmpSendEcho(IcmpHandle, DestAddress, EchoData.bytes(), size,
                                          &EchoOptions, &EchoReply, sizeof(EchoReply),
                                          kEchoTimeoutMs));
        });
        if (s.test([&] { return EchoResult != 0; })) {
            if (s.test([&] { return StatusShown == 1; })) {
                s([&] { StatusShown = 0; });
                return;
            }
            s([&] { ReplyCount = add16(ReplyCount, 1); });
            if (ipv6) {
                s([&] { ReplyAddressText = ipv6Text(EchoReply6.Address); });
                // What GetRCode reads, the hop limit as the TTL.
                s([&] {
                    EchoReply.Status = EchoReply6.Status;
                    EchoReply.RoundTripTime = EchoReply6.RoundTripTime;
                    EchoReply.DataSize = EchoReply6.DataSize;
                    EchoReply.Options.Ttl = EchoReply6.HopLimit;
                });
            } else {
                s([&] { ReplyAddressText = dottedText(EchoReply.Address); });
            }
            s([&] { GetRCode(); });
            return;
        }
        s([&] { appendStatus(u" Request Timeout\r\n"); });
    });
}

void FrmPing::vbIcmpCloseHandle() {
    report(u"in vbIcmpCloseHandle").run([&](Procedure& s) {
        s([&] { icmp_.IcmpCloseHandle(IcmpHandle); });
    });
}

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
