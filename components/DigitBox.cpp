#include "components/DigitBox.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <array>
#include <climits>

namespace {

constexpr unsigned kMaxDigits = 11;
constexpr int kCellPitch = 13;
constexpr int kHeight = 25;

// Bit k set: segment k + 1 of the digit is lit.
constexpr std::array<unsigned char, 10> kPatterns{0x77, 0x24, 0x5D, 0x6D, 0x2E,
                                                  0x6B, 0x7B, 0x25, 0x7F, 0x2F};

// A line from its first point towards its second; the second point itself is not drawn.
struct Line
{
    int x1, y1, x2, y2;
};
// Segments 1 to 4 and 7, relative to the cell's corner; 5 and 6 are 2 and 3 ten pixels down.
// Each segment narrows towards the inside of the digit.
constexpr Line kTop[3] = {{1, 0, 10, 0}, {2, 1, 9, 1}, {3, 2, 8, 2}};
constexpr Line kUpperLeft[3] = {{0, 1, 0, 10}, {1, 2, 1, 9}, {2, 3, 2, 8}};
constexpr Line kUpperRight[3] = {{10, 1, 10, 10}, {9, 2, 9, 9}, {8, 3, 8, 8}};
constexpr Line kMiddle[3] = {{1, 10, 10, 10}, {2, 9, 9, 9}, {2, 11, 9, 11}};
constexpr Line kBottom[3] = {{1, 20, 10, 20}, {2, 19, 9, 19}, {3, 18, 8, 18}};

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

} // namespace

TDigitBox::TDigitBox(QWidget* Owner)
    : QWidget(Owner), FTimer(new QTimer(this)), FColor1(255, 0, 0), FColor2(0, 0, 0)
{
    // Steps are meant to be Delay apart; a coarse timer may come early by a twentieth.
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, [this] { TimerExpired(FTimer); });
    FCanvas = QImage(FixedSize(), QImage::Format_RGB32);
    FCanvas.fill(FColor2);
    EnforceSize();
    ApplyTimer();
}

TDigitBox::~TDigitBox() = default;

void TDigitBox::setColor1(const QColor& value)
{
    FColor1 = value;
    DoPaint();
}

void TDigitBox::setColor2(const QColor& value)
{
    FColor2 = value;
    Invalidate();
}

void TDigitBox::setDigits(unsigned value)
{
    FDigits = std::min(value, kMaxDigits);
    FCanvas = QImage(FixedSize(), QImage::Format_RGB32);
    FCanvas.fill(FColor2);
    EnforceSize();
    Invalidate();
}

void TDigitBox::setDelay(unsigned value)
{
    FDelay = value;
    ApplyTimer();
    if (FDelay == 0 && FValue != FTarget) {
        FValue = FTarget;
        DoPaint();
    }
}

void TDigitBox::setValue(std::uint32_t value)
{
    if (FDelay != 0) {
        FValue = value;
        if (FTarget != FValue)
            SetTimerEnabled(true);
    } else {
        FValue = value;
        FTarget = value;
    }
    DoPaint();
    if (OnValueChange)
        OnValueChange(this);
}

void TDigitBox::setTarget(std::uint32_t value)
{
    if (OnTargetChange)
        OnTargetChange(this);
    FTarget = value;
    if (FDelay == 0) {
        FValue = FTarget;
        DoPaint();
    } else if (FTarget != FValue) {
        SetTimerEnabled(true);
    }
}

void TDigitBox::inc(std::uint32_t n)
{
    setTarget(FTarget + n);
}

void TDigitBox::dec(std::uint32_t n)
{
    setTarget(FTarget - n);
}

void TDigitBox::TimerExpired(TObject*)
{
    if (FTarget > FValue)
        setValue(FValue + 1);
    if (FTarget < FValue)
        setValue(FValue - 1);
    if (FTarget == FValue) {
        SetTimerEnabled(false);
        if (OnTargetReach)
            OnTargetReach(this);
    }
}

