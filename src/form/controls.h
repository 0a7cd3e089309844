#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

// The controls as the procedures see them. Each keeps its exact state (a
// box's text with CR LF as written) and mirrors every change to a view,
// which is the widget in the program and nothing in most tests.

// Key codes and modifier bits as a key-down handler receives them.
namespace KeyCode {
inline constexpr int16_t Return = 13;
}
namespace ShiftState {
inline constexpr int16_t Shift = 1;
inline constexpr int16_t Ctrl = 2;
inline constexpr int16_t Alt = 4;
}  // namespace ShiftState

class TextBoxView {
public:
    virtual ~TextBoxView() = default;
    virtual void showText(const QString& text) = 0;
    // The text grew by part at its end.
    virtual void showAppended(QStringView part) = 0;
    virtual void showSelection(const QString& text, qsizetype start, qsizetype length) = 0;
    virtual void takeFocus() = 0;
};

class ButtonView {
public:
    virtual ~ButtonView() = default;
    virtual void showCaption(const QString& caption) = 0;
    virtual void showEnabled(bool enabled) = 0;
};

class WindowView {
public:
    virtual ~WindowView() = default;
    virtual void showWindow() = 0;
    // Closing asks the form first (FrmPing::closeRequested).
    virtual void closeWindow() = 0;
};

class TextBox {
public:
    explicit TextBox(QStringView text = {}) : text_(text.toString()) {}

    const QString& text() const { return text_; }
    // A box keeps text only up to its first NUL.
    void setText(const QString& text);
    // Same as setText(text() + part), without copying what is there.
    void append(QStringView part);

    qsizetype selStart() const { return selStart_; }
    qsizetype selLength() const { return selLength_; }
    void setSelStart(qsizetype start);
    void setSelLength(qsizetype length);
    void setFocus();

    void bind(TextBoxView* view);
    // The user changed the text in the view.
    void edited(const QString& text);

private:
    QString text_;
    qsizetype selStart_ = 0;
    qsizetype selLength_ = 0;
    TextBoxView* view_ = nullptr;
};

class CommandButton {
public:
    explicit CommandButton(QStringView caption) : caption_(caption.toString()) {}

    const QString& caption() const { return caption_; }
    void setCaption(const QString& caption);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    void bind(ButtonView* view);

private:
    QString caption_;
    bool enabled_ = true;
    ButtonView* view_ = nullptr;
};
