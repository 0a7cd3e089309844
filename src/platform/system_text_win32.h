#pragma once

#include <string>
#include <string_view>

// The program's texts (char16_t) as the system's wide texts (wchar_t, also
// UTF-16 on Windows), and the system's words for its error codes.

inline const wchar_t* wideText(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string programText(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

// The system's message for error (a GetLastError or Winsock code) in the
// user's language, as one sentence without its final period and line break,
// as the program's texts put it; "error N" where the system has none.
std::u16string systemMessage(unsigned long error);
