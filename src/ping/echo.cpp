// The echo exchange with the ICMP helper.

#include "form/frm_ping.h"
#include "report/checked.h"
#include "report/procedure.h"

namespace {

constexpr uint32_t kEchoTimeoutMs = 2700;

QString dottedAddress(const uint8_t (&address)[4]) {
    return QString::number(address[0]) + u'.' + QString::number(address[1]) + u'.' +
           QString::number(address[2]) + u'.' + QString::number(address[3]);
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
        s([&] {
            const int16_t size = toInt16(EchoData.length());
            EchoResult = static_cast<int16_t>(icmp_.IcmpSendEcho(
                IcmpHandle, DestAddress, EchoData.bytes(), static_cast<uint16_t>(size),
                &EchoOptions, &EchoReply, sizeof(EchoReply), kEchoTimeoutMs));
        });
        if (s.test([&] { return EchoResult != 0; })) {
            if (s.test([&] { return StatusShown == 1; })) {
                s([&] { StatusShown = 0; });
                return;
            }
            s([&] { ReplyCount = add16(ReplyCount, 1); });
            s([&] { ReplyAddressText = dottedAddress(EchoReply.Address); });
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
