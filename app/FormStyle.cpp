#include "app/FormStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace formstyle {

QFont FormFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    // Pixel sizes keep the form's proportions whatever the screen reports as its resolution.
    font.setPixelSize(11);
    return font;
}

QFont LabelFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Serif"), QStringLiteral("Nimbus Roman"),
                      QStringLiteral("DejaVu Serif")});
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(13);
    return font;
}

void DrawWindowIcon(QPainter& p)
{
    // Filled rectangles on whole pixels rather than outlines, so that the picture stays crisp
    // at every whole multiple of 32 pixels, and the SVG shows the same pixels.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    // The chip's pins.
    for (int i = 0; i < 4; ++i) {
        const int y = 9 + i * 5;
        p.fillRect(QRectF(3, y, 4, 1), QColor(128, 128, 128));
        p.fillRect(QRectF(25, y, 4, 1), QColor(128, 128, 128));
    }
    // The chip's body: a black frame one pixel wide around the navy blue.
    p.fillRect(QRectF(7, 5, 18, 23), Qt::black);
    p.fillRect(QRectF(8, 6, 16, 21), QColor(0, 0, 128));
    // An upward arrow: firmware going into the unit.
    p.setBrush(QColor(255, 255, 0));
    QPainterPath arrow;
    arrow.moveTo(15.5, 8);
    arrow.lineTo(21.5, 15);
    arrow.lineTo(18, 15);
    arrow.lineTo(18, 24);
    arrow.lineTo(13, 24);
    arrow.lineTo(13, 15);
    arrow.lineTo(9.5, 15);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.restore();
}

QIcon WindowIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    DrawWindowIcon(p);
    p.end();
    return QIcon(pixmap);
}

} // namespace formstyle
