// Keys, focus and closing.

#include "form/frm_ping.h"
#include "report/procedure.h"

void FrmPing::Host_KeyDown(int16_t& keyCode, int16_t /*shift*/) {
    report(u"in Host_KeyDown").run([&](Procedure& s) {
        if (s.test([&] { return keyCode == KeyCode::Return; })) {
            s([&] { cmdPing_Click(); });
            s([&] { ui_.yield(); });
        }
    });
}

void FrmPing::removeBlanks(TextBox& box) {
    Procedure::skip().run([&](Procedure& s) {
        std::u16string text;
        s([&] { text = box.text(); });
        s([&] { std::erase_if(text, [](char16_t c) { return c == u' ' || c == u'\u3000'; }); });
        s([&] { box.setText(text); });
    });
}

void FrmPing::Host_LostFocus() {
    removeBlanks(Host);
}
void FrmPing::lblPingTimes_LostFocus() {
    removeBlanks(lblPingTimes);
}
void FrmPing::lblPacketSize_LostFocus() {
    removeBlanks(lblPacketSize);
}

void FrmPing::cmdClose_Click() {
    StopFlag = -1;
    ui_.yield();
    ui_.yield();
    Unload();
}

void FrmPing::Form_QueryUnload(int16_t& cancel, int16_t /*reason*/) {
    report(u"in Form_QueryUnload").run([&](Procedure& s) {
        if (s.test([&] { return cmdPing.caption() == u"Stop"; })) {
            s([&] { cancel = -1; });
        }
    });
}
