#include "gui/window.h"
#include "app/toolkit_language.h"
#include "fakes.h"
#include "gui/ico_icon.h"
#include "gui/qt_window_system.h"
#include "gui/results_view.h"

#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Through the widgets: what a user's keys and clicks reach.
struct Window : FakeForm {
    FormWindow window{form};
    Window() {
        window.show();
        QApplication::setActiveWindow(&window);
        QCoreApplication::processEvents();
    }
    QWidget* control(const char* name) { return window.control(name); }
    ResultsView* status() { return dynamic_cast<ResultsView*>(control("txtStatus")); }
};

TEST(Window, shouldShowEveryControlAtItsPlaceWithItsCaption) {
    Window w;
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Sondrel For Tamor  Ver 1.1 beta"));
    EXPECT_EQ(w.window.geometry(), QRect(471, 259, 416, 248));
    // Fixed in size, so nothing to maximize.
    EXPECT_EQ(w.window.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const struct {
        const char* name;
        const char* container;
        const char16_t* caption;
        QRect pixels;
        const char16_t* spoken;  // the name a screen reader says
    } expected[] = {
        {"Frame1", "", u"", {8, 0, 401, 97}, u""},
        {"ComdSave", "Frame1", u" 保存设置", {184, 56, 65, 25}, u" 保存设置"},
        {"cmdClose", "Frame1", u"关闭", {104, 56, 65, 25}, u"关闭"},
        {"Host", "Frame1", u"www.example.com", {16, 30, 233, 19}, u"请输入IP地址或网址"},
        {"cmdPing", "Frame1", u"开始", {16, 56, 65, 25}, u"开始"},
        {"lblPingTimes", "Frame1", u"4", {304, 32, 89, 18}, u"次数"},
        {"lblPacketSize", "Frame1", u"32", {304, 64, 89, 18}, u"包大小"},
        {"lblPacket", "Frame1", u"包大小:", {256, 64, 42, 12}, u"包大小:"},
        {"lblPings", "Frame1", u"次数:", {256, 32, 30, 12}, u"次数:"},
        {"lblIpHost", "Frame1", u"请输入IP地址或网址:", {16, 12, 114, 12}, u"请输入IP地址或网址:"},
        {"txtStatus", "", u"", {8, 96, 401, 145}, u""},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        QWidget* widget = w.control(e.name);
        EXPECT_EQ(widget->parentWidget(), *e.container ? w.control(e.container) : &w.window);
        EXPECT_TRUE(widget->isVisible());
        EXPECT_TRUE(widget->isEnabled());
        EXPECT_EQ(widget->pos(), e.pixels.topLeft());
        EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name),
                  QString::fromUtf16(e.spoken));
        const QString caption = QString::fromUtf16(e.caption);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), caption);
            // Never smaller than designed; taller where the font needs it.
            EXPECT_GE(widget->width(),
                      std::max(e.pixels.width(), label->fontMetrics().horizontalAdvance(caption)));
            EXPECT_GE(widget->height(), std::max(e.pixels.height(), label->fontMetrics().height()));
        } else {
            EXPECT_EQ(widget->size(), e.pixels.size());
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), caption);
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(edit->text(), caption);
        }
    }
    auto* status = w.status();
    EXPECT_EQ(status->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(status->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // Nothing moves when the window is resized.
    w.window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w.window.resize(800, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(status->geometry(), QRect(8, 96, 401, 145));
}

TEST(Window, shouldTabThroughTheControlsByTabIndex) {
    Window w;
    const std::vector<const char*> order = {
        "txtStatus", "Host", "lblPingTimes", "lblPacketSize", "cmdPing", "cmdClose", "ComdSave"};
    // What Tab moves to: the next widget in the chain that takes focus by Tab.
    const auto next = [](QWidget* widget) {
        do {
            widget = widget->nextInFocusChain();
        } while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisible());
        return widget;
    };
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(next(w.control(order[i])), w.control(order[(i + 1) % order.size()])) << order[i];
    }
    for (const char* name : {"Frame1", "lblPacket", "lblPings", "lblIpHost"}) {
        EXPECT_EQ(w.control(name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST(Window, shouldShowLinesWhileTheTextKeepsItsCrLf) {
    Window w;
    w.form.txtStatus.setText(QStringLiteral("a\r\nb"));
    w.form.txtStatus.append(QStringLiteral("c\r\n"));
    w.form.txtStatus.append(QStringLiteral(" d"));
    w.form.txtStatus.setSelStart(w.text().size());
    EXPECT_EQ(w.text(), QStringLiteral("a\r\nbc\r\n d"));
    EXPECT_EQ(w.status()->shownText(), QStringLiteral("a\nbc\n d"));
    // Lines appended within one frame are shown together, a frame later.
    EXPECT_EQ(w.status()->caretPosition(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.status()->caretPosition() == 7; }));
    w.form.txtStatus.setSelStart(4);  // after "a\r\nb"
    EXPECT_EQ(w.status()->caretPosition(), 3);
    // Unless the run is about to wait: then at once.
    w.form.txtStatus.append(QStringLiteral("\r\ne"));
    w.form.txtStatus.setSelStart(w.text().size());
    w.window.paintWhileWaiting();
    EXPECT_EQ(w.status()->caretPosition(), 9);
}

// Read-only, yet selected by keys and the mouse, and copied as shown.
TEST(Window, shouldLetTheResultsBeSelectedAndCopiedButNeverChanged) {
    Window w;
    ResultsView* box = w.status();
    w.form.txtStatus.setText(QStringLiteral(" Reply from a\r\nStatus b\r\n"));
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("xy\b"));
    EXPECT_EQ(w.text(), QStringLiteral(" Reply from a\r\nStatus b\r\n"));
    const struct {
        QKeySequence::StandardKey key;
        const char* selected;
    } keys[] = {{QKeySequence::SelectEndOfLine, " Reply from a"},
                {QKeySequence::SelectNextChar, " Reply from a\n"},
                {QKeySequence::SelectNextLine, " Reply from a\nStatus b\n"},
                {QKeySequence::SelectPreviousChar, " Reply from a\nStatus b"},
                {QKeySequence::MoveToStartOfLine, ""},
                {QKeySequence::SelectEndOfDocument, "Status b\n"},
                {QKeySequence::SelectAll, " Reply from a\nStatus b\n"}};
    for (const auto& k : keys) {
        const QKeySequence sequence(k.key);
        QTest::keyClick(box, Qt::Key(sequence[0].key()), sequence[0].keyboardModifiers());
        EXPECT_EQ(box->selectedText(), QString::fromLatin1(k.selected))
            << sequence.toString().toStdString();
    }
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), box->shownText());
    // A drag over the second line's first word; a double click on the first line's last.
    QWidget* area = box->viewport();
    const int line = box->fontMetrics().height();
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(4, 4 + line * 3 / 2));
    QTest::mouseMove(area,
                     QPoint(4 + box->fontMetrics().horizontalAdvance(QStringLiteral("Status")),
                            4 + line * 3 / 2));
    QTest::mouseRelease(area, Qt::LeftButton, {}, area->mapFromGlobal(QCursor::pos()));
    EXPECT_EQ(box->selectedText(), QStringLiteral("Status"));
    QTest::mouseDClick(area, Qt::LeftButton, {},
                       QPoint(box->fontMetrics().horizontalAdvance(QStringLiteral(" Reply from a")),
                              4 + line / 2));
    EXPECT_EQ(box->selectedText(), QStringLiteral("a"));
}

