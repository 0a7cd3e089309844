// Hostile texts in the count and size boxes, each through a whole run with
// its expected outcome; the two readings of a number.

#include "form/number_input.h"
#include "fakes.h"
#include "report/failure.h"

namespace {

// As the count every echo times out and a stop request comes before the
// seventh; as the size, after a run that sent 12 bytes.
TEST(HostileInput, shouldSendWhatEveryCountAndSizeTextReadsAs) {
    const struct {
        std::u16string text;
        int echoes;  // as the count; 6: stopped, else with the average
        int size;    // as the size: bytes sent, -1 reported and none sent
    } rows[] = {
        {u"", 1, 0},          {u"0", 0, 0},           {u"-1", 0, 12},         {u"2.5", 2, 2},
        {u"3.5", 3, 4},       {u"4abc", 1, 4},        {u" 4 ", 4, 4},         {u"1 0 0", 1, 100},
        {u"&H20", 1, 32},     {u"1e9", 6, -1},        {u"NaN", 1, 0},         {u"&HFFFF", 1, -1},
        {u"32767", 6, 32767}, {u"32768", 6, -1},      {u"2147483648", 6, 12}, {u"1e400", 1, 12},
        {u"1,000", 1, 1},     {u"+3", 3, 3},          {u"0.5", 0, 0},         {u"-0.5", 0, 0},
        {u"-32768", 0, 12},   {u"2147483647", 6, -1}, {u"32767.5", 6, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(utf8(row.text));
        PingRun count;
        count.ui.atYield[6] = [&] { count.form.cmdPing_Click(); };
        count.start(row.text);
        EXPECT_EQ(count.icmp.sent.size(), size_t(row.echoes));
        EXPECT_EQ(count.text().find(u"平均速度") != std::u16string::npos, row.echoes < 6);
        EXPECT_TRUE(count.ui.boxes.empty());
        EXPECT_EQ(count.form.lblPingTimes.text(), row.text);

        PingRun size;
        size.form.lblPacketSize.setText(u"12");
        size.start(u"1");
        size.form.lblPacketSize.setText(row.text);
        size.start(u"1");
        ASSERT_EQ(size.icmp.sent.size(), row.size < 0 ? 1u : 2u);
        EXPECT_EQ(size.icmp.sent.back().size, row.size < 0 ? 12 : row.size);
        ASSERT_EQ(size.ui.boxes.size(), row.size < 0 ? 1u : 0u);
        EXPECT_TRUE(row.size >= 0 || fullMatch("Error 6: [\\s\\S]*\\r\\nin vbIcmpSendEcho[\\s\\S]*",
                                               size.ui.boxes[0].prompt));
        EXPECT_EQ(size.form.lblPacketSize.text(), row.text);
        EXPECT_NE(size.text().find(u"平均速度"), std::u16string::npos);
    }
}
// The size's reading, which keeps what it can: blanks, tabs and line feeds
// ignored, "." the decimal point, &H and &O hexadecimal and octal.
TEST(LeadingNumber, shouldReadTheNumberAtTheStartOfTheText) {
    const struct {
        const char16_t* text;
        double value;
    } cases[] = {
        {u"32", 32},     {u"32abc", 32}, {u"3 2", 32},  {u"\t1\n2", 12}, {u" -1", -1},
        {u"- 1", -1},    {u"+7", 7},     {u".5", 0.5},  {u"1.2.3", 1.2}, {u"1e3", 1000},
        {u"1E+2x", 100}, {u"2d1", 20},   {u"1e", 1},    {u"&H10", 16},   {u"&ha", 10},
        {u"&O17", 15},   {u"&o8", 0},    {u"&Hxyz", 0}, {u"&", 0},       {u"abc", 0},
        {u"", 0},        {u"\r32", 0},   {u"３２", 0},  {u"1,5", 1},     {u"1e-400", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << utf8(c.text);
    }
}

// The count's reading by a locale that groups digits, such as en_US's; the C
// locale has no group separator, so "1,000" is no count there (row above).
TEST(LocaleNumber, shouldTakeDigitGroupsOnlyWhereTheyAreWhole) {
    const NumberSymbols english{u".", u","};
    const struct {
        const char16_t* text;
        double value;  // -1: not a number
    } cases[] = {
        {u"1,000", 1000},   {u"12,345,678.5", 12345678.5},
        {u"1,00", -1},      {u"1234,567", -1},
        {u",100", -1},      {u"1,000,", -1},
        {u"1.5e-2", 0.015}, {u"1e", -1},
    };
    for (const auto& c : cases) {
        double value = -1;
        try {
            value = localeNumber(c.text, english);
        } catch (const ProcedureFailure&) {
        }
        EXPECT_EQ(value, c.value) << utf8(c.text);
    }
}

}  // namespace
