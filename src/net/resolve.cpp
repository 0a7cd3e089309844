// Turning the host text into the destination address.

#include "form/frm_ping.h"
#include "net/host_name.h"
#include "report/failure.h"
#include "report/procedure.h"

#include <cstring>

namespace {

constexpr qsizetype kHostPadding = 64;

// Trim: blanks only, not other white space.
QString trimBlanks(QStringView text) {
    while (text.startsWith(u' ')) {
        text = text.sliced(1);
    }
    while (text.endsWith(u' ')) {
        text.chop(1);
    }
    return text.toString();
}

QString rightPart(const QString& text, qsizetype count) {
    if (count < 0) {
        raise(FailureKind::InvalidArgument);
    }
    return text.right(count);
}

}  // namespace

void FrmPing::vbGetHostByName() {
    report(u"in vbGetHostByName").run([&](Procedure& s) {
        QString nuls;
        s([&] { Host.setText(trimBlanks(Host.text())); });
        s([&] { nuls = QString(kHostPadding, QChar(u'\0')); });
        s([&] { Host.setText(Host.text() + rightPart(nuls, kHostPadding - Host.text().size())); });
        s([&] { HostEntryPtr = winsock_.gethostbyname(hostNameBytes(Host.text()).constData()); });
        if (s.test([&] { return HostEntryPtr == nullptr; })) {
            s([&] {
                const int32_t code = winsock_.WSAGetLastError();
                NetErrorText = QStringLiteral("Winsock Error") +
                               (code >= 0 ? QStringLiteral(" ") : QString()) +
                               QString::number(code);
            });
            s([&] { txtStatus.setText(NetErrorText); });
            s([&] { NetErrorFlag = 1; });
            return;
        }
        // Copied at once: the library owns the answer.
        s([&] { HostEntry = *HostEntryPtr; });
        s([&] { AddrListPtr = HostEntry.h_addr_list; });
        s([&] { FirstAddrPtr = AddrListPtr[0]; });
        if (s.test([&] { return HostEntry.h_addrtype == AddressFamily::Inet6; })) {
            s([&] {
                std::memcpy(DestAddress6.sin6_addr, FirstAddrPtr, sizeof DestAddress6.sin6_addr);
            });
            s([&] { DestAddress6.sin6_scope_id = HostEntry.h_scope_id; });
            s([&] { DestFamily = AddressFamily::Inet6; });
            return;
        }
        s([&] { std::memcpy(&DestAddress, FirstAddrPtr, sizeof DestAddress); });
        s([&] { DestFamily = AddressFamily::Inet; });
    });
}
