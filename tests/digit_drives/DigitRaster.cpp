#include "tests/digit_drives/DigitRaster.h"

#include <array>
#include <vector>

namespace digitraster {
namespace {

struct Run
{
    int x1, y1, x2, y2; // the second point is not part of the run
};

// Lines of each segment (index 0 is segment 1), relative to the cell corner.
std::vector<Run> Segment(int segment)
{
    switch (segment) {
    case 1:
        return {{1, 0, 10, 0}, {2, 1, 9, 1}, {3, 2, 8, 2}};
    case 2:
        return {{0, 1, 0, 10}, {1, 2, 1, 9}, {2, 3, 2, 8}};
    case 3:
        return {{10, 1, 10, 10}, {9, 2, 9, 9}, {8, 3, 8, 8}};
    case 4:
        return {{1, 10, 10, 10}, {2, 9, 9, 9}, {2, 11, 9, 11}};
    case 5:
    case 6: {
        std::vector<Run> runs = Segment(segment - 3);
        for (Run& r : runs) {
            r.y1 += 10;
            r.y2 += 10;
        }
        return runs;
    }
    case 7:
        return {{1, 20, 10, 20}, {2, 19, 9, 19}, {3, 18, 8, 18}};
    }
    return {};
}

// Lit segments per digit, as a seven-segment display shows them (9 without its bottom bar).
const std::array<std::vector<int>, 10> kLit{{
    {1, 2, 3, 5, 6, 7},
    {3, 6},
    {1, 3, 4, 5, 7},
    {1, 3, 4, 6, 7},
    {2, 3, 4, 6},
    {1, 2, 4, 6, 7},
    {1, 2, 4, 5, 6, 7},
    {1, 3, 6},
    {1, 2, 3, 4, 5, 6, 7},
    {1, 2, 3, 4, 6},
}};

} // namespace

std::set<std::pair<int, int>> LitPixels(QPoint corner, int digit)
{
    std::set<std::pair<int, int>> pixels;
    for (int segment : kLit.at(digit)) {
        for (const Run& r : Segment(segment)) {
            int x = r.x1, y = r.y1;
            const int dx = (r.x2 > r.x1) - (r.x2 < r.x1);
            const int dy = (r.y2 > r.y1) - (r.y2 < r.y1);
            for (; x != r.x2 || y != r.y2; x += dx, y += dy)
                pixels.insert({corner.x() + x, corner.y() + y});
        }
    }
    return pixels;
}

QImage Expected(const std::string& text, const QColor& lit, const QColor& unlit)
{
    const int digits = static_cast<int>(text.size());
    QImage image(digits * 13 + 2, 25, QImage::Format_RGB32);
    image.fill(unlit);
    for (int i = 0; i < digits; ++i)
        for (auto [x, y] : LitPixels(QPoint(i * 13 + 2, 2), text[i] - '0'))
            image.setPixelColor(x, y, lit);
    return image;
}

std::string Read(const QImage& image, int digits, const QColor& lit)
{
    std::string text;
    for (int i = 0; i < digits; ++i) {
        const QPoint corner(i * 13 + 2, 2);
        char found = '?';
        for (int d = 0; d < 10 && found == '?'; ++d) {
            const auto pixels = LitPixels(corner, d);
            bool same = true;
            for (int y = corner.y(); y < corner.y() + 21 && same; ++y)
                for (int x = corner.x(); x < corner.x() + 11 && same; ++x)
                    same = (image.pixelColor(x, y) == lit) == (pixels.count({x, y}) == 1);
            if (same)
                found = static_cast<char>('0' + d);
        }
        text += found;
    }
    return text;
}

} // namespace digitraster
