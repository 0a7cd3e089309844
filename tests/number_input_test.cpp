// Hostile texts in the count and size boxes, each through a whole run with
// its expected outcome; the two readings of a number.

#include "form/number_input.h"
#include "fakes.h"
#include "report/failure.h"

namespace {

// As the count every echo times out and a stop request comes before the
// seventh; as the size, after a run that sent 12 bytes.
TEST(HostileInput, shouldSendWhatEveryCountAndSizeTextReadsAs) {
    // The text; the echoes it sends as the count (6: stopped, else with the
    // average) and as the size the bytes sent (-1: reported and none sent).
    const std::tuple<std::u16string, int, int> rows[] = {
        {u"", 1, 0},          {u"0", 0, 0},           {u"-1", 0, 12},         {u"2.5", 2, 2},
        {u"3.5", 3, 4},       {u"4abc", 1, 4},        {u" 4 ", 4, 4},         {u"1 0 0", 1, 100},
        {u"&H20", 1, 32},     {u"1e9", 6, -1},        {u"NaN", 1, 0},         {u"&HFFFF", 1, -1},
        {u"32767", 6, 32767}, {u"32768", 6, -1},      {u"2147483648", 6, 12}, {u"1e400", 1, 12},
        {u"1,000", 1, 1},     {u"+3", 3, 3},          {u"0.5", 0, 0},         {u"-0.5", 0, 0},
        {u"-32768", 0, 12},   {u"2147483647", 6, -1}, {u"32767.5", 6, -1},
    };
    for (const auto& [text, echoes, bytes] : rows) {
        SCOPED_TRACE(utf8(text));
        PingRun count;
        count.ui.atYield[6] = [&] { count.form.cmdPing_Click(); };
        count.start(text);
        EXPECT_EQ(count.icmp.sent.size(), size_t(echoes));
        EXPECT_EQ(count.text().find(u"平均速度") != std::u16string::npos, echoes < 6);
        EXPECT_TRUE(count.ui.boxes.empty());
        EXPECT_EQ(count.form.lblPingTimes.text(), text);

        PingRun size;
        size.form.lblPacketSize.setText(u"12");
        size.start(u"1");
        size.form.lblPacketSize.setText(text);
        size.start(u"1");
        ASSERT_EQ(size.icmp.sent.size(), bytes < 0 ? 1u : 2u);
        EXPECT_EQ(size.icmp.sent.back().size, bytes < 0 ? 12 : bytes);
        ASSERT_EQ(size.ui.boxes.size(), bytes < 0 ? 1u : 0u);
        EXPECT_TRUE(bytes >= 0 || fullMatch("Error 6: [\\s\\S]*\\r\\nin vbIcmpSendEcho[\\s\\S]*",
                                            size.ui.boxes[0].prompt));
        EXPECT_EQ(size.form.lblPacketSize.text(), text);
        EXPECT_NE(size.text().find(u"平均速度"), std::u16string::npos);
    }
}

// The size's reading, which keeps what it can: blanks, tabs and line feeds
// ignored, "." the decimal point, &H and &O hexadecimal and octal.
TEST(LeadingNumber, shouldReadTheNumberAtTheStartOfTheText) {
    const std::pair<const char16_t*, double> cases[] = {
        {u"32", 32},     {u"32abc", 32}, {u"3 2", 32},  {u"\t1\n2", 12}, {u" -1", -1},
        {u"- 1", -1},    {u"+7", 7},     {u".5", 0.5},  {u"1.2.3", 1.2}, {u"1e3", 1000},
        {u"1E+2x", 100}, {u"2d1", 20},   {u"1e", 1},    {u"&H10", 16},   {u"&ha", 10},
        {u"&O17", 15},   {u"&o8", 0},    {u"&Hxyz", 0}, {u"&", 0},       {u"abc", 0},
        {u"", 0},        {u"\r32", 0},   {u"３２", 0},  {u"1,5", 1},     {u"1e-400", 0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(leadingNumber(text), value) << utf8(text);
    }
}

// The count's reading by a locale that groups digits, such as en_US's; the C
// locale has no group separator, so "1,000" is no count there (row above).
TEST(LocaleNumber, shouldTakeDigitGroupsOnlyWhereTheyAreWhole) {
    const NumberSymbols english{u".", u","};
    // -1: not a number.
    const std::pair<const char16_t*, double> cases[] = {
        {u"1,000", 1000},   {u"12,345,678.5", 12345678.5},
        {u"1,00", -1},      {u"1234,567", -1},
        {u",100", -1},      {u"1,000,", -1},
        {u"1.5e-2", 0.015}, {u"1e", -1}};
    for (const auto& [text, value] : cases) {
        double read = -1;
        try {
            read = localeNumber(text, english);
        } catch (const ProcedureFailure&) {
        }
        EXPECT_EQ(read, value) << utf8(text);
    }
}

}  // namespace
