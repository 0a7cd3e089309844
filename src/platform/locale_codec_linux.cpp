#include "platform/locale_codec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

namespace {

// The program's texts are UTF-16 in the machine's byte order.
constexpr const char* kText = "UTF-16LE";

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; calls onInvalid for an input sequence that cannot
    // be converted, which returns false to give up or true after it skipped
    // the sequence (advancing in and inLeft) and wrote a substitute. Four
    // bytes out for a byte in are more than any encoding needs, shift
    // sequences included.
    template <class OnInvalid>
    bool convert(const char* in, size_t inLeft, std::string& out, OnInvalid onInvalid) {
        out.resize(inLeft * 4 + 16);
        char* outPtr = out.data();
        size_t outLeft = out.size();
        auto* inPtr = const_cast<char*>(in);
        while (inLeft > 0) {
            if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) &&
                (errno == E2BIG || !onInvalid(inPtr, inLeft, outPtr, outLeft))) {
                return false;
            }
        }
        out.resize(static_cast<size_t>(outPtr - out.data()));
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> encodeLocale(std::u16string_view text) {
    Iconv cd(nl_langinfo(CODESET), kText);
    std::string out;
    const auto refuse = [](char*&, size_t&, char*&, size_t&) { return false; };
    if (!cd.ok() ||
        !cd.convert(reinterpret_cast<const char*>(text.data()), text.size() * 2, out, refuse)) {
        return std::nullopt;
    }
    return out;
}

std::u16string decodeLocale(std::string_view bytes) {
    Iconv cd(kText, nl_langinfo(CODESET));
    if (!cd.ok()) {
        std::u16string latin1;  // a byte a character
        for (const char c : bytes) {
            latin1 += static_cast<char16_t>(static_cast<unsigned char>(c));
        }
        return latin1;
    }
    std::string out;
    const auto substitute = [](char*& in, size_t& inLeft, char*& outPtr, size_t& outLeft) {
        if (outLeft < 2) {
            return false;
        }
        ++in;
        --inLeft;
        *outPtr++ = '\xFD';  // U+FFFD, little-endian
        *outPtr++ = '\xFF';
        outLeft -= 2;
        return true;
    };
    cd.convert(bytes.data(), bytes.size(), out, substitute);
    std::u16string text(out.size() / 2, u'\0');
    out.copy(reinterpret_cast<char*>(text.data()), text.size() * 2);
    return text;
}

NumberSymbols userNumberSymbols() {
    return {decodeLocale(nl_langinfo(RADIXCHAR)), decodeLocale(nl_langinfo(THOUSEP))};
}
