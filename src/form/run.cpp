// The run that the start/stop button drives.

#include "form/frm_ping.h"
#include "form/number_input.h"
#include "platform/locale_codec.h"
#include "report/checked.h"
#include "report/procedure.h"
#include "report/text.h"

void FrmPing::cmdPing_Click() {
    pingClicked();
    while (startDeferred_ && !running_) {
        startDeferred_ = false;
        if (!closed_) {
            pingClicked();
        }
    }
}

void FrmPing::requestStop() {
    StopFlag = -1;
    cmdPing.setCaption(kPing);
    cmdClose.setEnabled(true);
}

void FrmPing::pingClicked() {
    Procedure::skip().run([&](Procedure& s) {
        if (s.test([&] { return Host.text().empty(); })) {
            s([&] {
                ui_.messageBox(u"请输入ip地址或域名。", MsgBox::OkOnly | MsgBox::Information,
                               kAppTitle);
            });
            return;
        }
        if (s.test([&] { return cmdPing.caption() == kStop; })) {
            s([&] { requestStop(); });
            return;
        }
        if (running_) {
            startDeferred_ = true;
            return;
        }
        running_ = true;
        const struct Done {
            bool& running;
            ~Done() { running = false; }
        } done{running_};
        // Whatever an earlier run left pending is not this run's.
        s([&] { StopFlag = 0; });
        s([&] { NetErrorFlag = 0; });
        s([&] { cmdPing.setCaption(kStop); });
        s([&] { cmdClose.setEnabled(false); });
        if (s.test([&] {
                return winsock_.gethostbyname(localeBytes(Host.text()).c_str()) == nullptr;
            })) {
            s([&] { txtStatus.setText(u"Unable To Resolve Host"); });
            s([&] { cmdPing.setCaption(kPing); });
            s([&] { cmdClose.setEnabled(true); });
            return;
        }
        s([&] { TotalRtt = 0; });
        s([&] { ReplyCount = 0; });
        s([&] { txtStatus.setText({}); });
        s([&] {
            EchoData = BlankText::ofLength(roundToInt32(leadingNumber(lblPacketSize.text())));
        });
        s([&] { vbWSAStartup(); });
        s([&] { vbGetHostByName(); });
        s([&] { vbIcmpCreateFile(); });
        s([&] { EchoOptions.Ttl = 255; });
        // A count that is not a number fails the loop's start, which falls
        // through into the body: that one turn is the whole loop.
        double count = 0;
        bool countIsNumber = false;
        s([&] {
            count = localeNumber(lblPingTimes.text(), userNumberSymbols());
            countIsNumber = true;
        });
        for (double turn = 1; countIsNumber ? turn <= count : turn == 1; ++turn) {
            if (closed_) {
                break;  // closed after a stop request: no control may be touched
            }
            if (s.test([&] { return NetErrorFlag == 1; })) {
                s([&] { NetErrorFlag = 0; });
                break;
            }
            if (s.test([&] { return StopFlag != 0; })) {
                s([&] { StopFlag = 0; });
                s([&] { vbIcmpCloseHandle(); });
                s([&] { vbWSACleanup(); });
                return;
            }
            s([&] { vbIcmpSendEcho(); });
        }
        s([&] { vbIcmpCloseHandle(); });
        s([&] { vbWSACleanup(); });
        if (closed_) {
            return;
        }
        s([&] { TotalRtt = roundToInt32(divide(TotalRtt, ReplyCount)); });
        s([&] { txtStatus.append(u"\r\n 平均速度: " + decimal(TotalRtt) + u"ms."); });
        s([&] { txtStatus.setSelStart(static_cast<std::ptrdiff_t>(txtStatus.text().size())); });
        s([&] { cmdPing.setCaption(kPing); });
        s([&] { cmdClose.setEnabled(true); });
    });
}
