// Starting, checking and stopping the socket library.

#include "form/frm_ping.h"
#include "report/procedure.h"
#include "report/text.h"

namespace {

constexpr uint16_t kVersionRequested = 0x0101;
constexpr int32_t kMinSockets = 0;

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
