#pragma once

#include "platform/locale_codec.h"

#include <string_view>

// The count and size boxes' texts as numbers.

// The leading number of a text: blanks, tabs and line feeds are ignored
// wherever they stand, "." is the decimal point, &H and &O introduce
// hexadecimal and octal digits, and a text without a leading number is 0.
// A number beyond a double's range is an overflow.
double leadingNumber(std::u16string_view text);

// The whole text as a number by the locale's rules: its decimal point, its
// digit groups (the first of one to three digits, the others of three), a
// sign and an exponent, white space around it. Anything else is a type
// mismatch, as is a number beyond a double's range.
double localeNumber(std::u16string_view text, const NumberSymbols& symbols);
