#include "platform/locale_codec.h"

#include "platform/system_text_win32.h"

#include <windows.h>

#include <clocale>
#include <iterator>

// The locale's encoding is the ANSI code page, which every "A" call of the
// system takes its texts in, whatever the C library's locale.

std::optional<std::string> encodeLocale(std::u16string_view text) {
    if (text.empty()) {
        return std::string();
    }
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const int inLength = static_cast<int>(text.size());
    // A character without an encoding fails the call under UTF-8; every other
    // code page would write a substitute ("?", or a look-alike without
    // WC_NO_BEST_FIT_CHARS) and says so through usedDefault.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* substituted = utf8 ? nullptr : &usedDefault;
    const int length =
        WideCharToMultiByte(CP_ACP, flags, in, inLength, nullptr, 0, nullptr, substituted);
    if (length <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, flags, in, inLength, out.data(), length, nullptr, nullptr);
    return out;
}

namespace {

// Appends bytes decoded, or returns false where they hold an invalid sequence.
bool decodeStrictly(std::string_view bytes, std::u16string& text) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    const size_t at = text.size();
    text.resize(at + static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data() + at), length);
    return true;
}

}  // namespace

std::u16string decodeLocale(std::string_view bytes) {
    std::u16string text;
    if (bytes.empty() || decodeStrictly(bytes, text)) {
        return text;
    }
    // Character by character: the shortest sequence that decodes, else one
    // byte as U+FFFD.
    CPINFO info{};
    const size_t longest = GetCPInfo(CP_ACP, &info) ? info.MaxCharSize : 1;
    for (size_t at = 0; at < bytes.size();) {
        size_t size = 1;
        while (size <= longest && at + size <= bytes.size() &&
               !decodeStrictly(bytes.substr(at, size), text)) {
            ++size;
        }
        if (size > longest || at + size > bytes.size()) {
            text += u'\uFFFD';
            size = 1;
        }
        at += size;
    }
    return text;
}

NumberSymbols userNumberSymbols() {
    // As the C library's locale has them, in its code page: the user's after
    // setlocale(LC_ALL, ""), which the program makes at its start, the C
    // locale's before.
    const auto decode = [](const char* bytes) {
        wchar_t text[16] = {};
        MultiByteToWideChar(___lc_codepage_func(), 0, bytes, -1, text, std::size(text) - 1);
        return programText(text);
    };
    const lconv* symbols = std::localeconv();
    return {decode(symbols->decimal_point), decode(symbols->thousands_sep)};
}
