// The settings reader on any content: "section\nkey\ncontent". A value found
// lies within the content and within one line. The first byte's low bit picks
// a UTF-8 or an ASCII locale, whose names compare through iconv.

#include "platform/profile_file.h"

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::setlocale(LC_ALL, size > 0 && (data[0] & 1) != 0 ? "C.UTF-8" : "C");
    const auto field = [&input] {
        const size_t end = std::min(input.find('\n'), input.size());
        const std::string_view part = input.substr(0, end);
        input.remove_prefix(std::min(end + 1, input.size()));
        return part;
    };
    const std::string_view section = field();
    const std::string_view key = field();
    const auto value = findProfileValue(input, section, key);
    if (value && (value->data() < input.data() ||
                  value->data() + value->size() > input.data() + input.size() ||
                  value->find_first_of("\r\n") != std::string_view::npos)) {
        std::abort();
    }
    return 0;
}
