#include "gui/ico_icon.h"

#include <QImage>
#include <QPixmap>

#include <cstring>

namespace {

uint32_t readLe(QByteArrayView bytes, qsizetype at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

// A bottom-up 32-bit device-independent bitmap, its alpha channel in use.
QImage bitmap(QByteArrayView data) {
    constexpr qsizetype kHeader = 40;
    if (data.size() < kHeader || readLe(data, 0, 4) != kHeader || readLe(data, 14, 2) != 32 ||
        readLe(data, 16, 4) != 0) {
        return {};
    }
    const auto width = static_cast<int>(readLe(data, 4, 4));
    const auto height = static_cast<int>(readLe(data, 8, 4)) / 2;  // colours, then the mask
    if (width <= 0 || width > 256 || height <= 0 || height > 256 ||
        data.size() < kHeader + qsizetype{width} * height * 4) {
        return {};
    }
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.scanLine(height - 1 - y),
                    data.data() + kHeader + qsizetype{y} * width * 4,
                    static_cast<size_t>(width) * 4);
    }
    return image;
}

}  // namespace

QIcon iconFromIco(QByteArrayView ico) {
    QIcon icon;
    if (ico.size() < 6 || readLe(ico, 0, 2) != 0 || readLe(ico, 2, 2) != 1) {
        return icon;
    }
    const qsizetype count = readLe(ico, 4, 2);
    for (qsizetype i = 0; i < count && 6 + 16 * (i + 1) <= ico.size(); ++i) {
        const qsizetype entry = 6 + 16 * i;
        const qsizetype size = readLe(ico, entry + 8, 4);
        const qsizetype offset = readLe(ico, entry + 12, 4);
        if (readLe(ico, entry + 6, 2) != 32 || offset > ico.size() || size > ico.size() - offset) {
            continue;
        }
        const QImage image = bitmap(ico.sliced(offset, size));
        if (!image.isNull()) {
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}
