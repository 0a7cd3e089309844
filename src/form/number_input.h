#pragma once

#include <QStringView>

// The count and size boxes' texts as numbers.

// The leading number of a text: blanks, tabs and line feeds are ignored
// wherever they stand, "." is the decimal point, &H and &O introduce
// hexadecimal and octal digits, and a text without a leading number is 0.
// A number beyond a double's range is an overflow.
double leadingNumber(QStringView text);

// The whole text as a number by the user's locale's rules, blanks around it
// allowed; anything else is a type mismatch.
double localeNumber(QStringView text);
