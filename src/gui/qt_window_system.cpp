#include "gui/qt_window_system.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <cstdlib>

void QtWindowSystem::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace {

// Keeps a box open until one of its buttons is chosen: Esc and the close
// request of the window manager do nothing.
class OnlyButtonsAnswer final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && !closable) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
    bool closable = false;
};

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

int QtWindowSystem::messageBox(const QString& prompt, int style, const QString& title) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(title);
    box.setText(prompt);
    keepTitleWhole(box);
    if ((style & MsgBox::Critical) != 0) {
        box.setIcon(QMessageBox::Critical);
    } else if ((style & MsgBox::Information) != 0) {
        box.setIcon(QMessageBox::Information);
    }
    if ((style & 0xF) != MsgBox::AbortRetryIgnore) {
        box.addButton(QMessageBox::Ok);
        box.exec();
        return MsgBox::Ok;
    }
    QPushButton* abort = box.addButton(QMessageBox::Abort);
    QPushButton* retry = box.addButton(QMessageBox::Retry);
    QPushButton* ignore = box.addButton(QMessageBox::Ignore);
    box.setDefaultButton(abort);
    OnlyButtonsAnswer filter;
    box.installEventFilter(&filter);
    // A button's answer closes the box through done(), not through a close event.
    QObject::connect(&box, &QMessageBox::buttonClicked, &box, [&] { filter.closable = true; });
    box.exec();
    if (box.clickedButton() == retry) {
        return MsgBox::Retry;
    }
    if (box.clickedButton() == ignore) {
        return MsgBox::Ignore;
    }
    return box.clickedButton() == abort ? MsgBox::Abort : 0;
}

void QtWindowSystem::resetMousePointer() {
    while (QGuiApplication::overrideCursor() != nullptr) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void QtWindowSystem::endProgram(int exitStatus) {
    std::_Exit(exitStatus);
}
