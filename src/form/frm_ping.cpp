// The window: its showing and closing, keys and focus.

#include "form/frm_ping.h"
#include "report/procedure.h"

FrmPing::FrmPing(Services services)
    : ui_(services.ui),
      icmp_(services.icmp),
      winsock_(services.winsock),
      settings_(services.settings) {}

void FrmPing::Form_Resize() {
    // The layout is fixed: nothing moves whatever the window's size.
}

void FrmPing::unbindViews() {
    window_ = nullptr;
    for (const FormControl& f : kFormControls) {
        if (f.box != nullptr) {
            (this->*f.box).bind(nullptr);
        } else {
            (this->*f.button).bind(nullptr);
        }
    }
}

void FrmPing::Show() {
    if (window_ != nullptr) {
        window_->showWindow();
    }
}

void FrmPing::Unload() {
    if (window_ != nullptr) {
        window_->closeWindow();
    } else {
        closeRequested(0);
    }
}

bool FrmPing::closeRequested(int16_t reason) {
    int16_t cancel = 0;
    Form_QueryUnload(cancel, reason);
    closed_ = closed_ || cancel == 0;
    return cancel == 0;
}

void FrmPing::appendStatus(std::u16string_view part) {
    txtStatus.append(part);
    txtStatus.setSelStart(static_cast<std::ptrdiff_t>(txtStatus.text().size()));
}

Procedure FrmPing::report(std::u16string_view label) {
    return Procedure::report(ui_, label, [this] {
        if (running_) {
            requestStop();
        }
    });
}

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
        if (s.test([&] { return cmdPing.caption() == kStop; })) {
            s([&] { cancel = -1; });
        }
    });
}
