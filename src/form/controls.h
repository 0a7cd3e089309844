#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    virtual void showText(const std::u16string& text) = 0;
    // The text grew by part at its end.
    virtual void showAppended(std::u16string_view part) = 0;
    virtual void showSelection(const std::u16string& text, std::ptrdiff_t start,
                               std::ptrdiff_t length) = 0;
    virtual void takeFocus() = 0;
};

class ButtonView {
public:
    virtual ~ButtonView() = default;
    virtual void showCaption(const std::u16string& caption) = 0;
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
    explicit TextBox(std::u16string_view text = {}) : text_(text) {}

    const std::u16string& text() const { return text_; }
    // A box keeps text only up to its first NUL.
    void setText(std::u16string_view text);
    // Same as setText(text() + part), without copying what is there.
    void append(std::u16string_view part);

    std::ptrdiff_t selStart() const { return selStart_; }
    std::ptrdiff_t selLength() const { return selLength_; }
    void setSelStart(std::ptrdiff_t start);
    void setSelLength(std::ptrdiff_t length);
    void setFocus();

    void bind(TextBoxView* view);
    // The user changed the text in the view.
    void edited(std::u16string_view text);

private:
    std::u16string text_;
    std::ptrdiff_t selStart_ = 0;
    std::ptrdiff_t selLength_ = 0;
    TextBoxView* view_ = nullptr;
};

class CommandButton {
public:
    explicit CommandButton(std::u16string_view caption) : caption_(caption) {}

    const std::u16string& caption() const { return caption_; }
    void setCaption(std::u16string_view caption);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    void bind(ButtonView* view);

private:
    std::u16string caption_;
    bool enabled_ = true;
    ButtonView* view_ = nullptr;
};
