#include "ui/frm_ping.h"

FrmPing::FrmPing(Services services)
    : ui_(services.ui), icmp_(services.icmp), winsock_(services.winsock) {}

void FrmPing::Form_Resize() {
    // The layout is fixed: nothing moves whatever the window's size.
}

void FrmPing::appendStatus(QStringView part) {
    txtStatus.append(part);
    txtStatus.setSelStart(txtStatus.text().size());
}
