#include "ui/window.h"
#include "fakes.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

struct Window : FakeForm {
    FormWindow window{form};
    Window() {
        window.show();
        QCoreApplication::processEvents();
    }
    template <class W>
    W* widget(const char* name) {
        auto* w = qobject_cast<W*>(window.control(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST(Window, shouldShowEveryControlAtItsPlaceWithItsCaption) {
    Window w;
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Sondrel For Tamor  Ver 1.1 beta"));
    EXPECT_EQ(w.window.size(), QSize(416, 248));
    const struct {
        const char* name;
        const char* container;
        const char16_t* caption;
        QRect pixels;
    } expected[] = {
        {"Frame1", "", u"", {8, 0, 401, 97}},
        {"ComdSave", "Frame1", u" 保存设置", {184, 56, 65, 25}},
        {"cmdClose", "Frame1", u"关闭", {104, 56, 65, 25}},
        {"Host", "Frame1", u"www.example.com", {16, 30, 233, 19}},
        {"cmdPing", "Frame1", u"开始", {16, 56, 65, 25}},
        {"lblPingTimes", "Frame1", u"4", {304, 32, 89, 18}},
        {"lblPacketSize", "Frame1", u"32", {304, 64, 89, 18}},
        {"lblPacket", "Frame1", u"包大小:", {256, 64, 42, 12}},
        {"lblPings", "Frame1", u"次数:", {256, 32, 30, 12}},
        {"lblIpHost", "Frame1", u"请输入IP地址或网址:", {16, 12, 114, 12}},
        {"txtStatus", "", u"", {8, 96, 401, 145}},
    };
    for (const auto& e : expected) {
        QWidget* widget = w.window.control(e.name);
        const QWidget* container = *e.container == '\0' ? &w.window : w.window.control(e.container);
        EXPECT_EQ(widget->parentWidget(), container) << e.name;
        EXPECT_TRUE(widget->isVisible()) << e.name;
        EXPECT_TRUE(widget->isEnabled()) << e.name;
        EXPECT_EQ(widget->pos(), e.pixels.topLeft()) << e.name;
        const QString caption = QString::fromUtf16(e.caption);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), caption);
            // Never smaller than designed; taller where the font needs it.
            EXPECT_GE(widget->width(), e.pixels.width()) << e.name;
            EXPECT_GE(widget->height(), e.pixels.height()) << e.name;
            EXPECT_GE(widget->width(), label->fontMetrics().horizontalAdvance(caption)) << e.name;
            EXPECT_GE(widget->height(), label->fontMetrics().height()) << e.name;
        } else {
            EXPECT_EQ(widget->size(), e.pixels.size()) << e.name;
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), caption) << e.name;
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(edit->text(), caption) << e.name;
        }
    }
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
        EXPECT_EQ(next(w.window.control(order[i])), w.window.control(order[(i + 1) % order.size()]))
            << order[i];
    }
    for (const char* name : {"Frame1", "lblPacket", "lblPings", "lblIpHost"}) {
        EXPECT_EQ(w.window.control(name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST(Window, shouldKeepTheResultsReadOnlyButSelectableWithBothScrollBars) {
    Window w;
    auto* status = w.widget<QPlainTextEdit>("txtStatus");
    EXPECT_TRUE(status->isReadOnly());
    EXPECT_TRUE(status->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(status->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    EXPECT_EQ(status->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(status->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(status->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(Window, shouldShowLinesWhileTheTextKeepsItsCrLf) {
    Window w;
    w.form.txtStatus.setText(QStringLiteral("a\r\nb"));
    w.form.txtStatus.append(QStringLiteral("c\r\n"));
    w.form.txtStatus.append(QStringLiteral(" d"));
    w.form.txtStatus.setSelStart(w.form.txtStatus.text().size());
    auto* status = w.widget<QPlainTextEdit>("txtStatus");
    EXPECT_EQ(w.form.txtStatus.text(), QStringLiteral("a\r\nbc\r\n d"));
    // Lines appended within one frame are shown together, a frame later.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return status->toPlainText() == QStringLiteral("a\nbc\n d"); }));
    EXPECT_EQ(status->textCursor().position(), status->toPlainText().size());
    w.form.txtStatus.setSelStart(4);  // after "a\r\nb"
    EXPECT_EQ(status->textCursor().position(), 3);
}

TEST(Window, shouldPaintWhatItHoldsBackWhenTheRunWaits) {
    Window w;
    w.form.txtStatus.setText(QStringLiteral("a\r\n"));
    w.form.txtStatus.append(QStringLiteral("b\r\n"));
    w.window.showPendingResults();
    EXPECT_EQ(w.widget<QPlainTextEdit>("txtStatus")->toPlainText(), QStringLiteral("a\nb\n"));
}

TEST(Window, shouldShowTheLastLineOnceARunHasEnded) {
    Window w;
    w.form.Host.setText(QStringLiteral("127.0.0.1"));
    w.form.lblPingTimes.setText(QStringLiteral("200"));
    w.icmp.answers.assign(200, ScriptedIcmp::reply(1));
    w.form.cmdPing_Click();
    auto* status = w.widget<QPlainTextEdit>("txtStatus");
    QString shown = w.form.txtStatus.text();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->toPlainText() == shown; }));
    EXPECT_EQ(status->textCursor().position(), shown.size());
    EXPECT_EQ(status->verticalScrollBar()->value(), status->verticalScrollBar()->maximum());
}

TEST(Window, shouldTakeWhatTheUserTypesIntoTheBoxes) {
    Window w;
    auto* host = w.widget<QLineEdit>("Host");
    host->clear();
    QTest::keyClicks(host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(w.form.Host.text(), QStringLiteral("127.0.0.1"));
    w.form.lblPingTimes.setText(QStringLiteral("9"));
    EXPECT_EQ(w.widget<QLineEdit>("lblPingTimes")->text(), QStringLiteral("9"));
}

TEST(Window, shouldPressTheStartButtonOnceForEscape) {
    Window w;
    w.form.lblPingTimes.setText(QStringLiteral("1"));
    w.form.Host.setText(QStringLiteral("127.0.0.1"));
    w.icmp.answers = {ScriptedIcmp::timeout()};
    w.widget<QLineEdit>("Host")->setFocus();
    QTest::keyClick(w.widget<QLineEdit>("Host"), Qt::Key_Escape);
    EXPECT_EQ(w.icmp.sent.size(), 1u);
}

TEST(Window, shouldLeaveEveryControlWhereItWasWhenResized) {
    Window w;
    const QRect before = w.window.control("txtStatus")->geometry();
    w.window.setMinimumSize(0, 0);
    w.window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w.window.resize(800, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.window.control("txtStatus")->geometry(), before);
}

TEST(Window, shouldCarryAnIconOfEightImages) {
    QFile file(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    const auto u16 = [&](qsizetype at) {
        return static_cast<uint8_t>(ico[at]) | static_cast<uint8_t>(ico[at + 1]) << 8;
    };
    ASSERT_GE(ico.size(), 6 + 8 * 16);
    EXPECT_EQ(u16(0), 0);
    EXPECT_EQ(u16(2), 1);
    ASSERT_EQ(u16(4), 8);
    std::multiset<std::pair<int, int>> images;
    for (int i = 0; i < 8; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = static_cast<uint8_t>(ico[entry]);
        EXPECT_EQ(static_cast<uint8_t>(ico[entry + 1]), width);
        images.insert({width, u16(entry + 6)});
    }
    const std::multiset<std::pair<int, int>> expected = {{16, 8}, {16, 32}, {24, 8}, {24, 32},
                                                         {32, 8}, {32, 32}, {48, 8}, {48, 32}};
    EXPECT_EQ(images, expected);
    Window w;
    EXPECT_FALSE(w.window.windowIcon().isNull());
    EXPECT_EQ(w.window.windowIcon().availableSizes().size(), 4);
}

}  // namespace
