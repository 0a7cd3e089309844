#include "ping/address_text.h"

#include "report/text.h"

namespace {

std::u16string dotted(const uint8_t* bytes) {
    return decimal(bytes[0]) + u'.' + decimal(bytes[1]) + u'.' + decimal(bytes[2]) + u'.' +
           decimal(bytes[3]);
}

std::u16string hex(uint16_t word) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), u"0123456789abcdef"[word & 0xF]);
        word = static_cast<uint16_t>(word >> 4);
    } while (word != 0);
    return digits;
}

}  // namespace

std::u16string dottedText(const uint8_t (&address)[4]) {
    return dotted(address);
}

std::u16string ipv6Text(const uint8_t (&address)[16]) {
    uint16_t words[8];
    for (int i = 0; i < 8; ++i) {
        words[i] = static_cast<uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
    }
    // The longest run of two or more zero words, the first of equals, is "::".
    int base = -1;
    int length = 0;
    for (int i = 0; i < 8;) {
        int end = i;
        while (end < 8 && words[end] == 0) {
            ++end;
        }
        if (end - i > length && end - i >= 2) {
            base = i;
            length = end - i;
        }
        i = end == i ? i + 1 : end;
    }
    std::u16string text;
    for (int i = 0; i < 8; ++i) {
        if (base >= 0 && i >= base && i < base + length) {
            text += i == base ? u":" : u"";
            continue;
        }
        text += i != 0 ? u":" : u"";
        if (i == 6 && base == 0 && (length == 6 || (length == 5 && words[5] == 0xFFFF))) {
            return text + dotted(address + 12);
        }
        text += hex(words[i]);
    }
    return base >= 0 && base + length == 8 ? text + u':' : text;
}
