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
