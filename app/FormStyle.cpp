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

QIcon WindowIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    // The chip's pins.
    p.setPen(QColor(128, 128, 128));
    for (int i = 0; i < 4; ++i) {
        const int y = 9 + i * 5;
        p.drawLine(3, y, 6, y);
        p.drawLine(25, y, 28, y);
    }
    // The chip's body.
    p.setPen(Qt::black);
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(7, 5, 17, 22);
    // An upward arrow: firmware going into the unit.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
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
    p.end();
    return QIcon(pixmap);
}

} // namespace formstyle
