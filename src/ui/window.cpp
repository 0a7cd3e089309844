#include "ui/window.h"

#include "ui/frm_ping.h"
#include "ui/ico_icon.h"
#include "ui/layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <map>
#include <string>

namespace {

// The window system's colour of inactive window borders, the labels' background.
constexpr QRgb kInactiveBorder = qRgb(0xD4, 0xD0, 0xC8);
constexpr int kFontPixels = 12;  // 9 points at 96 dots per inch

QRect pixels(const ControlLayout& c) {
    return {c.left / kTwipsPerPixel, c.top / kTwipsPerPixel, c.width / kTwipsPerPixel,
            c.height / kTwipsPerPixel};
}

QString caption(const ControlLayout& c) {
    return QString::fromUtf16(c.caption);
}

// The box shows lines split at CR LF; its text keeps them as written.
QString shownText(QStringView text) {
    QString shown = text.toString();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

class LineEditView final : public TextBoxView {
public:
    explicit LineEditView(QLineEdit* edit) : edit_(edit) {}
    void showText(const QString& text) override { edit_->setText(text); }
    void showAppended(QStringView part) override {
        edit_->setText(edit_->text() + part.toString());
    }
    void showSelection(const QString&, qsizetype start, qsizetype length) override {
        edit_->setSelection(static_cast<int>(start), static_cast<int>(length));
    }
    void takeFocus() override { edit_->setFocus(Qt::OtherFocusReason); }

private:
    QLineEdit* edit_;
};

// Shows the results at the display's rate rather than once per line: the
// lines of one frame are inserted, and painted, together.
class StatusView final : public TextBoxView {
public:
    explicit StatusView(QPlainTextEdit* edit) : edit_(edit) {
        frame_.setSingleShot(true);
        QObject::connect(&frame_, &QTimer::timeout, edit_, [this] { flush(); });
        sinceFlush_.start();
    }
    void showText(const QString& text) override {
        pending_.clear();
        edit_->setPlainText(shownText(text));
        flush();
    }
    void showAppended(QStringView part) override {
        pending_ += part;
        const qint64 elapsed = sinceFlush_.elapsed();
        if (elapsed >= kFrameMs) {
            flush();
        } else if (!frame_.isActive()) {
            frame_.start(static_cast<int>(kFrameMs - elapsed));
        }
    }
    void showSelection(const QString& text, qsizetype start, qsizetype length) override {
        if (start >= text.size()) {
            toEnd_ = true;
            if (pending_.isEmpty()) {
                flush();
            }
            return;
        }
        flush();
        // Each CR LF before a position is one character on screen.
        const qsizetype breaks = text.left(start).count(QStringLiteral("\r\n"));
        const qsizetype shownLength = shownText(QStringView(text).mid(start, length)).size();
        QTextCursor cursor(edit_->document());
        cursor.setPosition(static_cast<int>(start - breaks));
        cursor.setPosition(static_cast<int>(start - breaks + shownLength), QTextCursor::KeepAnchor);
        edit_->setTextCursor(cursor);
        edit_->ensureCursorVisible();
    }
    void takeFocus() override { edit_->setFocus(Qt::OtherFocusReason); }

    // Paints what waits to be shown at once, for a thread about to block.
    void showPending() {
        if (!pending_.isEmpty()) {
            flush();
            edit_->repaint();
        }
    }

private:
    static constexpr qint64 kFrameMs = 16;

    void flush() {
        frame_.stop();
        if (!pending_.isEmpty()) {
            QTextCursor end(edit_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(shownText(pending_));
            pending_.clear();
        }
        if (toEnd_) {
            toEnd_ = false;
            QTextCursor end(edit_->document());
            end.movePosition(QTextCursor::End);
            edit_->setTextCursor(end);
            edit_->ensureCursorVisible();
        }
        sinceFlush_.restart();
    }

    QPlainTextEdit* edit_;
    QString pending_;
    bool toEnd_ = false;
    QTimer frame_;
    QElapsedTimer sinceFlush_;
};

class PushButtonView final : public ButtonView {
public:
    explicit PushButtonView(QPushButton* button) : button_(button) {}
    void showCaption(const QString& text) override { button_->setText(text); }
    void showEnabled(bool enabled) override { button_->setEnabled(enabled); }

private:
    QPushButton* button_;
};

// Enter on a focused button presses it, as the window system of the design does.
class CommandButtonWidget final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

}  // namespace

struct FormWindow::Views {
    std::map<std::string, QWidget*> widgets;
    std::vector<std::unique_ptr<TextBoxView>> boxes;
    std::vector<std::unique_ptr<ButtonView>> buttons;
    StatusView* status = nullptr;
};

FormWindow::FormWindow(FrmPing& form) : form_(form), views_(std::make_unique<Views>()) {
    // The resources live in a static library, which the linker would drop.
    Q_INIT_RESOURCE(resources);
    setWindowTitle(QString::fromUtf16(kFormCaption));
    QFile ico(QStringLiteral(":/sondrel-ping.ico"));
    if (ico.open(QIODevice::ReadOnly)) {
        setWindowIcon(iconFromIco(ico.readAll()));
    }
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(kFontPixels);
    // The hinter would page in some 2 MB more of the font file, and the
    // glyphs are legible without it.
    font.setHintingPreference(QFont::PreferNoHinting);
    // For the message boxes too, and no second font is loaded.
    QApplication::setFont(font);
    setFont(font);
    setGeometry(kClientLeft / kTwipsPerPixel, kClientTop / kTwipsPerPixel,
                kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);

    const std::map<std::string, TextBox*> textBoxes = {{"Host", &form.Host},
                                                       {"lblPingTimes", &form.lblPingTimes},
                                                       {"lblPacketSize", &form.lblPacketSize},
                                                       {"txtStatus", &form.txtStatus}};
    const std::map<std::string, CommandButton*> buttons = {
        {"ComdSave", &form.ComdSave}, {"cmdClose", &form.cmdClose}, {"cmdPing", &form.cmdPing}};

    for (const ControlLayout& c : kControls) {
        QWidget* parent = *c.container == '\0' ? this : views_->widgets.at(c.container);
        QWidget* widget = nullptr;
        switch (c.kind) {
            case ControlKind::Frame: {
                auto* frame = new QFrame(parent);
                frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched, without a title
                widget = frame;
                break;
            }
            case ControlKind::CommandButton: {
                auto* button = new CommandButtonWidget(parent);
                views_->buttons.push_back(std::make_unique<PushButtonView>(button));
                buttons.at(c.name)->bind(views_->buttons.back().get());
                widget = button;
                break;
            }
            case ControlKind::TextBox: {
                auto* edit = new QLineEdit(parent);
                TextBox* box = textBoxes.at(c.name);
                QObject::connect(edit, &QLineEdit::textEdited, edit,
                                 [box](const QString& text) { box->edited(text); });
                views_->boxes.push_back(std::make_unique<LineEditView>(edit));
                box->bind(views_->boxes.back().get());
                widget = edit;
                break;
            }
            case ControlKind::MultiLineTextBox: {
                auto* edit = new QPlainTextEdit(parent);
                edit->setReadOnly(true);
                edit->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                              Qt::TextSelectableByKeyboard);
                edit->setFocusPolicy(Qt::StrongFocus);
                edit->setLineWrapMode(QPlainTextEdit::NoWrap);
                edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                auto status = std::make_unique<StatusView>(edit);
                views_->status = status.get();
                textBoxes.at(c.name)->bind(status.get());
                views_->boxes.push_back(std::move(status));
                widget = edit;
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(caption(c), parent);
                label->setAutoFillBackground(true);
                QPalette palette = label->palette();
                palette.setColor(QPalette::Window, QColor(kInactiveBorder));
                label->setPalette(palette);
                widget = label;
                break;
            }
        }
        QRect geometry = pixels(c);
        if (c.kind == ControlKind::Label) {
            // Sized to the caption in the font at hand, from the same corner.
            const QFontMetrics metrics(font);
            geometry.setWidth(std::max(geometry.width(), metrics.horizontalAdvance(caption(c))));
            geometry.setHeight(std::max(geometry.height(), metrics.height()));
        }
        widget->setGeometry(geometry);
        widget->setObjectName(QString::fromLatin1(c.name));
        views_->widgets[c.name] = widget;
    }

    // Tab order by tab index, over the controls that take the focus.
    std::vector<const ControlLayout*> order;
    for (const ControlLayout& c : kControls) {
        if (c.kind != ControlKind::Frame && c.kind != ControlKind::Label) {
            order.push_back(&c);
        }
    }
    std::sort(order.begin(), order.end(), [](const ControlLayout* a, const ControlLayout* b) {
        return a->tabIndex < b->tabIndex;
    });
    for (size_t i = 1; i < order.size(); ++i) {
        setTabOrder(control(order[i - 1]->name), control(order[i]->name));
    }

    auto* ping = static_cast<QPushButton*>(control("cmdPing"));
    QObject::connect(ping, &QPushButton::clicked, this, [this] { form_.cmdPing_Click(); });
    QObject::connect(static_cast<QPushButton*>(control("cmdClose")), &QPushButton::clicked, this,
                     [this] { form_.cmdClose_Click(); });
    QObject::connect(static_cast<QPushButton*>(control("ComdSave")), &QPushButton::clicked, this,
                     [this] { form_.ComdSave_Click(); });
    for (const char* box : {"Host", "lblPingTimes", "lblPacketSize"}) {
        control(box)->installEventFilter(this);
    }
    form_.bind(this);
    // The cancel button: Esc anywhere in the window presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    QObject::connect(escape, &QShortcut::activated, ping, &QPushButton::click);
}

FormWindow::~FormWindow() {
    form_.bind(nullptr);
    // The controls outlive the widgets: let them show nothing from here on.
    form_.Host.bind(nullptr);
    form_.lblPingTimes.bind(nullptr);
    form_.lblPacketSize.bind(nullptr);
    form_.txtStatus.bind(nullptr);
    form_.ComdSave.bind(nullptr);
    form_.cmdClose.bind(nullptr);
    form_.cmdPing.bind(nullptr);
}

QWidget* FormWindow::control(const char* name) const {
    return views_->widgets.at(name);
}

void FormWindow::showPendingResults() {
    views_->status->showPending();
}

void FormWindow::closeEvent(QCloseEvent* event) {
    const int16_t fromUser = 0;
    if (form_.closeRequested(fromUser)) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool FormWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == control("Host")) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        int16_t keyCode = enter ? 13 : static_cast<int16_t>(key->key() & 0x7FFF);
        const auto shift = static_cast<int16_t>((key->modifiers() & Qt::ShiftModifier ? 1 : 0) |
                                                (key->modifiers() & Qt::ControlModifier ? 2 : 0) |
                                                (key->modifiers() & Qt::AltModifier ? 4 : 0));
        form_.Host_KeyDown(keyCode, shift);
    } else if (event->type() == QEvent::FocusOut) {
        // Focus that leaves with the whole window is not lost within it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == control("Host")) {
                form_.Host_LostFocus();
            } else if (watched == control("lblPingTimes")) {
                form_.lblPingTimes_LostFocus();
            } else if (watched == control("lblPacketSize")) {
                form_.lblPacketSize_LostFocus();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    form_.Form_Resize();
}