// Each frame of an echo's wait paints what changed, say the caption of a
// stop request taken at the yield before; nothing else runs until the next
// yield, neither a click nor a queued call.
TEST(Window, shouldPaintAStopRequestWithinAFrameOfTheYieldThatTookIt) {
    struct PaintedCaption : QObject {
        QString caption;
        bool eventFilter(QObject* button, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                caption = static_cast<QPushButton*>(button)->text();
            }
            return false;
        }
    } painted;
    Window w;
    w.control("cmdPing")->installEventFilter(&painted);
    int served = 0;
    QStringList frames;
    w.icmp.whileBlocked = [&] {
        QMetaObject::invokeMethod(
            &w.window, [&] { ++served; }, Qt::QueuedConnection);
        w.window.paintWhileWaiting();
        frames.append(painted.caption);
    };
    w.ui.atYield[2] = [&] { QTest::mouseClick(w.control("cmdPing"), Qt::LeftButton); };
    w.form.Host.setText(QStringLiteral("127.0.0.1"));
    w.form.cmdPing_Click();
    EXPECT_EQ(frames, QStringList({QStringLiteral("Stop"), QStringLiteral("Ping")}));
    EXPECT_EQ(served, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(served, 2);
}

TEST(Window, shouldShowTheLastLineOnceARunHasEnded) {
    Window w;
    w.form.Host.setText(QStringLiteral("127.0.0.1"));
    w.form.lblPingTimes.setText(QStringLiteral("200"));
    w.icmp.answers.assign(200, ScriptedIcmp::reply(1));
    w.form.cmdPing_Click();
    QString shown = w.text();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(w.status()->shownText(), shown);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.status()->caretPosition() == shown.size(); }));
    EXPECT_EQ(w.status()->verticalScrollBar()->value(), w.status()->verticalScrollBar()->maximum());
}