void TDigitBox::Paint()
{
    FCanvas.fill(FColor2);
    DoPaint();
}

void TDigitBox::DoPaint()
{
    {
        QPainter painter(&FCanvas);
        std::uint32_t rest = FValue;
        for (unsigned i = 0; i < FDigits; ++i) {
            const QPoint corner(static_cast<int>(FDigits - 1 - i) * kCellPitch + 2, 2);
            PaintDigit(painter, corner, static_cast<char>(rest % 10));
            rest /= 10;
        }
    }
    // Inside a paint event the canvas is about to be shown anyway; no second paint needed.
    if (!FInPaintEvent)
        update();
}

void TDigitBox::PaintDigit(QPainter& painter, QPoint corner, char digit)
{
    const unsigned pattern = kPatterns.at(static_cast<unsigned char>(digit));
    for (int segment = 7; segment >= 1; --segment)
        PaintAxe(painter, corner, static_cast<char>(segment),
                 (pattern >> (segment - 1)) & 1u ? 1 : 0);
}

void TDigitBox::PaintAxe(QPainter& painter, QPoint corner, char segment, int lit)
{
    const Line* lines = nullptr;
    switch (segment) {
    case 1:
        lines = kTop;
        break;
    case 2:
        lines = kUpperLeft;
        break;
    case 3:
        lines = kUpperRight;
        break;
    case 4:
        lines = kMiddle;
        break;
    case 5:
        PaintAxe(painter, corner + QPoint(0, 10), 2, lit);
        return;
    case 6:
        PaintAxe(painter, corner + QPoint(0, 10), 3, lit);
        return;
    case 7:
        lines = kBottom;
        break;
    default:
        return;
    }
    painter.setPen(QPen(lit ? FColor1 : FColor2, 1));
    for (int k = 0; k < 3; ++k) {
        const Line& l = lines[k];
        const int dx = Sign(l.x2 - l.x1);
        const int dy = Sign(l.y2 - l.y1);
        if (dx == 0 && dy == 0)
            continue;
        // QPainter draws a line's end point as well; the line stops one pixel short of it.
        painter.drawLine(corner + QPoint(l.x1, l.y1), corner + QPoint(l.x2 - dx, l.y2 - dy));
    }
}

void TDigitBox::paintEvent(QPaintEvent*)
{
    if (FNeedsPaint) {
        FNeedsPaint = false;
        FInPaintEvent = true;
        Paint();
        FInPaintEvent = false;
    }
    QPainter(this).drawImage(0, 0, FCanvas);
}

void TDigitBox::resizeEvent(QResizeEvent* event)
{
    if (event->size() != FixedSize() || size() != FixedSize())
        EnforceSize();
}

QSize TDigitBox::FixedSize() const
{
    return QSize(static_cast<int>(FDigits) * kCellPitch + 2, kHeight);
}

void TDigitBox::EnforceSize()
{
    // The fixed size bounds every resize request; a request that slips past it (after the
    // bounds were changed) is undone when its resize event arrives.
    const QSize fixed = FixedSize();
    if (minimumSize() != fixed || maximumSize() != fixed)
        setFixedSize(fixed);
    if (size() != fixed)
        resize(fixed);
}

void TDigitBox::Invalidate()
{
    FNeedsPaint = true;
    update();
}

void TDigitBox::SetTimerEnabled(bool enabled)
{
    if (FTimerEnabled == enabled)
        return;
    FTimerEnabled = enabled;
    ApplyTimer();
}

void TDigitBox::ApplyTimer()
{
    // A zero interval stops the class library's timer without disabling it; a QTimer would
    // instead fire at every turn of the event loop.
    const int interval = static_cast<int>(std::min<unsigned>(FDelay, INT_MAX));
    if (!FTimerEnabled || interval == 0) {
        FTimer->stop();
    } else if (!FTimer->isActive() || FTimer->interval() != interval) {
        FTimer->start(interval);
    }
}
