#include "platform/locale_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

namespace {

bool localeIsUtf8() {
    return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

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
    // the sequence (advancing in and inLeft) and wrote a substitute.
    template <class OnInvalid>
    bool convert(const char* in, size_t inLeft, QByteArray& out, OnInvalid onInvalid) {
        out.resize(static_cast<qsizetype>(inLeft * 2 + 16));
        char* outPtr = out.data();
        size_t outLeft = static_cast<size_t>(out.size());
        auto* inPtr = const_cast<char*>(in);
        while (inLeft > 0) {
            if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
                continue;
            }
            const int error = errno;
            if (error == E2BIG) {
                const qsizetype used = outPtr - out.data();
                out.resize(out.size() * 2);
                outPtr = out.data() + used;
                outLeft = static_cast<size_t>(out.size() - used);
            } else if (!onInvalid(inPtr, inLeft, outPtr, outLeft)) {
                return false;
            }
        }
        out.resize(outPtr - out.data());
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::optional<QByteArray> encodeLocale(QStringView text) {
    if (localeIsUtf8()) {
        QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
        QByteArray bytes = encoder.encode(text);
        if (encoder.hasError()) {
            return std::nullopt;
        }
        return bytes;
    }
    Iconv cd(nl_langinfo(CODESET), "UTF-16LE");
    QByteArray out;
    const auto refuse = [](char*&, size_t&, char*&, size_t&) { return false; };
    if (!cd.ok() || !cd.convert(reinterpret_cast<const char*>(text.utf16()),
                                static_cast<size_t>(text.size()) * 2, out, refuse)) {
        return std::nullopt;
    }
    return out;
}

QString decodeLocale(QByteArrayView bytes) {
    if (localeIsUtf8()) {
        return QString::fromUtf8(bytes);
    }
    Iconv cd("UTF-16LE", nl_langinfo(CODESET));
    if (!cd.ok()) {
        return QString::fromLatin1(bytes);
    }
    QByteArray out;
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
    cd.convert(bytes.data(), static_cast<size_t>(bytes.size()), out, substitute);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(out.constData()), out.size() / 2);
}
