// Starting, checking and stopping the socket library; turning the host text
// into the destination address.

#include "form/frm_ping.h"
#include "platform/blanks.h"
#include "platform/locale_codec.h"
#include "report/failure.h"
#include "report/procedure.h"
#include "report/text.h"

#include <cstring>

namespace {

constexpr uint16_t kVersionRequested = 0x0101;
constexpr int32_t kMinSockets = 0;
constexpr std::size_t kHostPadding = 64;

std::u16string rightPart(const std::u16string& text, std::ptrdiff_t count) {
    if (count < 0) {
        raise(FailureKind::InvalidArgument);
    }
    const auto kept = std::min(text.size(), static_cast<std::size_t>(count));
    return text.substr(text.size() - kept);
}

}  // namespace

void FrmPing::vbWSAStartup() {
    WsaData data;
    report(u"in vbWSAStartup").run([&](Procedure& s) {
        s([&] { WsaResult = winsock_.WSAStartup(kVersionRequested, data); });
        if (s.test([&] { return WsaResult != 0; })) {
            s([&] { txtStatus.setText(u"WSock32.dll is Not responding!"); });
            s([&] { NetErrorFlag = 1; });
        }
        const auto version = static_cast<int16_t>(data.wVersion);
        if (s.test([&] {
                // Every part is evaluated, in this order.
                const int32_t major = LoByte(version);
                const int32_t majorAgain = LoByte(version);
                const int32_t minor = HiByte(version);
                return major < 1 || (majorAgain == 1 && minor < 1);
            })) {
            s([&] { WsaMinorText = decimal(HiByte(version)); });
            s([&] { WsaMajorText = decimal(LoByte(version)); });
            s([&] { NetErrorText = u"WinSock Version " + WsaMajorText + u'.' + WsaMinorText; });
            s([&] { NetErrorText = NetErrorText + u" is Not supported "; });
            s([&] { txtStatus.setText(NetErrorText); });
            s([&] { NetErrorFlag = 1; });
            s([&] { ui_.endProgram(kExitSocketLibraryRefused); });
        }
        if (s.test([&] { return static_cast<int16_t>(data.iMaxSockets) < kMinSockets; })) {
            s([&] { NetErrorText = u"This application requires a minimum of "; });
            s([&] { NetErrorText = NetErrorText + decimal(kMinSockets) + u" supported sockets."; });
            s([&] { txtStatus.setText(NetErrorText); });
            s([&] { NetErrorFlag = 1; });
            s([&] { ui_.endProgram(kExitSocketLibraryRefused); });
        }
    });
}

void FrmPing::vbWSACleanup() {
    report(u"in vbWSACleanup").run([&](Procedure& s) {
        s([&] { WsaResult = winsock_.WSACleanup(); });
    });
}

int32_t FrmPing::HiByte(int16_t value) {
    int32_t result = 0;
    report(u"in HiByte").run([&](Procedure& s) {
        // Truncating division: a negative word rounds toward zero first.
        s([&] { result = (value / 256) & 255; });
    });
    return result;
}

int32_t FrmPing::LoByte(int16_t value) {
    int32_t result = 0;
    report(u"in LoByte").run([&](Procedure& s) { s([&] { result = value & 255; }); });
    return result;
}

void FrmPing::vbGetHostByName() {
    report(u"in vbGetHostByName").run([&](Procedure& s) {
        std::u16string nuls;
        s([&] { Host.setText(trimmed<char16_t>(Host.text(), u" ")); });
        s([&] { nuls = std::u16string(kHostPadding, u'\0'); });
        s([&] {
            Host.setText(Host.text() +
                         rightPart(nuls, static_cast<std::ptrdiff_t>(kHostPadding) -
                                             static_cast<std::ptrdiff_t>(Host.text().size())));
        });
        s([&] { HostEntryPtr = winsock_.gethostbyname(localeBytes(Host.text()).c_str()); });
        if (s.test([&] { return HostEntryPtr == nullptr; })) {
            s([&] {
                const int32_t code = winsock_.WSAGetLastError();
                NetErrorText =
                    u"Winsock Error" + std::u16string(code >= 0 ? u" " : u"") + decimal(code);
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
