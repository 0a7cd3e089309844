#include "form/controls.h"

#include <algorithm>

namespace {

// A box keeps text only up to its first NUL.
std::u16string_view upToNul(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

std::ptrdiff_t sizeOf(const std::u16string& text) {
    return static_cast<std::ptrdiff_t>(text.size());
}

}  // namespace

void TextBox::setText(std::u16string_view text) {
    text_ = upToNul(text);
    selStart_ = std::min(selStart_, sizeOf(text_));
    selLength_ = 0;
    if (view_ != nullptr) {
        view_->showText(text_);
    }
}

void TextBox::append(std::u16string_view part) {
    part = upToNul(part);
    text_.append(part);
    if (view_ != nullptr && !part.empty()) {
        view_->showAppended(part);
    }
}

void TextBox::setSelStart(std::ptrdiff_t start) {
    selStart_ = std::clamp<std::ptrdiff_t>(start, 0, sizeOf(text_));
    selLength_ = 0;
    if (view_ != nullptr) {
        view_->showSelection(text_, selStart_, selLength_);
    }
}

void TextBox::setSelLength(std::ptrdiff_t length) {
    selLength_ = std::clamp<std::ptrdiff_t>(length, 0, sizeOf(text_) - selStart_);
    if (view_ != nullptr) {
        view_->showSelection(text_, selStart_, selLength_);
    }
}

void TextBox::setFocus() {
    if (view_ != nullptr) {
        view_->takeFocus();
    }
}

void TextBox::bind(TextBoxView* view) {
    view_ = view;
    if (view_ != nullptr) {
        view_->showText(text_);
    }
}

void TextBox::edited(std::u16string_view text) {
    text_ = text;
}

void CommandButton::setCaption(std::u16string_view caption) {
    caption_ = caption;
    if (view_ != nullptr) {
        view_->showCaption(caption_);
    }
}

void CommandButton::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (view_ != nullptr) {
        view_->showEnabled(enabled_);
    }
}

void CommandButton::bind(ButtonView* view) {
    view_ = view;
    if (view_ != nullptr) {
        view_->showCaption(caption_);
        view_->showEnabled(enabled_);
    }
}
