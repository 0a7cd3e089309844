#include "ui/ico_icon.h"

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The desktop's icons and the window's are one design: each PNG is the .ico's
// 32-bit image of its size.
TEST(Icon, shouldHaveEachPngAsTheIcosImageOfItsSize) {
    QImageReader ico(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping.ico"));
    std::vector<QImage> images;
    for (int i = 0; i < ico.imageCount(); ++i) {
        ico.jumpToImage(i);
        images.push_back(ico.read().convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    ASSERT_EQ(images.size(), 8u) << ico.errorString().toStdString();
    for (const int size : {16, 24, 32, 48}) {
        const QString path =
            QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping-%1.png").arg(size);
        const QImage png = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(png.size(), QSize(size, size)) << path.toStdString();
        EXPECT_EQ(std::count(images.begin(), images.end(), png), 1) << path.toStdString();
    }
}

TEST(Icon, shouldReadTheIcosImagesOf32BitsAsThePluginDoes) {
    QFile file(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    const QIcon icon = iconFromIco(ico);
    ASSERT_EQ(icon.availableSizes(), QList<QSize>({{16, 16}, {24, 24}, {32, 32}, {48, 48}}));
    for (const int size : {16, 24, 32, 48}) {
        const QImage png =
            QImage(QStringLiteral(PING_SOURCE_DIR "/resources/sondrel-ping-%1.png").arg(size))
                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  png)
            << size;
    }
    // Whatever the bytes, no crash and nothing read past their end.
    for (qsizetype cut = 0; cut < ico.size(); cut += 97) {
        (void)iconFromIco(ico.first(cut));
    }
    EXPECT_TRUE(iconFromIco(QByteArray(64, '\xFF')).isNull());
}

}  // namespace
