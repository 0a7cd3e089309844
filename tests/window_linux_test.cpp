#include "app/toolkit_language.h"
#include "gui/form_window.h"
#include "gui/qt_window_system.h"
#include "window_behaviour.h"

// The widgets' modules whole.
#include <QtTest>
#include <QtWidgets>

#include <clocale>

namespace {

// Through the widgets: what a user's keys and clicks reach. The driver of
// the shared window tests.
struct Window : LoadedForm, QObject {
    QString caption;  // cmdPing's at its last paint; outlives the widgets
    FormWindow window{form};
    Window() {
        control("cmdPing")->installEventFilter(this);
        form.Form_Load();
        QApplication::setActiveWindow(&window);
        QCoreApplication::processEvents();
    }
    bool eventFilter(QObject* button, QEvent* event) override {
        caption = event->type() == QEvent::Paint ? button->property("text").toString() : caption;
        return false;
    }
    QWidget* control(const char* name) { return window.control(name); }
    // The results as the box shows them.
    QString shown() { return QString::fromStdU16String(text()).replace("\r\n", "\n"); }

    void type(const char* box, const char16_t* text) {
        control(box)->setFocus();
        QTest::keyClick(control(box), Qt::Key_End);
        QTest::keyClicks(control(box), QString::fromUtf16(text));
    }
    void click(const char* button) { QTest::mouseClick(control(button), Qt::LeftButton); }
    void post(Key key, const char* name) {
        const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape};
        control(name)->setFocus();
        QCoreApplication::postEvent(control(name),
                                    new QKeyEvent(QEvent::KeyPress, keys[int(key)], {}));
    }
    void serve() { QCoreApplication::processEvents(); }
    using FakeForm::text;
    std::u16string text(const char* name) {
        return control(name)->property("text").toString().toStdU16String();
    }
    bool enabled(const char* name) { return control(name)->isEnabled(); }
    QWidget* focus() { return QApplication::focusWidget(); }
    void close() { window.close(); }
    bool visible() { return window.isVisible(); }
    std::u16string painted() { return caption.toStdU16String(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, WindowBehaviour, Window);

// The window where it fits the screen, with its title and its icon in the
// Windows program's sizes; a box named by its label without the colon, a
// button by its caption without blanks, cmdPing drawn as the default button.
// The toolkit's texts follow the user's language, here one written from the
// right; the program's own texts and its layout never do. A box is wide
// enough for its whole title in a window manager's title bar (openbox: 提示
// from 144 pixels on).
TEST(Window, shouldShowEveryControlNamedAndTheToolkitsTextsInTheUsersLanguage) {
    const ToolkitLanguage language(QLocale(QLocale::Hebrew, QLocale::Israel));
    Window w;
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Sondrel For Tamor  Ver 1.1 beta"));
    // At 259 from the top as laid out; from the left not at 471, which would
    // put its right side off the 800 pixels of the offscreen screen.
    ASSERT_EQ(w.window.screen()->availableGeometry(), QRect(0, 0, 800, 800));
    EXPECT_EQ(w.window.geometry(), QRect(192, 259, 416, 248));
    EXPECT_EQ(w.window.layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(w.window.windowIcon().availableSizes(),
              QList<QSize>({{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    // Fixed in size, so nothing to maximize.
    EXPECT_EQ(w.window.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // Fixed in size; the labels on the window system's inactive-border grey.
    EXPECT_EQ(w.window.minimumSize(), w.window.maximumSize());
    const QRect label = w.control("lblPings")->geometry();
    EXPECT_EQ(w.control("Frame1")->grab(label).toImage().pixelColor(0, 0),
              QColor(0xD4, 0xD0, 0xC8));
    QStringList named;  // each control's name, its text, and "*" for the default button
    for (const char* name :
         {"cmdPing", "cmdClose", "ComdSave", "Host", "lblPingTimes", "lblPacketSize"}) {
        QWidget* control = w.control(name);
        named << QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name) + u'|' +
                     control->property("text").toString() +
                     (control->property("default").toBool() ? "*" : "");
    }
    EXPECT_EQ(named, QStringList({"开始|开始*", "关闭|关闭", "保存设置| 保存设置",
                                  "请输入IP地址或网址|127.0.0.1", "次数|4", "包大小|32"}));
    // A box's OK button, and whether the box is as wide as room.
    const auto shown = [](const QString& prompt, int room) {
        std::pair<QString, bool> seen;
        QTimer::singleShot(0, [&] {
            auto* box = static_cast<QMessageBox*>(QApplication::activeModalWidget());
            seen = {box->buttons().value(0)->text(), box->width() >= room};
            box->buttons().value(0)->click();
        });
        QtWindowSystem().messageBox(prompt.toStdU16String(), MsgBox::OkOnly, u"提示");
        return seen;
    };
    EXPECT_EQ(shown(QStringLiteral(u"已经保存参数"), 144),
              std::pair(QStringLiteral(u"אישור"), true));
    // A prompt wider than the title needs is never cut to it.
    const QString path(60, u'/');
    EXPECT_TRUE(shown(path, w.window.fontMetrics().horizontalAdvance(path)).second);
}

// The box shows a new text at once, the lines appended to it together at
// the next frame, and its caret follows them there; at once when the thread
// is about to wait.
TEST(Window, shouldFollowTheResultsToTheirLastLineAtTheDisplaysRate) {
    Window w;
    auto* box = static_cast<QPlainTextEdit*>(w.control("txtStatus"));
    const auto shown = [&] { return std::pair(box->toPlainText(), box->textCursor().position()); };
    w.form.txtStatus.setText(u"a\r\nb");
    w.form.txtStatus.append(u"c\r\n");
    w.form.txtStatus.append(u" d");
    w.form.txtStatus.setSelStart(std::ssize(w.text()));
    EXPECT_EQ(shown(), std::pair(QStringLiteral("a\nb"), 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == std::pair(w.shown(), 7); }));
    w.form.txtStatus.setSelStart(4);  // after "a\r\nb"
    EXPECT_EQ(std::pair(box->textCursor().anchor(), box->textCursor().position()), std::pair(3, 3));
    w.form.txtStatus.append(u"\r\ne");
    w.form.txtStatus.setSelStart(std::ssize(w.text()));
    w.window.paintWhileWaiting();
    EXPECT_EQ(shown(), std::pair(QStringLiteral("a\nbc\n d\ne"), 9));
    // After a long run, its last line in view.
    w.form.lblPingTimes.setText(u"200");
    w.icmp.answers.assign(200, ScriptedIcmp::reply(1));
    w.form.cmdPing_Click();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return shown() == std::pair(w.shown(), int(w.shown().size())); }));
    EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
    EXPECT_GT(box->verticalScrollBar()->maximum(), 190);
}

// The results read-only, yet selected by keys as by the mouse, and copied
// as shown. Labels stay on the light grey while their text reads well there
// (a contrast of 4.5 or more); else on the palette's window colour, as under
// a dark palette.
TEST(Window, shouldLetTheResultsBeCopiedButNeverChangedAndKeepTheLabelsReadable) {
    Window w;
    QWidget* box = w.control("txtStatus");
    w.form.txtStatus.setText(u" Reply from a\r\nStatus b\r\n");
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("xy\b"));
    EXPECT_EQ(w.text(), u" Reply from a\r\nStatus b\r\n");
    QTest::keySequence(box, QKeySequence::SelectNextLine);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(" Reply from a\n"));
    const QPalette light = QApplication::palette();
    // The palette's window colour and text colour; the labels' background.
    for (const auto& [window, text, background] : {std::tuple(0x353535, 0xFFFFFF, 0x353535),
                                                   {0xFFFFFF, 0x595959, 0xD4D0C8},
                                                   {0xFFFFFF, 0x5F5F5F, 0xFFFFFF}}) {
        QPalette palette(QColor::fromRgb(window), QColor::fromRgb(window));
        palette.setColor(QPalette::WindowText, QColor::fromRgb(text));
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();  // where the window hears of it
        const QWidget* label = w.control("lblIpHost");
        EXPECT_EQ(label->palette().color(label->backgroundRole()), QColor::fromRgb(background));
    }
    QApplication::setPalette(light);
}

// The real box: Abort, Retry, Ignore in that order whatever the style's button
// layout (Mac's would move a reject role's button), Abort the default, and
// neither Esc nor the close request answers it. The program's end: at once,
// with its status.
TEST(QtWindowSystem, shouldOfferAbortRetryAndIgnoreInThatOrderAndTakeOnlyTheirAnswers) {
    for (const int answer : {MsgBox::Abort, MsgBox::Retry, MsgBox::Ignore}) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle() + u'|' + box->text(),
                      QStringLiteral("Error|") + QString::fromStdU16String(kOverflow));
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            // Where a button box puts each role is the style's choice; 1: Mac's.
            auto* buttons = box->findChild<QDialogButtonBox*>();
            buttons->setStyleSheet(QStringLiteral("button-layout: 1"));
            QList<QAbstractButton*> shown = buttons->buttons();
            std::ranges::sort(shown, {}, [&](QWidget* b) { return buttons->layout()->indexOf(b); });
            QStringList texts;
            std::ranges::transform(shown, std::back_inserter(texts), &QAbstractButton::text);
            EXPECT_EQ(texts, QStringList({"Abort", "Retry", "Ignore"}));
            EXPECT_EQ(box->defaultButton(), shown.value(0));
            QTest::keyClick(box, Qt::Key_Escape);
            EXPECT_FALSE(box->windowHandle()->close());
            EXPECT_TRUE(box->isVisible());
            shown.size() == 3 ? shown[answer - MsgBox::Abort]->click() : box->done(0);
        });
        EXPECT_EQ(QtWindowSystem().messageBox(
                      kOverflow, MsgBox::AbortRetryIgnore | MsgBox::Critical, u"Error"),
                  answer);
    }
    EXPECT_EXIT(QtWindowSystem().endProgram(3), testing::ExitedWithCode(3), "");
}

