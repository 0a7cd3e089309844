#include "gui/results_view.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int kMargin = 4;
constexpr qint64 kFrameMs = 16;
const std::u16string kNoText;

// One line laid out, at the view's font.
struct LaidOut {
    LaidOut(QStringView text, const QFont& font) : layout(text.toString(), font) {
        layout.beginLayout();
        line = layout.createLine();
        layout.endLayout();
    }
    QTextLayout layout;
    QTextLine line;
};

// What a screen reader reads of the box: its text as shown, the caret and
// the selection.
class ResultsAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ResultsAccessible(ResultsView* view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = state.multiLine = state.selectableText = true;
        return state;
    }
    void selection(int, int* start, int* end) const override {
        const QString selected = view()->selectedText();
        *start = *end = 0;
        if (!selected.isEmpty()) {
            *end = static_cast<int>(view()->caretPosition());
            *start = *end - static_cast<int>(selected.size());
        }
    }
    int selectionCount() const override { return view()->selectedText().isEmpty() ? 0 : 1; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return static_cast<int>(view()->caretPosition()); }
    void setCursorPosition(int) override {}
    QString text(QAccessible::Text kind) const override { return QAccessibleWidget::text(kind); }
    QString text(int start, int end) const override {
        return view()->shownText().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(view()->shownText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    ResultsView* view() const { return static_cast<ResultsView*>(widget()); }
};

QAccessibleInterface* accessibleResults(const QString&, QObject* object) {
    auto* view = dynamic_cast<ResultsView*>(object);
    return view != nullptr ? new ResultsAccessible(view) : nullptr;
}

}  // namespace

ResultsView::ResultsView(QWidget* parent) : QAbstractScrollArea(parent), text_(&kNoText) {
    static const bool accessible = (QAccessible::installFactory(accessibleResults), true);
    (void)accessible;
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    frame_.setSingleShot(true);
    QObject::connect(&frame_, &QTimer::timeout, this, [this] { refresh(); });
    QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
                     qOverload<>(&QWidget::update));
    QObject::connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
                     qOverload<>(&QWidget::update));
    sinceFrame_.start();
}

void ResultsView::showText(const std::u16string& text) {
    text_ = &text;
    starts_.assign(1, 0);
    indexFrom(0);
    anchor_ = caret_ = 0;
    widest_ = 0;
    followEnd_ = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    refresh();
}

void ResultsView::showAppended(std::u16string_view part) {
    indexFrom(all().size() - qsizetype(part.size()));
    const qint64 elapsed = sinceFrame_.elapsed();
    if (elapsed >= kFrameMs) {
        refresh();
    } else if (!frame_.isActive()) {
        frame_.start(static_cast<int>(kFrameMs - elapsed));
    }
}

void ResultsView::showSelection(const std::u16string& text, std::ptrdiff_t start,
                                std::ptrdiff_t length) {
    if (start >= std::ssize(text)) {
        followEnd_ = true;  // with the lines of the frame
        if (!frame_.isActive()) {
            refresh();
        }
        return;
    }
    refresh();
    anchor_ = start;
    moveCaret(start + length, true);
}

void ResultsView::showPending() {
    if (frame_.isActive()) {
        refresh();
    }
}

