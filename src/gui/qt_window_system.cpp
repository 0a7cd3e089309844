#include "gui/qt_window_system.h"

#include "gui/qt_text.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <cstdlib>

void QtWindowSystem::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace {

// The window manager draws the title beside an icon and a few buttons, each
// about a line high: a narrower box shows "..." for its title.
void keepTitleWhole(QMessageBox& box) {
    auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    const QFontMetrics metrics(box.font());
    const int room = metrics.horizontalAdvance(box.windowTitle()) + 8 * metrics.height();
    if (text != nullptr && text->sizeHint().width() < room) {
        text->setMinimumWidth(room);
    }
}

}  // namespace

int QtWindowSystem::messageBox(std::u16string_view prompt, int style, std::u16string_view title) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(qtText(title));
    box.setText(qtText(prompt));
    keepTitleWhole(box);
    if ((style & MsgBox::Critical) != 0) {
        box.setIcon(QMessageBox::Critical);
    } else if ((style & MsgBox::Information) != 0) {
        box.setIcon(QMessageBox::Information);
    }
    if ((style & 0xF) != MsgBox::AbortRetryIgnore) {
        box.exec();  // a box given no button shows OK
        return MsgBox::Ok;
    }
    // One role for the three keeps them in the order added whatever the
    // style's button layout, which would put Abort (a reject role) last; none
    // is a reject or cancel button, so neither Esc nor the close request
    // answers the box. The texts are those of the standard buttons, as the
    // toolkit's translation gives them.
    const QDialogButtonBox standard(QDialogButtonBox::Abort | QDialogButtonBox::Retry |
                                    QDialogButtonBox::Ignore);
    const auto add = [&](QDialogButtonBox::StandardButton which) {
        return box.addButton(standard.button(which)->text(), QMessageBox::ActionRole);
    };
    QPushButton* abort = add(QDialogButtonBox::Abort);
    QPushButton* retry = add(QDialogButtonBox::Retry);
    QPushButton* ignore = add(QDialogButtonBox::Ignore);
    box.setDefaultButton(abort);
    box.exec();
    if (box.clickedButton() == retry) {
        return MsgBox::Retry;
    }
    return box.clickedButton() == ignore ? MsgBox::Ignore : MsgBox::Abort;
}

void QtWindowSystem::resetMousePointer() {
    while (QGuiApplication::overrideCursor() != nullptr) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void QtWindowSystem::endProgram(int exitStatus) {
    std::_Exit(exitStatus);
}
