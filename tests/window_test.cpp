#include "gui/window.h"
#include "app/toolkit_language.h"
#include "fakes.h"
#include "gui/ico_icon.h"
#include "gui/qt_window_system.h"
#include "gui/results_view.h"

#include <memory>

namespace {

// Through the widgets: what a user's keys and clicks reach.
struct Window : FakeForm {
    FormWindow window{form};
    Window() {
        form.Host.setText(QStringLiteral("127.0.0.1"));
        window.show();
        QApplication::setActiveWindow(&window);
        QCoreApplication::processEvents();
    }
    QWidget* control(const char* name) { return window.control(name); }
    ResultsView* status() { return dynamic_cast<ResultsView*>(control("txtStatus")); }
};

QString spoken(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

// Each control where the layout table puts it (a label may be larger, for
// its font), with its caption; a box named by its label without the colon.
TEST(Window, shouldShowEveryControlOfTheLayoutWhereItBelongsWhateverTheWindowsSize) {
    Window w;
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Sondrel For Tamor  Ver 1.1 beta"));
    EXPECT_EQ(w.window.geometry(), QRect(471, 259, 416, 248));
    // Fixed in size, so nothing to maximize.
    EXPECT_EQ(w.window.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    w.window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w.window.resize(800, 600);
    QCoreApplication::processEvents();
    for (const ControlLayout& c : kControls) {
        SCOPED_TRACE(c.name);
        QWidget* widget = w.control(c.name);
        const QRect designed(c.left / 15, c.top / 15, c.width / 15, c.height / 15);
        const QString caption = QString::fromUtf16(c.caption);
        EXPECT_EQ(widget->parentWidget(), *c.container ? w.control(c.container) : &w.window);
        EXPECT_TRUE(widget->isVisible() && widget->isEnabled());
        EXPECT_EQ(widget->pos(), designed.topLeft());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), caption);
            EXPECT_GE(widget->width(),
                      std::max(designed.width(), label->fontMetrics().horizontalAdvance(caption)));
            EXPECT_GE(widget->height(), std::max(designed.height(), label->fontMetrics().height()));
        } else {
            EXPECT_EQ(widget->size(), designed.size());
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // cmdPing drawn as the default button, which Enter presses.
            EXPECT_EQ(std::tuple(button->text(), spoken(button), button->isDefault()),
                      std::tuple(caption, caption, std::string(c.name) == "cmdPing"));
        }
    }
    QStringList boxes;  // each box's name, then its text
    for (const char* name : {"Host", "lblPingTimes", "lblPacketSize"}) {
        boxes << spoken(w.control(name)) << static_cast<QLineEdit*>(w.control(name))->text();
    }
    EXPECT_EQ(boxes, QStringList({"请输入IP地址或网址", "127.0.0.1", "次数", "4", "包大小", "32"}));
    EXPECT_EQ(w.status()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.status()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // Tab walks the controls that take the focus by their tab index, round.
    const std::vector<const char*> order = {
        "txtStatus", "Host", "lblPingTimes", "lblPacketSize", "cmdPing", "cmdClose", "ComdSave"};
    for (size_t i = 0; i < order.size(); ++i) {
        QWidget* next = w.control(order[i]);
        do {
            next = next->nextInFocusChain();
        } while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible());
        EXPECT_EQ(next, w.control(order[(i + 1) % order.size()])) << order[i];
    }
}

// The box shows its text's lines at once; its caret follows the lines of a
// frame a frame later, or at once when the thread is about to wait.
TEST(Window, shouldFollowTheResultsToTheirLastLineAtTheDisplaysRate) {
    Window w;
    ResultsView* box = w.status();
    w.form.txtStatus.setText(QStringLiteral("a\r\nb"));
    w.form.txtStatus.append(QStringLiteral("c\r\n"));
    w.form.txtStatus.append(QStringLiteral(" d"));
    w.form.txtStatus.setSelStart(w.text().size());
    EXPECT_EQ(std::pair(box->shownText(), box->caretPosition()),
              std::pair(QStringLiteral("a\nbc\n d"), qsizetype{0}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->caretPosition() == 7; }));
    w.form.txtStatus.setSelStart(4);  // after "a\r\nb"
    EXPECT_EQ(box->caretPosition(), 3);
    w.form.txtStatus.append(QStringLiteral("\r\ne"));
    w.form.txtStatus.setSelStart(w.text().size());
    w.window.paintWhileWaiting();
    EXPECT_EQ(box->caretPosition(), 9);
    // After a long run, its last line in view.
    w.form.lblPingTimes.setText(QStringLiteral("200"));
    w.icmp.answers.assign(200, ScriptedIcmp::reply(1));
    w.form.cmdPing_Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->caretPosition() == box->shownText().size(); }));
    EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
    EXPECT_GT(box->verticalScrollBar()->maximum(), 190);
}

