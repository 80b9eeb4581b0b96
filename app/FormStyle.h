// The look shared by the windows: the fonts that stand in for the form fonts of the
// original platform, and the window icon.
#pragma once

#include <QFont>
#include <QIcon>

class QPainter;

namespace formstyle {

// The windows' font: a sans-serif face 11 pixels high (8 point at 96 pixels per inch),
// the nearest installed of Liberation Sans, Nimbus Sans and DejaVu Sans.
QFont FormFont();
// The labels' font: a serif face 13 pixels high (10 point at 96 pixels per inch), the
// nearest installed of Liberation Serif, Nimbus Roman and DejaVu Serif.
QFont LabelFont();
// The window icon, a chip with an upward arrow, drawn into the square (0, 0) to (32, 32) of
// the painter's coordinates. The installed icons are rendered from it too.
void DrawWindowIcon(QPainter& p);
// The 32 by 32 window icon, drawn at run time.
QIcon WindowIcon();

} // namespace formstyle
