#include "form/number_input.h"

#include "report/failure.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool ignoredInNumber(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool asciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Reads the characters of a number, dropping the ignored ones.
class NumberReader {
public:
    explicit NumberReader(std::u16string_view text) : text_(text) {}
    char16_t peek() {
        while (pos_ < text_.size() && ignoredInNumber(text_[pos_])) {
            ++pos_;
        }
        return pos_ < text_.size() ? text_[pos_] : u'\0';
    }
    void next() { ++pos_; }
    bool take(char16_t c) {
        if (upper(peek()) == c) {
            next();
            return true;
        }
        return false;
    }

private:
    std::u16string_view text_;
    std::size_t pos_ = 0;
};

int radixDigit(char16_t c, int radix) {
    const char16_t u = upper(c);
    int d = radix;
    if (asciiDigit(u)) {
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

// A number in the C library's syntax, "." standing for its locale's decimal
// point; a number beyond a double's range is infinite.
double cNumber(const std::string& number) {
    std::string text;
    for (const char c : number) {
        text += c == '.' ? std::localeconv()->decimal_point : std::string(1, c);
    }
    return std::strtod(text.c_str(), nullptr);
}

bool whiteSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r') || c == u'\u00A0' || c == u'\u3000';
}

}  // namespace

double leadingNumber(std::u16string_view text) {
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
        const auto sign = [&] {
            if (in.peek() == u'-' || in.peek() == u'+') {
                number += static_cast<char>(in.peek());
                in.next();
            }
        };
        const auto digits = [&] {
            while (asciiDigit(in.peek())) {
                number += static_cast<char>(in.peek());
                in.next();
            }
        };
        sign();
        digits();
        if (in.take(u'.')) {
            number += '.';
            digits();
        }
        if (upper(in.peek()) == u'E' || upper(in.peek()) == u'D') {
            in.next();
            number += 'e';
            sign();
            digits();
        }
        // strtod stops where the digits do; an incomplete exponent counts as none.
        value = cNumber(number);
    }
    if (std::isinf(value)) {
        raise(FailureKind::Overflow);
    }
    return value;
}

double localeNumber(std::u16string_view text, const NumberSymbols& symbols) {
    while (!text.empty() && whiteSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && whiteSpace(text.back())) {
        text.remove_suffix(1);
    }
    const auto take = [&text](std::u16string_view what) {
        const bool taken = !what.empty() && text.starts_with(what);
        if (taken) {
            text.remove_prefix(what.size());
        }
        return taken;
    };
    std::string number;
    const auto digits = [&] {
        std::size_t n = 0;
        for (; n < text.size() && asciiDigit(text[n]); ++n) {
            number += static_cast<char>(text[n]);
        }
        text.remove_prefix(n);
        return n;
    };
    const auto sign = [&] {
        if (take(u"-")) {
            number += '-';
        } else {
            take(u"+");
        }
    };
    sign();
    const std::size_t whole = digits();
    for (std::size_t group = whole; whole > 0 && take(symbols.groupSeparator);) {
        // The first group before the separator of one to three digits, the rest of three.
        if (group > 3 || digits() != 3) {
            raise(FailureKind::TypeMismatch);
        }
        group = 0;
    }
    std::size_t fraction = 0;
    if (take(symbols.decimalPoint)) {
        number += '.';
        fraction = digits();
    }
    if (whole + fraction > 0 && (take(u"e") || take(u"E"))) {
        number += 'e';
        sign();
        if (digits() == 0) {
            raise(FailureKind::TypeMismatch);
        }
    }
    if (whole + fraction == 0 || !text.empty()) {
        raise(FailureKind::TypeMismatch);
    }
    const double value = cNumber(number);
    if (!std::isfinite(value)) {
        raise(FailureKind::TypeMismatch);
    }
    return value;
}