// Read-only, yet selected by keys and the mouse, and copied as shown.
TEST(Window, shouldLetTheResultsBeSelectedAndCopiedButNeverChanged) {
    Window w;
    ResultsView* box = w.status();
    w.form.txtStatus.setText(QStringLiteral(" Reply from a\r\nStatus b\r\n"));
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("xy\b"));
    EXPECT_EQ(w.text(), QStringLiteral(" Reply from a\r\nStatus b\r\n"));
    const std::pair<QKeySequence::StandardKey, const char*> keys[] = {
        {QKeySequence::SelectNextChar, " "},
        {QKeySequence::SelectEndOfLine, " Reply from a"},
        {QKeySequence::SelectNextChar, " Reply from a\n"},
        {QKeySequence::SelectNextLine, " Reply from a\nStatus b\n"},
        {QKeySequence::SelectPreviousChar, " Reply from a\nStatus b"},
        {QKeySequence::SelectNextChar, " Reply from a\nStatus b\n"},
        {QKeySequence::SelectPreviousChar, " Reply from a\nStatus b"},
        {QKeySequence::MoveToStartOfLine, ""},
        {QKeySequence::SelectEndOfDocument, "Status b\n"},
        {QKeySequence::SelectAll, " Reply from a\nStatus b\n"},
        {QKeySequence::SelectNextChar, " Reply from a\nStatus b\n"}};
    for (const auto& [key, selected] : keys) {
        const QKeySequence sequence(key);
        QTest::keyClick(box, Qt::Key(sequence[0].key()), sequence[0].keyboardModifiers());
        EXPECT_EQ(box->selectedText(), QString::fromLatin1(selected))
            << sequence.toString().toStdString();
    }
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), box->shownText());
    // A drag over the second line's first word; a double click on the first line's last.
    QWidget* area = box->viewport();
    const QFontMetrics metrics = box->fontMetrics();
    const int second = 4 + metrics.height() * 3 / 2;
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(4, second));
    QTest::mouseMove(area, QPoint(4 + metrics.horizontalAdvance(QStringLiteral("Status")), second));
    QTest::mouseRelease(area, Qt::LeftButton, {}, area->mapFromGlobal(QCursor::pos()));
    EXPECT_EQ(box->selectedText(), QStringLiteral("Status"));
    QTest::mouseDClick(area, Qt::LeftButton, {},
                       QPoint(metrics.horizontalAdvance(QStringLiteral(" Reply from a")), 6));
    EXPECT_EQ(box->selectedText(), QStringLiteral("a"));
}

