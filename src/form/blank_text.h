#pragma once

#include <cstdint>

// A text of blanks only, such as the echo payload. It is kept as its length,
// so that a size far beyond what a request can carry costs no memory.
class BlankText {
public:
    BlankText() = default;
    // A negative length is an invalid argument.
    static BlankText ofLength(int32_t length);

    int32_t length() const { return length_; }
    // The text in the locale's encoding: length() blank bytes. Only valid up
    // to the largest payload.
    const char* bytes() const;

private:
    explicit BlankText(int32_t length) : length_(length) {}
    int32_t length_ = 0;
};