// cmdPing is the default button: Enter presses it unless a button has the
// focus, once; Esc presses nothing.
TEST(Window, shouldStartOrStopOneRunPerEnterAndNoneByEscape) {
    EXPECT_TRUE(static_cast<QPushButton*>(Window().control("cmdPing"))->isDefault());
    const struct {
        const char* control;
        Qt::Key key;
        int yield;  // pressed at this yield of a run of 4 echoes; 0: before
        size_t sent;
    } cases[] = {
        {"Host", Qt::Key_Return, 0, 4},          {"lblPingTimes", Qt::Key_Enter, 0, 4},
        {"lblPacketSize", Qt::Key_Return, 0, 4}, {"txtStatus", Qt::Key_Return, 0, 4},
        {"txtStatus", Qt::Key_Escape, 0, 0},     {"lblPacketSize", Qt::Key_Escape, 0, 0},
        {"Host", Qt::Key_Return, 1, 1},          {"lblPingTimes", Qt::Key_Return, 2, 2},
        {"ComdSave", Qt::Key_Return, 0, 0},  // the focused button's own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.control) + " " + std::to_string(c.key));
        Window w;
        w.form.Host.setText(QStringLiteral("127.0.0.1"));
        w.control(c.control)->setFocus();
        const auto press = [&] { QTest::keyClick(w.control(c.control), c.key, Qt::ShiftModifier); };
        if (c.yield == 0) {
            press();
        } else {
            w.ui.atYield[c.yield] = press;
            w.form.cmdPing_Click();
        }
        EXPECT_EQ(w.icmp.sent.size(), c.sent);
        EXPECT_EQ(w.form.cmdPing.caption(), QString::fromUtf16(c.sent ? u"Ping" : u"开始"));
    }
}

TEST(Window, shouldRemoveTheBlanksOfTheBoxThatTheFocusLeaves) {
    Window w;
    auto* times = static_cast<QLineEdit*>(w.control("lblPingTimes"));
    times->setFocus();
    QTest::keyClicks(times, QStringLiteral(" 2 "));
    EXPECT_EQ(w.form.lblPingTimes.text(), QStringLiteral("4 2 "));
    QTest::mouseClick(w.control("cmdPing"), Qt::LeftButton);
    EXPECT_EQ(w.form.lblPingTimes.text(), QStringLiteral("42"));
    EXPECT_EQ(times->text(), QStringLiteral("42"));
}

TEST(Window, shouldNotCloseWhileARunIsUnderWay) {
    Window w;
    w.form.Host.setText(QStringLiteral("127.0.0.1"));
    bool closedDuringRun = true;
    w.ui.atYield[1] = [&] { closedDuringRun = w.window.close(); };
    w.form.cmdPing_Click();
    EXPECT_FALSE(closedDuringRun);
    EXPECT_TRUE(w.window.close());
    EXPECT_TRUE(w.form.closed());
}

// The toolkit's texts follow the user's language; the program's own texts
// and its fixed layout never do. A box is wide enough for its whole title in
// a window manager's title bar (openbox: 提示 from 144 pixels on).
TEST(Window, shouldShowTheToolkitsTextsInTheUsersLanguageAndEveryTitleWhole) {
    const struct {
        QLocale locale;
        const char16_t* ok;
        const char16_t* copy;
    } cases[] = {
        {QLocale(QLocale::Chinese, QLocale::China), u"确定", u"复制(&C)"},
        {QLocale(QLocale::Hebrew, QLocale::Israel), u"אישור", u"הע&תק"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        const ToolkitLanguage language(c.locale);
        Window w;
        const std::unique_ptr<QMenu> menu(w.status()->createStandardContextMenu());
        EXPECT_EQ(menu->actions().value(0)->text().section(u'\t', 0, 0),
                  QString::fromUtf16(c.copy));
        EXPECT_EQ(w.window.layoutDirection(), Qt::LeftToRight);
        // The box's OK button, and how much wider the box is than room.
        const auto shown = [](const QString& prompt, int room) {
            std::pair<QString, int> seen;
            QTimer::singleShot(0, [&] {
                auto* box = static_cast<QMessageBox*>(QApplication::activeModalWidget());
                seen = {box->buttons().value(0)->text(), box->width() - room};
                box->buttons().value(0)->click();
            });
            QtWindowSystem().messageBox(prompt, MsgBox::OkOnly, QStringLiteral(u"提示"));
            return seen;
        };
        const auto [ok, spare] = shown(QStringLiteral(u"已经保存参数"), 144);
        EXPECT_EQ(ok, QString::fromUtf16(c.ok));
        EXPECT_GE(spare, 0);
        // A prompt wider than the title needs is never cut to it.
        const QString path(60, u'/');
        EXPECT_GE(shown(path, w.window.fontMetrics().horizontalAdvance(path)).second, 0);
    }
}

// The desktop's icons and the window's are one design: the window's is read
// from the .ico without the image plugin, each size as its PNG.
TEST(Window, shouldCarryTheIconOfTheDesktopEntry) {
    QFile file(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    const QIcon icon = iconFromIco(ico);
    ASSERT_EQ(icon.availableSizes(), QList<QSize>({{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    for (const int size : {16, 24, 32, 48}) {
        const QImage png =
            QImage(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping-%1.png").arg(size));
        ASSERT_EQ(png.size(), QSize(size, size));
        EXPECT_EQ(icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  png.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << size;
    }
    // Whatever the bytes, no crash and nothing read past their end.
    for (qsizetype cut = 0; cut < ico.size(); cut += 97) {
        (void)iconFromIco(ico.first(cut));
    }
    EXPECT_TRUE(iconFromIco(QByteArray(64, '\xFF')).isNull());
    Window w;
    EXPECT_EQ(w.window.windowIcon().availableSizes().size(), 4);
}

}  // namespace