// Each frame of an echo's wait paints what changed, say the caption of a
// stop request taken at the yield before; nothing else runs until the next
// yield, neither a click nor a queued call. A click takes the focus first, so
// the box it leaves loses its blanks; the window does not close during a run.
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
    auto* ping = static_cast<QPushButton*>(w.control("cmdPing"));
    auto* times = static_cast<QLineEdit*>(w.control("lblPingTimes"));
    times->setFocus();
    QTest::keyClicks(times, QStringLiteral(" 2 "));
    EXPECT_EQ(w.form.lblPingTimes.text(), QStringLiteral("4 2 "));
    ping->installEventFilter(&painted);
    int served = 0;
    QStringList frames;
    w.icmp.whileBlocked = [&] {
        QMetaObject::invokeMethod(
            &w.window, [&] { ++served; }, Qt::QueuedConnection);
        w.window.paintWhileWaiting();
        frames.append(painted.caption);
    };
    bool closedDuringRun = true;
    w.ui.atYield[1] = [&] {
        closedDuringRun = w.window.close();
        EXPECT_EQ(std::pair(ping->text(), w.control("cmdClose")->isEnabled()),
                  std::pair(QStringLiteral("Stop"), false));
    };
    w.ui.atYield[2] = [&] { QTest::mouseClick(ping, Qt::LeftButton); };
    QTest::mouseClick(ping, Qt::LeftButton);
    EXPECT_EQ(frames, QStringList({QStringLiteral("Stop"), QStringLiteral("Ping")}));
    EXPECT_EQ(std::pair(w.form.lblPingTimes.text(), times->text()),
              std::pair(QStringLiteral("42"), QStringLiteral("42")));
    EXPECT_EQ(std::tuple(closedDuringRun, w.icmp.sent.size(), times->hasFocus(), served),
              std::tuple(false, 2u, false, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(served, 2);
    EXPECT_TRUE(w.window.close());
    EXPECT_TRUE(w.form.closed());
}

// cmdPing is the default button: Enter presses it unless a button has the
// focus, once; Esc presses nothing.
TEST(Window, shouldStartOrStopOneRunPerEnterAndNoneByEscape) {
    // Pressed at this yield of a run of 4 echoes (0: before); the echoes sent
    // and the yields (the host box's Enter yields once more after its click).
    const std::tuple<const char*, Qt::Key, int, size_t, int> cases[] = {
        {"Host", Qt::Key_Return, 0, 4, 5},          {"lblPingTimes", Qt::Key_Enter, 0, 4, 4},
        {"lblPacketSize", Qt::Key_Return, 0, 4, 4}, {"txtStatus", Qt::Key_Return, 0, 4, 4},
        {"txtStatus", Qt::Key_Escape, 0, 0, 0},     {"lblPacketSize", Qt::Key_Escape, 0, 0, 0},
        {"Host", Qt::Key_Return, 1, 1, 2},          {"lblPingTimes", Qt::Key_Return, 2, 2, 2},
        {"ComdSave", Qt::Key_Return, 0, 0, 1},  // the focused button's own
    };
    for (const auto& [control, key, yield, sent, yields] : cases) {
        SCOPED_TRACE(std::string(control) + " " + std::to_string(key));
        Window w;
        QWidget* focused = w.control(control);
        focused->setFocus();
        const auto press = [&] { QTest::keyClick(focused, key, Qt::ShiftModifier); };
        yield == 0 ? press() : (w.ui.atYield[yield] = press, w.form.cmdPing_Click());
        EXPECT_EQ(std::pair(w.icmp.sent.size(), w.ui.yields), std::pair(sent, yields));
        EXPECT_EQ(w.form.cmdPing.caption(), QString::fromUtf16(sent ? u"Ping" : u"开始"));
    }
}

// The toolkit's texts follow the user's language; the program's own texts
// and its fixed layout never do. A box is wide enough for its whole title in
// a window manager's title bar (openbox: 提示 from 144 pixels on).
TEST(Window, shouldShowTheToolkitsTextsInTheUsersLanguageAndEveryTitleWhole) {
    // The OK button's caption and the results' menu, in the user's language.
    const std::tuple<QLocale, const char16_t*, const char16_t*> cases[] = {
        {QLocale(QLocale::Chinese, QLocale::China), u"确定", u"复制(&C)||全选"},
        {QLocale(QLocale::Hebrew, QLocale::Israel), u"אישור", u"הע&תק||בחר הכל"},
    };
    for (const auto& [locale, okText, menuText] : cases) {
        SCOPED_TRACE(locale.name().toStdString());
        const ToolkitLanguage language(locale);
        Window w;
        const std::unique_ptr<QMenu> menu(w.status()->createStandardContextMenu());
        QStringList items;
        for (const QAction* action : menu->actions()) {
            items.append(action->text().section(u'\t', 0, 0));
        }
        EXPECT_EQ(items.join(u'|'), QString::fromUtf16(menuText));
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
        EXPECT_EQ(ok, QString::fromUtf16(okText));
        EXPECT_GE(spare, 0);
        // A prompt wider than the title needs is never cut to it.
        const QString path(60, u'/');
        EXPECT_GE(shown(path, w.window.fontMetrics().horizontalAdvance(path)).second, 0);
    }
}

// The desktop's icons and the window's are one design: the window's is read
// from the .ico without the image plugin, each size as its PNG.
TEST(Window, shouldCarryTheIconOfTheDesktopEntry) {
    const QByteArray ico = readFile(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping.ico"));
    const QIcon icon = iconFromIco(ico);
    ASSERT_EQ(icon.availableSizes(), QList<QSize>({{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    for (const int size : {16, 24, 32, 48}) {
        const QImage png(
            QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping-%1.png").arg(size));
        EXPECT_EQ(icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  png.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << size;
    }
    // Whatever the bytes, no crash and nothing read past their end; a cut
    // image, or one wider than an icon, is left out.
    for (qsizetype cut = 0; cut < ico.size(); cut += 97) {
        EXPECT_LT(iconFromIco(ico.first(cut)).availableSizes().size(), 4);
    }
    QByteArray bad = ico;
    bad[6 + 16 * 7 + 15] = 0x7F;  // the 48-pixel image's offset past the end
    qToLittleEndian<int32_t>(-256, bad.data() + 1518 + 4);  // the 16-pixel one's width
    EXPECT_EQ(iconFromIco(bad).availableSizes(), QList<QSize>({{24, 24}, {32, 32}}));
    EXPECT_TRUE(iconFromIco(QByteArray(64, '\xFF')).isNull());
    // The 16-pixel image said to be just its header and colours, then a byte less.
    for (const auto& [bytes, sizes] : {std::pair(40 + 16 * 16 * 4, 4), {40 + 16 * 16 * 4 - 1, 3}}) {
        QByteArray cut = ico;
        for (int entry = 6; entry < 6 + 16 * 8; entry += 16) {
            if (qFromLittleEndian<int32_t>(cut.data() + entry + 12) == 1518) {
                qToLittleEndian<int32_t>(bytes, cut.data() + entry + 8);
            }
        }
        EXPECT_EQ(iconFromIco(cut).availableSizes().size(), sizes) << bytes;
    }
    EXPECT_EQ(Window().window.windowIcon().availableSizes().size(), 4);
}

}  // namespace
