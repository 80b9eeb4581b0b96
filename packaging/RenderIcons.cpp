// orvix-render-icons: renders the window icon into the freedesktop.org icon theme layout, as a
// scalable SVG and as PNG files of the theme's usual sizes, so that the installed icons show
// the picture the window draws.
#include "app/FormStyle.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

namespace {

bool RenderPng(const QString& themeDir, const QString& name, int size)
{
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(themeDir).arg(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 32.0, size / 32.0);
    formstyle::DrawWindowIcon(p);
    p.end();
    return QDir().mkpath(dir) && image.save(dir + "/" + name + ".png", "PNG");
}

bool RenderSvg(const QString& themeDir, const QString& name)
{
    const QString dir = themeDir + "/scalable/apps";
    if (!QDir().mkpath(dir))
        return false;
    QSvgGenerator svg;
    svg.setFileName(dir + "/" + name + ".svg");
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Orvix-500 Firmware Uploader"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    formstyle::DrawWindowIcon(p);
    return p.end();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvix-render-icons THEME-DIR ICON-NAME\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString themeDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    bool ok = RenderSvg(themeDir, name);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        ok = RenderPng(themeDir, name, size) && ok;
    if (!ok) {
        std::fprintf(stderr, "orvix-render-icons: cannot write the icons under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
