#pragma once

// What both windows do with a user's keys and clicks, written once over a
// driver per toolkit: its window on the form's fakes, loaded with 127.0.0.1,
// 4 and 32 and shown, driven by the names of the layout table through
//   type(box, text)      the keys of text, at the end of the box's own
//   click(button)        a mouse click, which takes the focus
//   post(key, control)   the key queued for control, given the focus
//   serve()              the input that waits
//   control(name)        the control of that name
//   text(control), enabled(control), focus()   what the widgets show
//   close(), visible()   the window's close request; whether it is shown
//   window               the window, whose paintWhileWaiting() paints a frame
//                        of an echo's wait
//   painted()            cmdPing's caption at its last paint

#include "fakes.h"

enum class Key { Tab, Enter, KeypadEnter, Esc };

// The settings file of a program that pings 127.0.0.1.
inline const std::string kLocalhost = "[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n";

struct LoadedForm : FakeForm {
    LoadedForm() { writeFile(folder.path / "Settings.inf", kLocalhost); }
};

template <class Window>
struct WindowBehaviour : testing::Test {};
TYPED_TEST_SUITE_P(WindowBehaviour);

// After the load the focus is in the host box; Tab walks the controls that
// take it by their tab index, round.
TYPED_TEST_P(WindowBehaviour, shouldStartInTheHostBoxAndTabByTabIndex) {
    TypeParam w;
    for (const char* name : {"Host", "lblPingTimes", "lblPacketSize", "cmdPing", "cmdClose",
                             "ComdSave", "txtStatus", "Host"}) {
        EXPECT_EQ(w.focus(), w.control(name)) << name;
        w.post(Key::Tab, name);
        w.serve();
    }
}

// During a run the window does not close, cmdClose is disabled and cmdPing
// says Stop; a click on it is a stop request, painted within the frame of
// the next echo's wait, which serves no input. The click takes the focus, so
// the box it leaves loses its blanks; the close button closes the window after.
TYPED_TEST_P(WindowBehaviour, shouldKeepARunOpenUntilItsStopRequest) {
    TypeParam w;
    w.type("lblPingTimes", u" 2 ");
    std::vector<std::u16string> frames;
    w.icmp.whileBlocked = [&] {
        w.post(Key::Tab, "cmdPing");
        w.window.paintWhileWaiting();
        frames.push_back(w.painted());
    };
    w.ui.atYield[1] = [&] {
        w.close();
        EXPECT_TRUE(w.visible());
        EXPECT_EQ(w.text("cmdPing"), u"Stop");
        EXPECT_FALSE(w.enabled("cmdClose"));
    };
    w.ui.atYield[2] = [&] { w.click("cmdPing"); };
    w.click("cmdPing");
    EXPECT_EQ(frames, (std::vector<std::u16string>{u"Stop", u"Ping"}));
    EXPECT_EQ(w.icmp.sent.size(), 2u);
    EXPECT_EQ(w.text("lblPingTimes"), u"42");
    EXPECT_EQ(w.focus(), w.control("cmdPing"));
    w.serve();
    EXPECT_EQ(w.focus(), w.control("ComdSave"));
    w.click("cmdClose");
    EXPECT_FALSE(w.visible());
    EXPECT_TRUE(w.form.closed());
}

// cmdPing is the default button: Enter presses it, once, unless a button has
// the focus; Esc presses nothing.
TYPED_TEST_P(WindowBehaviour, shouldStartOrStopOneRunPerEnterAndNoneByEscape) {
    // Pressed at this yield of a run of 4 echoes (0: before); the echoes sent
    // and the yields (the host box's Enter yields once more after its click).
    const std::tuple<const char*, Key, int, size_t, int> cases[] = {
        {"Host", Key::Enter, 0, 4, 5},
        {"lblPingTimes", Key::KeypadEnter, 0, 4, 4},
        {"txtStatus", Key::Enter, 0, 4, 4},
        {"txtStatus", Key::Esc, 0, 0, 0},
        {"Host", Key::Esc, 0, 0, 0},
        {"Host", Key::Enter, 1, 1, 2},
        {"lblPingTimes", Key::Enter, 2, 2, 2},
        {"ComdSave", Key::Enter, 0, 0, 1},  // the focused button's own
    };
    for (const auto& [control, key, yield, sent, yields] : cases) {
        SCOPED_TRACE(std::string(control) + " " + std::to_string(int(key)));
        TypeParam w;
        const auto pressed = [&] {
            w.post(key, control);
            w.serve();
        };
        yield == 0 ? pressed() : (w.ui.atYield[yield] = pressed, w.form.cmdPing_Click());
        EXPECT_EQ(w.icmp.sent.size(), sent);
        EXPECT_EQ(w.ui.yields, yields);
        EXPECT_EQ(w.text("cmdPing"), sent ? u"Ping" : u"开始");
        EXPECT_TRUE(w.visible());
    }
}

REGISTER_TYPED_TEST_SUITE_P(WindowBehaviour, shouldStartInTheHostBoxAndTabByTabIndex,
                            shouldKeepARunOpenUntilItsStopRequest,
                            shouldStartOrStopOneRunPerEnterAndNoneByEscape);
