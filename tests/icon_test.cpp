#include <QImage>
#include <QImageReader>

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

}  // namespace