// Without a display, with one that is not there, for -h, and, display or
// not, for an argument that is not the toolkit's, a toolkit option without
// its value, or --version with more: one line, and the end. The package test
// asks for --version and --help. With a display, what the toolkit said while
// it started is said once it has; the window stays.
TEST(Program, shouldAnswerInOneLineWhereItOpensNoWindow) {
    const std::pair<std::string, std::string> cases[] = {
        {PING_PROGRAM, "sondrel-ping: no display[^\n]*\nstatus 2\n"},
        {"DISPLAY=:79 " PING_PROGRAM,
         "[^\n]*\\(could not connect to display :79\\)[^\n]*\nstatus 2\n"},
        {PING_PROGRAM " -h",
         "Usage: sondrel-ping \\[--version \\| -h \\| --help\\][^\n]*\nstatus 0\n"},
        {PING_PROGRAM " -reverse --bogus", "[^\n]*unknown argument '--bogus'[^\n]*\nstatus 2\n"},
        {PING_PROGRAM " -style", "[^\n]*'-style' needs a value[^\n]*\nstatus 2\n"},
        {PING_PROGRAM " --version extra", "[^\n]*takes no other argument[^\n]*\nstatus 2\n"},
        {"QT_QPA_PLATFORM=offscreen timeout 2 " PING_PROGRAM " -style bogus",
         "QApplication: invalid style override 'bogus'[^\n]*\n\tAvailable[^\n]*\nstatus 124\n"},
    };
    const TempFolder dir;
    const std::string heard = (dir.path / "heard").string();
    for (const auto& [command, said] : cases) {
        // Started by the shell with no display but what command sets.
        const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command +
                                 " >" + heard + " 2>&1; echo status $? >>" + heard;
        ASSERT_EQ(std::system(line.c_str()), 0);
        EXPECT_TRUE(std::regex_match(content(heard), std::regex(said))) << content(heard);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program does with a UTF-8 locale: Chinese texts can be encoded.
    // After the toolkit, which sets the environment's.
    std::setlocale(LC_ALL, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
