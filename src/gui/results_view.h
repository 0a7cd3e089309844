#pragma once

#include "form/controls.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QTimer>

#include <vector>

class QMenu;

// The results box. It draws the lines in view straight from its control's
// text, split at line feeds with a carriage return before one not shown, and
// keeps nothing of a line but where it starts: a long run costs the box a few
// bytes a line, not a second copy of the text with a layout per line. New
// lines are shown at the display's rate, those of one frame together.
// Read-only; the text can be selected with the mouse and the keyboard, and
// copied.
class ResultsView final : public QAbstractScrollArea, public TextBoxView {
public:
    explicit ResultsView(QWidget* parent);

    // text is the control's own: the view reads it there while bound.
    void showText(const std::u16string& text) override;
    void showAppended(std::u16string_view part) override;
    void showSelection(const std::u16string& text, std::ptrdiff_t start,
                       std::ptrdiff_t length) override;
    void takeFocus() override { setFocus(Qt::OtherFocusReason); }

    // Shows what waits for the next frame at once.
    void showPending();

    // The text as shown: lines joined by line feeds.
    QString shownText() const;
    // The caret's place in shownText().
    qsizetype caretPosition() const;
    QString selectedText() const;
    void selectAll();
    void copy() const;
    // Copy and Select All, in the toolkit's language.
    QMenu* createStandardContextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    qsizetype lineCount() const { return static_cast<qsizetype>(starts_.size()); }
    qsizetype lineOf(qsizetype position) const;
    // A line without its line feed and the carriage return before it.
    QStringView line(qsizetype index) const;
    qsizetype positionAt(QPoint point) const;
    int lineHeight() const;
    int visibleLines() const;
    void indexFrom(qsizetype position);
    void moveCaret(qsizetype position, bool select);
    void refresh();
    void updateScrollBars();
    void ensureCaretVisible();

    // The control's text.
    QStringView all() const { return {text_->data(), qsizetype(text_->size())}; }
    const std::u16string* text_;
    std::vector<qsizetype> starts_{0};  // where each line starts in the text
    qsizetype anchor_ = 0;
    qsizetype caret_ = 0;
    int widest_ = 0;  // of the lines shown so far
    bool followEnd_ = false;
    bool dragging_ = false;
    QTimer frame_;
    QElapsedTimer sinceFrame_;
};
