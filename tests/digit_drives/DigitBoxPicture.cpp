// Writes a picture of the digit display for the documentation: the ten digits, drawn at
// their real size and then enlarged pixel for pixel so the segment shapes can be seen.
//   digitbox_picture <file.png> [scale]
#include "components/DigitBox.h"

#include <QApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: digitbox_picture <file.png> [scale]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int scale = argc > 2 ? std::atoi(argv[2]) : 6;

    TDigitBox box;
    box.setDelay(0);
    box.setDigits(10);
    box.setValue(1234567890);
    const QImage image = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage enlarged = image.scaled(image.size() * std::max(scale, 1), Qt::IgnoreAspectRatio,
                                         Qt::FastTransformation);
    if (!enlarged.save(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
