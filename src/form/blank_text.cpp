#include "form/blank_text.h"

#include "platform/icmp_library.h"
#include "report/failure.h"

#include <array>

BlankText BlankText::ofLength(int32_t length) {
    if (length < 0) {
        raise(FailureKind::InvalidArgument);
    }
    return BlankText(length);
}

const char* BlankText::bytes() const {
    static const auto blanks = [] {
        std::array<char, kMaxPayload> b;
        b.fill(' ');
        return b;
    }();
    return blanks.data();
}
