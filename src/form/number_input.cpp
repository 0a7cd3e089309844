#include "form/number_input.h"

#include "report/failure.h"

#include <QLocale>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool ignoredInNumber(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Reads the characters of a number, dropping the ignored ones.
class NumberReader {
public:
    explicit NumberReader(QStringView text) : text_(text) {}

    QChar peek() {
        while (pos_ < text_.size() && ignoredInNumber(text_[pos_])) {
            ++pos_;
        }
        return pos_ < text_.size() ? text_[pos_] : QChar();
    }
    void next() { ++pos_; }
    bool take(char16_t c) {
        if (peek().toUpper() == QChar(c)) {
            next();
            return true;
        }
        return false;
    }

private:
    QStringView text_;
    qsizetype pos_ = 0;
};

int radixDigit(QChar c, int radix) {
    const char16_t u = c.toUpper().unicode();
    int d = radix;
    if (u >= u'0' && u <= u'9') {
        d = u - u'0';
    } else if (u >= u'A' && u <= u'F') {
        d = u - u'A' + 10;
    }
    return d < radix ? d : -1;
}

double radixDigits(NumberReader& in, int radix) {
    double value = 0;
    for (int d = radixDigit(in.peek(), radix); d >= 0; d = radixDigit(in.peek(), radix)) {
        value = value * radix + d;
        in.next();
    }
    return value;
}

// strtod in the C locale: "." is the decimal point whatever the user's locale.
double cLocaleStrtod(const std::string& number) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(number.c_str(), nullptr, c);
}

bool asciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

double leadingNumber(QStringView text) {
    NumberReader in(text);
    double value = 0;
    if (in.take(u'&')) {
        if (in.take(u'H')) {
            value = radixDigits(in, 16);
        } else if (in.take(u'O')) {
            value = radixDigits(in, 8);
        }
    } else {
        std::string number;
        if (in.peek() == u'-' || in.peek() == u'+') {
            number += static_cast<char>(in.peek().unicode());
            in.next();
        }
        const auto digits = [&] {
            while (asciiDigit(in.peek())) {
                number += static_cast<char>(in.peek().unicode());
                in.next();
            }
        };
        digits();
        if (in.take(u'.')) {
            number += '.';
            digits();
        }
        if (in.peek().toUpper() == u'E' || in.peek().toUpper() == u'D') {
            in.next();
            number += 'e';
            if (in.peek() == u'-' || in.peek() == u'+') {
                number += static_cast<char>(in.peek().unicode());
                in.next();
            }
            digits();
        }
        // strtod stops where the digits do; an incomplete exponent counts as none.
        value = cLocaleStrtod(number);
    }
    if (std::isinf(value)) {
        raise(FailureKind::Overflow);
    }
    return value;
}

double localeNumber(QStringView text) {
    // QLocale would also take "nan" and "inf", which are no counts.
    bool hasDigit = false;
    for (QChar c : text) {
        hasDigit = hasDigit || asciiDigit(c);
    }
    bool ok = false;
    const double value = QLocale::system().toDouble(text, &ok);
    if (!hasDigit || !ok || !std::isfinite(value)) {
        raise(FailureKind::TypeMismatch);
    }
    return value;
}
