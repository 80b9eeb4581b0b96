// A row of seven-segment digits drawn with lines: shows an unsigned 32-bit number in a lit
// colour on a background colour, and can count towards a target one step at a time at a
// fixed pace, reporting each step, each change of target and the arrival at the target.
//
// Forms place it like any widget: in code, or in a .ui form through a custom widget entry
// (class TDigitBox, extends QWidget, header components/DigitBox.h); the properties below are
// Qt properties, so a form sets them through the same setters.
#pragma once

#include "platform/Component.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>

class QTimer;

class TDigitBox : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor Color1 READ Color1 WRITE setColor1)
    Q_PROPERTY(QColor Color2 READ Color2 WRITE setColor2)
    Q_PROPERTY(uint Delay READ Delay WRITE setDelay)
    Q_PROPERTY(uint Digits READ Digits WRITE setDigits)
    Q_PROPERTY(uint Value READ Value WRITE setValue)
    Q_PROPERTY(uint Target READ Target WRITE setTarget)

public:
    // A new control shows 000 in red (the class library's colour 255) on black, counts at one
    // step per 100 ms, and has its step timer running: its first tick finds Value equal to
    // Target and fires OnTargetReach once.
    explicit TDigitBox(QWidget* Owner = nullptr);
    ~TDigitBox() override;

    // Colour of lit segments. Setting it redraws the digits at once, without the background.
    QColor Color1() const { return FColor1; }
    void setColor1(const QColor& value);
    // Colour of the background and of unlit segments. Setting it repaints the whole control
    // later, from the event loop.
    QColor Color2() const { return FColor2; }
    void setColor2(const QColor& value);
    // Milliseconds between two counting steps; 0 means no counting: changes show at once.
    // Setting 0 while counting makes Value jump to Target, with no event.
    // Delays beyond 2147483647 ms count as 2147483647 ms.
    unsigned Delay() const { return FDelay; }
    void setDelay(unsigned value);
    // Number of digit positions, 0 to 11 (larger requests give 11). The control is always
    // Digits x 13 + 2 pixels wide and 25 high; any other size is undone.
    unsigned Digits() const { return FDigits; }
    void setDigits(unsigned value);
    // The number shown. With a non-zero Delay, setting it shows it at once and counting
    // towards Target goes on from there; with Delay 0 it sets Target too. Fires OnValueChange.
    std::uint32_t Value() const { return FValue; }
    void setValue(std::uint32_t value);
    // The number the display counts towards. Fires OnTargetChange first, while Target still
    // holds the old value, whether or not it changes. With Delay 0 the display jumps to it.
    std::uint32_t Target() const { return FTarget; }
    void setTarget(std::uint32_t value);

    // Target + n and Target - n, wrapping around modulo 2^32.
    void inc(std::uint32_t n);
    void dec(std::uint32_t n);

    // The step timer's tick: one step towards Target through setValue; when Value equals
    // Target the timer stops and OnTargetReach fires, in the same tick as the last step.
    void TimerExpired(TObject* Sender);

    // Fills the background with Color2, then draws the digits.
    void Paint();
    // Draws every digit position, lit segments in Color1 and unlit ones in Color2, onto the
    // canvas, and has the canvas shown.
    void DoPaint();
    // The control's own drawing surface, shown by every paint event: what DoPaint and Paint
    // drew, even before the event loop has shown it.
    const QImage& Canvas() const { return FCanvas; }

    TNotifyEvent OnValueChange;  // after each change of Value through setValue
    TNotifyEvent OnTargetChange; // before each assignment of Target
    TNotifyEvent OnTargetReach;  // when counting finds Value equal to Target

protected:
    // Draws one digit with its cell's top-left corner at the point.
    void PaintDigit(QPainter& painter, QPoint corner, char digit);
    // Draws segment 1 to 7 of the cell at the point, lit in Color1 or unlit in Color2; any
    // other segment number draws nothing.
    void PaintAxe(QPainter& painter, QPoint corner, char segment, int lit);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QSize FixedSize() const;
    void EnforceSize();
    // Repaint the whole control (background and digits) at the next paint event.
    void Invalidate();
    // The step timer as the class library's message timer behaves: it runs while enabled
    // and its interval is not 0; enabling it again or setting the same interval does not
    // restart the count.
    void SetTimerEnabled(bool enabled);
    void ApplyTimer();

    QTimer* FTimer;
    bool FTimerEnabled = true;
    QColor FColor1;
    QColor FColor2;
    unsigned FDelay = 100;
    unsigned FDigits = 3;
    std::uint32_t FValue = 0;
    std::uint32_t FTarget = 0;

    QImage FCanvas;
    bool FNeedsPaint = true;
    bool FInPaintEvent = false;
};
