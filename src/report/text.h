#pragma once

#include <cstdint>
#include <string>

// A number as the program writes it into a text: decimal digits, a minus
// sign in front of a negative one, no blanks.
std::u16string decimal(int64_t value);
