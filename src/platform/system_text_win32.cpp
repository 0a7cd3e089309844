#include "platform/system_text_win32.h"

#include <windows.h>

std::u16string systemMessage(unsigned long error) {
    wchar_t* words = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::u16string text = length > 0 ? programText({words, length}) : std::u16string();
    LocalFree(words);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                             text.back() == u'.' || text.back() == u'\u3002')) {
        text.pop_back();
    }
    if (text.empty()) {
        const std::string number = "error " + std::to_string(error);
        text.assign(number.begin(), number.end());
    }
    return text;
}
