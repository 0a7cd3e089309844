#include "report/procedure.h"
#include "fakes.h"
#include "report/numbers.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcedureErrorText, shouldComposeThreeLinesEndingWithLineZero) {
    const struct {
        ProcedureFailure failure;
        const char16_t* label;
        const char16_t* text;
    } cases[] = {
        {{6, QStringLiteral("D"), 0},
         u"in vbWSACleanup",
         u"Error 6: D\r\nin vbWSACleanup\r\nThe error occured at line: 0"},
        {{-2147221504, QStringLiteral("Bad"), 0},
         u"in GetRCode",
         u"Error -2147221504: Bad\r\nin GetRCode\r\nThe error occured at line: 0"},
        {{5, QString(), 0},
         u"in GetPrivateProfileString",
         u"Error 5: \r\nin GetPrivateProfileString\r\nThe error occured at line: 0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(procedureErrorText(c.label, c.failure), QString::fromUtf16(c.text));
    }
}

struct Trace {
    ScriptedWindowSystem ui;
    std::vector<int> steps;
    int failuresLeft = 0;

    void failing(int step) {
        steps.push_back(step);
        if (failuresLeft > 0) {
            --failuresLeft;
            raise(FailureKind::Overflow);
        }
    }
    // Three statements, the second failing as often as failuresLeft says.
    void run(Procedure procedure) {
        procedure.run([&](Procedure& s) {
            s([&] { steps.push_back(1); });
            s([&] { failing(2); });
            s([&] { steps.push_back(3); });
        });
        steps.push_back(99);  // the caller carries on
    }
};

TEST(ReportMode, shouldActOnEachAnswer) {
    const struct {
        const char* name;
        std::deque<int> answers;
        int failures;
        std::vector<int> steps;
        size_t boxes;
        int pointerResets;
    } cases[] = {
        {"retry runs the statement again", {MsgBox::Retry}, 1, {1, 2, 2, 3, 99}, 1, 0},
        {"retry reports every time",
         {MsgBox::Retry, MsgBox::Retry, MsgBox::Ignore},
         3,
         {1, 2, 2, 2, 3, 99},
         3,
         0},
        {"ignore goes on after the statement", {MsgBox::Ignore}, 1, {1, 2, 3, 99}, 1, 0},
        {"abort leaves the procedure", {MsgBox::Abort}, 1, {1, 2, 99}, 1, 1},
        {"another answer leaves without the pointer", {0}, 1, {1, 2, 99}, 1, 0},
    };
    for (const auto& c : cases) {
        Trace t;
        t.ui.answers = c.answers;
        t.failuresLeft = c.failures;
        t.run(Procedure::report(t.ui, u"in Test"));
        EXPECT_EQ(t.steps, c.steps) << c.name;
        ASSERT_EQ(t.ui.boxes.size(), c.boxes) << c.name;
        EXPECT_EQ(t.ui.boxes[0].title, QStringLiteral("Error"));
        EXPECT_EQ(t.ui.boxes[0].style,
                  MsgBox::AbortRetryIgnore | MsgBox::Critical | MsgBox::DefaultButton1);
        EXPECT_TRUE(t.ui.boxes[0].prompt.contains(QStringLiteral("\r\nin Test\r\n")));
        EXPECT_EQ(t.ui.pointerResets, c.pointerResets) << c.name;
    }
}

TEST(SkipMode, shouldPassOverAFailureInSilence) {
    Trace t;
    t.failuresLeft = 1;
    t.run(Procedure::skip());
    EXPECT_EQ(t.steps, (std::vector<int>{1, 2, 3, 99}));
    EXPECT_TRUE(t.ui.boxes.empty());
}

TEST(FailureModes, shouldEnterTheFirstBranchWhenAFailingTestIsPassedOver) {
    ScriptedWindowSystem ui;
    ui.answers = {MsgBox::Ignore};
    for (Procedure procedure : {Procedure::skip(), Procedure::report(ui, u"in Test")}) {
        std::vector<int> steps;
        procedure.run([&](Procedure& s) {
            if (s.test([]() -> bool { raise(FailureKind::TypeMismatch); })) {
                steps.push_back(1);
            } else {
                steps.push_back(2);
            }
        });
        EXPECT_EQ(steps, std::vector<int>{1});
    }
}

TEST(ReportMode, shouldReturnWhatAFunctionHadAssignedBeforeAnAbort) {
    ScriptedWindowSystem ui;
    ui.answers = {MsgBox::Abort, MsgBox::Abort};
    const auto function = [&](bool assignFirst) {
        int result = 0;
        Procedure::report(ui, u"in F").run([&](Procedure& s) {
            if (assignFirst) {
                s([&] { result = 42; });
            }
            s([&] { raise(FailureKind::Overflow); });
            s([&] { result = 7; });
        });
        return result;
    };
    EXPECT_EQ(function(true), 42);
    EXPECT_EQ(function(false), 0);
}

TEST(ReportMode, shouldAbandonAStatementWithoutItsAssignment) {
    ScriptedWindowSystem ui;
    ui.answers = {MsgBox::Ignore};
    int16_t count = 32767;
    Procedure::report(ui, u"in T").run([&](Procedure& s) { s([&] { count = add16(count, 1); }); });
    EXPECT_EQ(count, 32767);
}

}  // namespace
