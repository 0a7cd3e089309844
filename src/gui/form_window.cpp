#include "gui/form_window.h"

#include "form/frm_ping.h"
#include "form/layout.h"
#include "gui/qt_text.h"
#include "gui/window_contents.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

namespace {

// The window system's colour of inactive window borders, the labels' background.
constexpr QRgb kInactiveBorder = qRgb(0xD4, 0xD0, 0xC8);
constexpr int kFontPixels = 12;  // 9 points at 96 dots per inch
constexpr qint64 kFrameMs = 16;
constexpr double kReadable = 4.5;  // the least contrast of text that reads well

QRect pixels(const ControlLayout& c) {
    return {c.left / kTwipsPerPixel, c.top / kTwipsPerPixel, c.width / kTwipsPerPixel,
            c.height / kTwipsPerPixel};
}

QString caption(const ControlLayout& c) {
    return QString::fromUtf16(c.caption);
}

class LineEditView final : public TextBoxView {
public:
    explicit LineEditView(QLineEdit* edit) : edit_(edit) {}
    void showText(const std::u16string& text) override { edit_->setText(qtText(text)); }
    void showAppended(std::u16string_view part) override {
        edit_->setText(edit_->text() + qtText(part));
    }
    void showSelection(const std::u16string&, std::ptrdiff_t start,
                       std::ptrdiff_t length) override {
        edit_->setSelection(static_cast<int>(start), static_cast<int>(length));
    }
    void takeFocus() override { edit_->setFocus(Qt::OtherFocusReason); }

private:
    QLineEdit* edit_;
};

// The results box. The lines of one frame are appended together, and the
// caret follows them there: one layout and one paint a frame, not a line.
class ResultsBoxView final : public TextBoxView {
public:
    explicit ResultsBoxView(QPlainTextEdit* box) : box_(box) {
        frame_.setSingleShot(true);
        QObject::connect(&frame_, &QTimer::timeout, box, [this] { showFrame(); });
        sinceFrame_.start();
    }
    void showText(const std::u16string& text) override {
        pending_.clear();
        followEnd_ = false;
        box_->setPlainText(qtText(text));
        showFrame();
    }
    void showAppended(std::u16string_view part) override {
        pending_.append(qtText(part));
        const qint64 elapsed = sinceFrame_.elapsed();
        if (elapsed >= kFrameMs) {
            showFrame();
        } else if (!frame_.isActive()) {
            frame_.start(static_cast<int>(kFrameMs - elapsed));
        }
    }
    void showSelection(const std::u16string& text, std::ptrdiff_t start,
                       std::ptrdiff_t length) override {
        if (start >= std::ssize(text)) {
            followEnd_ = true;  // with the lines of the frame
            if (!frame_.isActive()) {
                showFrame();
            }
            return;
        }
        showFrame();
        QTextCursor cursor = box_->textCursor();
        cursor.setPosition(shownPosition(text, start));
        cursor.setPosition(shownPosition(text, start + length), QTextCursor::KeepAnchor);
        box_->setTextCursor(cursor);
    }
    void takeFocus() override { box_->setFocus(Qt::OtherFocusReason); }

    // Shows what waits for the next frame at once.
    void showPending() {
        if (frame_.isActive()) {
            showFrame();
        }
    }

private:
    // The box counts a CR LF as one character, as it counts a CR alone.
    static int shownPosition(const std::u16string& text, std::ptrdiff_t at) {
        std::ptrdiff_t pairs = 0;
        for (std::ptrdiff_t i = 0; i < at && i + 1 < std::ssize(text); ++i) {
            pairs += text[i] == u'\r' && text[i + 1] == u'\n';
        }
        return static_cast<int>(at - pairs);
    }

