// Reference pictures of the digit display for the tests: which pixels a figure lights,
// worked out from the segment geometry pixel by pixel, without a painter.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <set>
#include <string>

namespace digitraster {

// Pixels of the lit segments of one digit whose cell corner is at the point.
std::set<std::pair<int, int>> LitPixels(QPoint corner, int digit);

// The whole control showing `text` (one character per digit position, most significant
// first): background and unlit segments in `unlit`, lit segments in `lit`.
QImage Expected(const std::string& text, const QColor& lit, const QColor& unlit);

// The figure the image shows, one character per position, '?' where a cell matches no digit.
std::string Read(const QImage& image, int digits, const QColor& lit);

} // namespace digitraster
