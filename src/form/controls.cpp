#include "form/controls.h"

#include <algorithm>

void TextBox::setText(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    text_ = nul < 0 ? text : text.left(nul);
    selStart_ = std::min(selStart_, text_.size());
    selLength_ = 0;
    if (view_ != nullptr) {
        view_->showText(text_);
    }
}

void TextBox::append(QStringView part) {
    const qsizetype nul = part.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        part = part.left(nul);
    }
    text_.append(part);
    if (view_ != nullptr && !part.isEmpty()) {
        view_->showAppended(part);
    }
}

void TextBox::setSelStart(qsizetype start) {
    selStart_ = std::clamp<qsizetype>(start, 0, text_.size());
    selLength_ = 0;
    if (view_ != nullptr) {
        view_->showSelection(text_, selStart_, selLength_);
    }
}

void TextBox::setSelLength(qsizetype length) {
    selLength_ = std::clamp<qsizetype>(length, 0, text_.size() - selStart_);
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

void TextBox::edited(const QString& text) {
    text_ = text;
}

void CommandButton::setCaption(const QString& caption) {
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