    void showFrame() {
        frame_.stop();
        sinceFrame_.restart();
        if (!pending_.isEmpty()) {
            QTextCursor end(box_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(pending_);
            pending_.clear();
        }
        if (followEnd_) {
            followEnd_ = false;
            box_->moveCursor(QTextCursor::End);
        }
    }

    QPlainTextEdit* box_;
    QString pending_;  // appended since the last frame
    bool followEnd_ = false;
    QTimer frame_;
    QElapsedTimer sinceFrame_;
};

class PushButtonView final : public ButtonView {
public:
    explicit PushButtonView(QPushButton* button) : button_(button) {}
    void showCaption(const std::u16string& text) override {
        const QString caption = qtText(text);
        button_->setText(caption);
        // A screen reader would read a blank that only spaces the caption;
        // an empty name is the caption's.
        const QString name = caption.trimmed();
        button_->setAccessibleName(name == caption ? QString() : name);
    }
    void showEnabled(bool enabled) override { button_->setEnabled(enabled); }

private:
    QPushButton* button_;
};

// The toolkit's box copies a selection as a second document, blocks and
// formats with it, for its rich text: 2.8 times the text for a long run.
// The clipboard gets the plain text alone.
class ResultsBox final : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override {
        auto* copied = new QMimeData;
        copied->setText(textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n'));
        return copied;
    }
};

// Enter on a focused button presses it, as the classic window system does.
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

// Relative luminance of a colour as seen on screen (sRGB), 0 to 1.
double luminance(const QColor& colour) {
    const auto linear = [](float value) {
        return value <= 0.04045F ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double one = luminance(a);
    const double other = luminance(b);
    return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

// The classic inactive-border grey under the label's text where that reads
// well on it (a light palette); else a colour of the palette that does.
QColor labelBackground(const QPalette& palette) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor choices[] = {QColor(kInactiveBorder), palette.color(QPalette::Window),
                              palette.color(QPalette::Button), palette.color(QPalette::Base)};
    for (const QColor& choice : choices) {
        if (contrast(text, choice) >= kReadable) {
            return choice;
        }
    }
    return *std::ranges::max_element(choices, {},
                                     [&](const QColor& choice) { return contrast(text, choice); });
}

// The layout table's place, unless part of the window would be off the screen (a
// small one, or a large scale factor): then centred on that axis, its title
// bar and frame on the screen with it where there is room.
QRect onScreen(QRect window, const QRect& available) {
    const auto axis = [](int start, int size, int from, int room) {
        return start >= from && start + size <= from + room
                   ? start
                   : std::max(from, from + (room - size) / 2);
    };
    window.moveTo(axis(window.x(), window.width(), available.x(), available.width()),
                  axis(window.y(), window.height(), available.y(), available.height()));
    return window;
}

// The roles a screen reader expects: the window an application's frame,
// which the toolkit would make a plain widget's filler, and the frame that
// groups the inputs a panel, which the toolkit would make a window's frame.
QAccessibleInterface* accessibleContainer(const QString& className, QObject* object) {
    if (className == u"QWidget" && dynamic_cast<FormWindow*>(object) != nullptr) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    if (className == u"QFrame" &&
        dynamic_cast<FormWindow*>(static_cast<QWidget*>(object)->parentWidget()) != nullptr) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    }
    return nullptr;
}

}  // namespace

struct FormWindow::Views {
    std::array<QWidget*, std::size(kControls)> widgets{};
    std::vector<std::unique_ptr<TextBoxView>> boxes;
    std::vector<std::unique_ptr<ButtonView>> buttons;
    std::unique_ptr<ResultsBoxView> results;
};

namespace {

QWidget* makeWidget(const ControlLayout& c, QWidget* parent) {
    switch (c.kind) {
        case ControlKind::Frame: {
            auto* frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched, without a title
            return frame;
        }
        case ControlKind::CommandButton:
            return new CommandButtonWidget(parent);
        case ControlKind::TextBox:
            return new QLineEdit(parent);
        case ControlKind::MultiLineTextBox: {
            auto* box = new ResultsBox(parent);
            box->setReadOnly(true);
            // Read-only, and yet its text selected by the keys as by the mouse.
            box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            box->setUndoRedoEnabled(false);
            box->setLineWrapMode(QPlainTextEdit::NoWrap);
            box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            // No label names it.
            box->setAccessibleName(QCoreApplication::translate("FormWindow", "Results"));
            return box;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(caption(c), parent);
            label->setAutoFillBackground(true);
            return label;
        }
    }
    return nullptr;
}

}  // namespace

FormWindow::FormWindow(FrmPing& form) : form_(form), views_(std::make_unique<Views>()) {
    // The resources live in a static library, which the linker would drop.
    Q_INIT_RESOURCE(resources);
    QAccessible::installFactory(accessibleContainer);
    setWindowTitle(QString::fromUtf16(kFormCaption));
    // The sizes of the Windows program's icon, in the format the toolkit
    // reads without a plugin.
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        icon.addFile(QStringLiteral(":/sondrel-ping-%1.png").arg(size), {size, size});
    }
    setWindowIcon(icon);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(kFontPixels);
    // The hinter would page in some 2 MB more of the font file, and the
    // glyphs are legible without it.
    font.setHintingPreference(QFont::PreferNoHinting);
    // For the message boxes too, and no second font is loaded.
    QApplication::setFont(font);
    setFont(font);
    // The size is fixed. Set before the geometry: a change of the flags
    // afterwards would place the frame, not the client area, at its origin.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setGeometry(onScreen({kClientLeft / kTwipsPerPixel, kClientTop / kTwipsPerPixel,
                          kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel},
                         screen()->availableGeometry()));
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);

    auto& widgets = views_->widgets;
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        const ControlLayout& c = kControls[i];
        QWidget* parent = *c.container == '\0' ? this : widgets[controlIndex(c.container)];
        QWidget* widget = makeWidget(c, parent);
        QRect geometry = pixels(c);
        if (c.kind == ControlKind::Label) {
            // Sized to the caption in the font at hand, from the same corner.
            const QFontMetrics metrics(font);
            geometry.setWidth(std::max(geometry.width(), metrics.horizontalAdvance(caption(c))));
            geometry.setHeight(std::max(geometry.height(), metrics.height()));
        }
        widget->setGeometry(geometry);
        widget->setObjectName(QString::fromLatin1(c.name));
        widgets[i] = widget;
    }

    for (const FormControl& f : kFormControls) {
        QWidget* widget = widgets[f.layout];
        if (f.button != nullptr) {
            auto* button = static_cast<QPushButton*>(widget);
            views_->buttons.push_back(std::make_unique<PushButtonView>(button));
            (form_.*f.button).bind(views_->buttons.back().get());
            QObject::connect(button, &QPushButton::clicked, this, [this, &f] { f.handler(form_); });
        } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            TextBox* box = &(form_.*f.box);
            QObject::connect(line, &QLineEdit::textEdited, line,
                             [box](const QString& text) { box->edited(text.toStdU16String()); });
            views_->boxes.push_back(std::make_unique<LineEditView>(line));
            box->bind(views_->boxes.back().get());
            line->installEventFilter(this);
        } else {
            views_->results =
                std::make_unique<ResultsBoxView>(static_cast<QPlainTextEdit*>(widget));
            (form_.*f.box).bind(views_->results.get());
        }
    }
    showLabelBackgrounds();

    // Tab walks the controls that take the focus. A screen reader lists a
    // widget's children in the order they are stacked: the frame's raised in
    // that order too; the window's two as made, the results box over the
    // frame's edge.
    QWidget* previous = nullptr;
    for (const std::size_t i : controlOrder()) {
        if (std::ranges::any_of(kFormControls,
                                [i](const FormControl& f) { return f.layout == i; })) {
            if (previous != nullptr) {
                setTabOrder(previous, widgets[i]);
            }
            previous = widgets[i];
        }
        if (*kControls[i].container != '\0') {
            widgets[i]->raise();
        }
    }

    // A screen reader names each box as its label does, without the colon.
    for (const auto& [label, box] : kLabelled) {
        QString name = static_cast<QLabel*>(control(label))->text();
        if (name.endsWith(u':')) {
            name.chop(1);
        }
        control(box)->setAccessibleName(name);
    }

    // The default button; Esc does nothing here.
    static_cast<QPushButton*>(control("cmdPing"))->setDefault(true);
    keepContentsWhileCovered(*this);
    form_.bind(this);
}

