// The icons rendered for the icon theme show the picture the window draws: the 32-pixel PNG is
// the window icon pixel for pixel, every PNG has its size, and the SVG renders to the PNGs.
#include "Version.h"
#include "app/FormStyle.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <gtest/gtest.h>

namespace {

const QString kTheme = QStringLiteral(ORVIX_ICON_THEME);
const QString kName = QString::fromLatin1(kOrvixAppId);
const int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QImage Png(int size)
{
    return QImage(QStringLiteral("%1/%2x%2/apps/%3.png").arg(kTheme).arg(size).arg(kName))
        .convertToFormat(QImage::Format_ARGB32);
}

QImage RenderSvg(int size)
{
    QSvgRenderer svg(QStringLiteral("%1/scalable/apps/%2.svg").arg(kTheme, kName));
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (!svg.isValid())
        return {};
    QPainter p(&image);
    svg.render(&p);
    p.end();
    return image;
}

// The share of pixels whose colour or opacity differ by more than a quarter of the range in any
// channel: antialiased edges may differ a little, the picture may not.
double ShareOfDifferentPixels(const QImage& a, const QImage& b)
{
    int different = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                if (std::abs(int((p >> shift) & 0xff) - int((q >> shift) & 0xff)) > 64) {
                    ++different;
                    break;
                }
        }
    return double(different) / (a.width() * a.height());
}

TEST(Icons, The32PixelPngIsTheWindowIcon)
{
    const QImage window =
        formstyle::WindowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage png = Png(32);
    ASSERT_EQ(png.size(), QSize(32, 32));
    ASSERT_EQ(window.size(), QSize(32, 32));
    EXPECT_EQ(png, window);
}

TEST(Icons, EveryPngHasItsSizeAndTheSvgShowsTheSamePicture)
{
    for (int size : kSizes) {
        const QImage png = Png(size);
        ASSERT_EQ(png.size(), QSize(size, size)) << size;
        // The chip's frame is black (at 32 pixels and above, where it is a pixel or more wide),
        // the middle of the arrow's shaft yellow, a corner of the square transparent.
        if (size >= 32) {
            EXPECT_EQ(png.pixel(size * 15 / 64, size / 2), qRgb(0, 0, 0)) << size;
        }
        EXPECT_EQ(png.pixel(size / 2, size * 20 / 32), qRgb(255, 255, 0)) << size;
        EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0) << size;
        const QImage svg = RenderSvg(size);
        ASSERT_EQ(svg.size(), QSize(size, size)) << size;
        EXPECT_LT(ShareOfDifferentPixels(svg, png), 0.02) << size;
    }
}

} // namespace
