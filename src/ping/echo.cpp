// The echo exchange with the ICMP helper.

#include "form/frm_ping.h"
#include "report/checked.h"
#include "report/procedure.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

constexpr uint32_t kEchoTimeoutMs = 2700;

QString dottedAddress(const uint8_t (&address)[4]) {
    return QString::number(address[0]) + u'.' + QString::number(address[1]) + u'.' +
           QString::number(address[2]) + u'.' + QString::number(address[3]);
}

// The short form: ::1, 2001:db8::1.
QString ipv6Text(const uint8_t (&address)[16]) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address, text, sizeof text);
    return QString::fromLatin1(text);
}

}  // namespace

void FrmPing::vbIcmpCreateFile() {
    report(u"in vbIcmpCreateFile").run([&](Procedure& s) {
        s([&] { IcmpHandle = icmp_.IcmpCreateFile(); });
        // Without a word why, a machine that grants no ICMP socket would show
        // nothing but time-outs.
        if (s.test([&] { return IcmpHandle == IcmpHelper::kInvalidHandle; })) {
            s([&] { appendStatus(QString::fromStdString(icmp_.openFailure())); });
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
                s([&] { ReplyAddressText = dottedAddress(EchoReply.Address); });
            }
            s([&] { GetRCode(); });
            return;
        }
        s([&] { appendStatus(QStringLiteral(" Request Timeout\r\n")); });
    });
}

void FrmPing::vbIcmpCloseHandle() {
    report(u"in vbIcmpCloseHandle").run([&](Procedure& s) {
        s([&] { icmp_.IcmpCloseHandle(IcmpHandle); });
    });
}