QString ResultsView::shownText() const {
    QString shown = all().toString();
    return shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

qsizetype ResultsView::caretPosition() const {
    const qsizetype at = lineOf(caret_);
    qsizetype hidden = 0;  // carriage returns before the lines up to the caret's
    for (qsizetype i = 1; i <= at; ++i) {
        hidden += starts_[i] >= 2 && all()[starts_[i] - 2] == u'\r';
    }
    return std::min(caret_, starts_[at] + line(at).size()) - hidden;
}

QString ResultsView::selectedText() const {
    const qsizetype from = std::min(anchor_, caret_);
    QString selected = all().mid(from, std::max(anchor_, caret_) - from).toString();
    return selected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void ResultsView::selectAll() {
    anchor_ = 0;
    moveCaret(all().size(), true);
}

void ResultsView::copy() const {
    if (anchor_ != caret_) {
        QApplication::clipboard()->setText(selectedText());
    }
}

QMenu* ResultsView::createStandardContextMenu() {
    // The toolkit's own texts, and its translations of them.
    const auto item = [](const char* text, QKeySequence::StandardKey key) {
        return QCoreApplication::translate("QWidgetTextControl", text) + u'\t' +
               QKeySequence(key).toString(QKeySequence::NativeText);
    };
    auto* menu = new QMenu(this);
    menu->addAction(item("&Copy", QKeySequence::Copy), this, [this] { copy(); })
        ->setEnabled(anchor_ != caret_);
    menu->addSeparator();
    menu->addAction(item("Select All", QKeySequence::SelectAll), this, [this] { selectAll(); })
        ->setEnabled(!text_->empty());
    return menu;
}

void ResultsView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int height = lineHeight();
    const qsizetype first = verticalScrollBar()->value();
    const qsizetype from = std::min(anchor_, caret_);
    const qsizetype to = std::max(anchor_, caret_);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    const int widest = widest_;
    for (qsizetype i = first; i < lineCount(); ++i) {
        const QPointF at(kMargin - horizontalScrollBar()->value(),
                         kMargin + static_cast<double>((i - first) * height));
        if (at.y() > viewport()->height()) {
            break;
        }
        const QStringView text = line(i);
        LaidOut shown(text, font());
        widest_ = std::max(widest_, static_cast<int>(std::ceil(shown.line.naturalTextWidth())));
        const qsizetype start = std::clamp(from - starts_[i], qsizetype{0}, text.size());
        const qsizetype end = std::clamp(to - starts_[i], qsizetype{0}, text.size());
        QList<QTextLayout::FormatRange> selection;
        if (end > start) {
            selection.append({static_cast<int>(start), static_cast<int>(end - start), selected});
        }
        shown.layout.draw(&painter, at, selection);
        if (hasFocus() && lineOf(caret_) == i) {
            shown.layout.drawCursor(&painter, at, static_cast<int>(caret_ - starts_[i]));
        }
    }
    if (widest_ != widest) {
        updateScrollBars();
    }
}

void ResultsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    const qsizetype at = lineOf(caret_);
    const qsizetype column = std::min(caret_ - starts_[at], line(at).size());
    const auto lineEnd = [this](qsizetype i) { return starts_[i] + line(i).size(); };
    const auto onLine = [&](qsizetype i) {
        i = std::clamp(i, qsizetype{0}, lineCount() - 1);
        return starts_[i] + std::min(column, line(i).size());
    };
    const struct {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        qsizetype to;
    } moves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar,
         column < line(at).size() ? caret_ + 1 : (at + 1 < lineCount() ? starts_[at + 1] : caret_)},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar,
         column > 0 ? starts_[at] + column - 1 : (at > 0 ? lineEnd(at - 1) : caret_)},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, onLine(at + 1)},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, onLine(at - 1)},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, onLine(at + visibleLines())},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage,
         onLine(at - visibleLines())},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, starts_[at]},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, lineEnd(at)},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, 0},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
         lineEnd(lineCount() - 1)},
    };
    for (const auto& m : moves) {
        if (event == m.move || event == m.select) {
            moveCaret(m.to, event == m.select);
            return;
        }
    }
    event->ignore();  // Enter goes on to the window's default button
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        moveCaret(positionAt(event->position().toPoint()),
                  (event->modifiers() & Qt::ShiftModifier) != 0);
    }
}

void ResultsView::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        moveCaret(positionAt(event->position().toPoint()), true);
    }
}

void ResultsView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        // The window system's selection, for a middle-click paste elsewhere.
        if (anchor_ != caret_ && QApplication::clipboard()->supportsSelection()) {
            QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
        }
    }
}

void ResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
    const qsizetype at = positionAt(event->position().toPoint());
    const qsizetype i = lineOf(at);
    const QStringView text = line(i);
    const auto inWord = [&](qsizetype column) { return text[column].isLetterOrNumber(); };
    qsizetype start = at - starts_[i];
    qsizetype end = start;
    while (start > 0 && inWord(start - 1)) {
        --start;
    }
    while (end < text.size() && inWord(end)) {
        ++end;
    }
    anchor_ = starts_[i] + start;
    moveCaret(starts_[i] + end, true);
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->exec(event->globalPos());
}

void ResultsView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ResultsView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ResultsView::scrollContentsBy(int, int) {
    viewport()->update();
}

qsizetype ResultsView::lineOf(qsizetype position) const {
    return std::upper_bound(starts_.begin(), starts_.end(), position) - starts_.begin() - 1;
}

QStringView ResultsView::line(qsizetype index) const {
    const qsizetype start = starts_[index];
    qsizetype end = index + 1 < lineCount() ? starts_[index + 1] - 1 : all().size();
    if (end > start && all()[end - 1] == u'\r') {
        --end;
    }
    return all().mid(start, end - start);
}

qsizetype ResultsView::positionAt(QPoint point) const {
    const qsizetype i = std::clamp<qsizetype>(
        verticalScrollBar()->value() + (point.y() - kMargin) / lineHeight(), 0, lineCount() - 1);
    const LaidOut shown(line(i), font());
    return starts_[i] + shown.line.xToCursor(point.x() - kMargin + horizontalScrollBar()->value());
}

int ResultsView::lineHeight() const {
    return fontMetrics().height();
}

int ResultsView::visibleLines() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight());
}

void ResultsView::indexFrom(qsizetype position) {
    for (qsizetype i = all().indexOf(u'\n', position); i >= 0; i = all().indexOf(u'\n', i + 1)) {
        starts_.push_back(i + 1);
    }
}

void ResultsView::moveCaret(qsizetype position, bool select) {
    caret_ = std::clamp(position, qsizetype{0}, all().size());
    if (!select) {
        anchor_ = caret_;
    }
    ensureCaretVisible();
    viewport()->update();
}

void ResultsView::refresh() {
    frame_.stop();
    sinceFrame_.restart();
    if (followEnd_) {
        followEnd_ = false;
        anchor_ = caret_ = all().size();
    }
    updateScrollBars();
    ensureCaretVisible();
    viewport()->update();
}

void ResultsView::updateScrollBars() {
    const int visible = visibleLines();
    verticalScrollBar()->setRange(0,
                                  static_cast<int>(std::max<qsizetype>(0, lineCount() - visible)));
    verticalScrollBar()->setPageStep(visible);
    const int width = viewport()->width() - 2 * kMargin;
    horizontalScrollBar()->setRange(0, std::max(0, widest_ - width));
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setSingleStep(fontMetrics().averageCharWidth() * 2);
}

void ResultsView::ensureCaretVisible() {
    const qsizetype at = lineOf(caret_);
    QScrollBar* vertical = verticalScrollBar();
    if (at < vertical->value()) {
        vertical->setValue(static_cast<int>(at));
    } else if (at >= vertical->value() + visibleLines()) {
        vertical->setValue(static_cast<int>(at - visibleLines() + 1));
    }
    const QStringView text = line(at);
    const int x = fontMetrics().horizontalAdvance(
        text.first(std::min(caret_ - starts_[at], text.size())).toString());
    widest_ = std::max(widest_, x);
    updateScrollBars();
    QScrollBar* horizontal = horizontalScrollBar();
    const int width = viewport()->width() - 2 * kMargin;
    if (x < horizontal->value()) {
        horizontal->setValue(x);
    } else if (x > horizontal->value() + width) {
        horizontal->setValue(x - width);
    }
}