FormWindow::~FormWindow() {
    form_.unbindViews();  // the controls outlive the widgets
}

QWidget* FormWindow::control(std::string_view name) const {
    return views_->widgets[controlIndex(name)];
}

void FormWindow::showLabelBackgrounds() {
    const QColor background = labelBackground(palette());
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        if (kControls[i].kind == ControlKind::Label) {
            QWidget* label = views_->widgets[i];
            QPalette colours = label->palette();
            colours.setColor(QPalette::Window, background);
            label->setPalette(colours);
        }
    }
}

void FormWindow::paintWhileWaiting() {
    views_->results->showPending();
    // Not processEvents(): that runs timers and queued calls too, and under X
    // it keeps the input it skips back until the next event arrives. The
    // window manager's ping, which the toolkit answers only there, waits for
    // the yields, which come at every echo.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    answerScreenReader();
}

void FormWindow::answerScreenReader() {
    if (!QAccessible::isActive()) {
        return;
    }
    // The toolkit's bridge reads the accessibility bus on a thread of its own
    // and posts each question to the object it registered for the path asked;
    // only those are sent here (the bus's name and paths are the bridge's
    // own). A focus that a question moves is lost to the form at the next
    // yield.
    const QDBusConnection bus(QStringLiteral("a11y"));
    answeringScreenReader_ = true;
    for (const char* path : {"/org/a11y/atspi/accessible", "/org/a11y/atspi/cache"}) {
        if (QObject* object = bus.objectRegisteredAt(QLatin1String(path))) {
            QCoreApplication::sendPostedEvents(object, QEvent::MetaCall);
        }
    }
    answeringScreenReader_ = false;
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
        int16_t keyCode = enter ? KeyCode::Return : static_cast<int16_t>(key->key() & 0x7FFF);
        const Qt::KeyboardModifiers held = key->modifiers();
        const auto shift =
            static_cast<int16_t>((held & Qt::ShiftModifier ? ShiftState::Shift : 0) |
                                 (held & Qt::ControlModifier ? ShiftState::Ctrl : 0) |
                                 (held & Qt::AltModifier ? ShiftState::Alt : 0));
        form_.Host_KeyDown(keyCode, shift);
        // Host_KeyDown has pressed the default button already.
        return enter;
    } else if (event->type() == QEvent::FocusOut) {
        // Focus that leaves with the whole window is not lost within it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (const FormControl& f : kFormControls) {
                if (watched != views_->widgets[f.layout]) {
                    continue;
                }
                if (answeringScreenReader_) {
                    QMetaObject::invokeMethod(
                        this, [this, &f] { f.handler(form_); }, Qt::QueuedConnection);
                } else {
                    f.handler(form_);
                }
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Enter that no box or button took: the default button's.
void FormWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        static_cast<QPushButton*>(control("cmdPing"))->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FormWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        showLabelBackgrounds();  // a dark one may have come, or gone
    }
    QWidget::changeEvent(event);
}

void FormWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    form_.Form_Resize();
}
