#include "components/DigitBox.h"

#include "tests/digit_drives/DigitRaster.h"
#include "tests/support/TestApp.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable sizes in failure messages.
void PrintTo(const QSize& size, std::ostream* os)
{
    *os << size.width() << "x" << size.height();
}

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);
const QColor kGreen(0, 200, 0);
const QColor kBlue(0, 0, 160);

QImage Render(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Every event of one control, in order, with the property the handler saw and the time.
struct Recorded
{
    std::string kind; // "value", "target", "reach", or "loop" for a turn of the event loop
    std::uint32_t seen;
    Clock::time_point at;
};

class DigitBoxTest : public testing::Test
{
protected:
    void SetUp() override
    {
        created = Clock::now();
        box = std::make_unique<TDigitBox>();
    }

    // Records the three events; with markLoops, each value change also queues a "loop"
    // marker that appears once the event loop has turned, so a later event that comes
    // before its marker came in the same tick.
    void Record(bool markLoops = false)
    {
        box->OnValueChange = [this, markLoops](TObject* sender) {
            EXPECT_EQ(sender, box.get());
            log.push_back({"value", box->Value(), Clock::now()});
            if (markLoops)
                QTimer::singleShot(0, [this] { log.push_back({"loop", 0, Clock::now()}); });
        };
        box->OnTargetChange = [this](TObject* sender) {
            EXPECT_EQ(sender, box.get());
            log.push_back({"target", box->Target(), Clock::now()});
        };
        box->OnTargetReach = [this](TObject* sender) {
            EXPECT_EQ(sender, box.get());
            log.push_back({"reach", box->Value(), Clock::now()});
        };
    }

    std::vector<std::string> Kinds() const
    {
        std::vector<std::string> kinds;
        for (const Recorded& r : log)
            kinds.push_back(r.kind + (r.kind == "loop" ? "" : " " + std::to_string(r.seen)));
        return kinds;
    }

    int Count(const std::string& kind) const
    {
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const Recorded& r) { return r.kind == kind; }));
    }

    bool WaitFor(const std::string& kind, int count = 1)
    {
        return testapp::ProcessUntil([&] { return Count(kind) >= count; }, 10s);
    }

    Clock::time_point created; // before the control and its step timer
    std::unique_ptr<TDigitBox> box;
    std::vector<Recorded> log;
};

TEST_F(DigitBoxTest, NewControlShowsThreeRedZerosOnBlack)
{
    EXPECT_EQ(box->Color1(), kRed);
    EXPECT_EQ(box->Color2(), kBlack);
    EXPECT_EQ(box->Delay(), 100u);
    EXPECT_EQ(box->Digits(), 3u);
    EXPECT_EQ(box->Value(), 0u);
    EXPECT_EQ(box->Target(), 0u);
    EXPECT_EQ(box->size(), QSize(41, 25));
    EXPECT_EQ(Render(*box), digitraster::Expected("000", kRed, kBlack));
}

// Literal pixels of one digit in a one-digit control (cell corner at 2,2): the ends of the
// lines are left out, which leaves gaps at the corners between segments.
TEST_F(DigitBoxTest, LitAndUnlitPixelsOfEightOneAndZero)
{
    struct Pixel
    {
        int x, y;
        bool lit;
    };
    const struct
    {
        std::uint32_t value;
        std::vector<Pixel> pixels;
    } cases[] = {
        {8, {{3, 2, true},   {11, 2, true},  {12, 2, false},  // top: (x+1..x+9, y), end left out
             {2, 3, true},   {2, 11, true},  {2, 12, false},  // upper left: y+1..y+9
             {3, 12, true},  {11, 12, true}, {12, 12, false}, // middle bar
             {4, 11, true},  {10, 11, true}, {4, 13, true},   // its inner lines
             {12, 13, true}, {12, 21, true}, {12, 22, false}, // lower right
             {3, 22, true},  {11, 22, true}, {2, 22, false},  // bottom
             {5, 4, true},   {6, 5, false},  {2, 2, false}}}, // top's third line; the inside
        {1,
         {{12, 3, true},
          {11, 4, true},
          {10, 5, true}, // upper right, three lines
          {12, 13, true},
          {12, 21, true},
          {10, 19, true}, // lower right
          {3, 2, false},
          {3, 12, false},
          {3, 22, false}, // no top, middle or bottom bar
          {2, 3, false},
          {2, 13, false}}}, // no left side
        {0,
         {{3, 2, true},
          {2, 3, true},
          {12, 3, true},
          {2, 13, true},
          {12, 13, true},
          {3, 22, true},
          {3, 12, false},
          {7, 12, false},
          {4, 11, false}}},
    };
    box->setDelay(0);
    box->setDigits(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        box->setValue(c.value);
        const QImage image = Render(*box);
        for (const Pixel& p : c.pixels)
            EXPECT_EQ(image.pixelColor(p.x, p.y), p.lit ? kRed : kBlack)
                << "pixel " << p.x << "," << p.y;
        EXPECT_EQ(image, digitraster::Expected(std::to_string(c.value), kRed, kBlack));
    }
}

TEST_F(DigitBoxTest, ShowsTheLowDigitsOfTheValueWithLeadingZeros)
{
    const struct
    {
        unsigned digits;
        std::uint32_t value;
        std::string shown;
        QColor lit, unlit;
    } cases[] = {
        {3, 7, "007", kRed, kBlack},
        {3, 1234, "234", kRed, kBlack},
        {11, 4294967295u, "04294967295", kRed, kBlack},
        {10, 1234567890, "1234567890", kGreen, kBlue},
        {1, 9, "9", kGreen, kBlue},
        {5, 0, "00000", kRed, kBlack},
        {0, 5, "", kRed, kBlack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        TDigitBox control;
        control.setDelay(0);
        control.setColor1(c.lit);
        control.setColor2(c.unlit);
        control.setDigits(c.digits);
        control.setValue(c.value);
        const QImage image = Render(control);
        EXPECT_EQ(image.width(), static_cast<int>(c.digits) * 13 + 2);
        EXPECT_EQ(digitraster::Read(image, static_cast<int>(c.digits), c.lit), c.shown);
        EXPECT_EQ(image, digitraster::Expected(c.shown, c.lit, c.unlit));
    }
}

TEST_F(DigitBoxTest, DigitCountSetsTheWidthAndStopsAtEleven)
{
    const struct
    {
        unsigned requested, digits;
        int width;
    } cases[] = {{12, 11, 145}, {1000, 11, 145}, {11, 11, 145}, {1, 1, 15}, {0, 0, 2}, {4, 4, 54}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        box->setDigits(c.requested);
        EXPECT_EQ(box->Digits(), c.digits);
        EXPECT_EQ(box->size(), QSize(c.width, 25));
        EXPECT_EQ(Render(*box).size(), QSize(c.width, 25));
    }
    // No digit at all: the control is background only.
    box->setDigits(0);
    box->setDelay(0);
    box->setValue(888);
    EXPECT_EQ(Render(*box), digitraster::Expected("", kRed, kBlack));
}

TEST_F(DigitBoxTest, EveryResizeFallsBackToTheFixedSize)
{
    QWidget form;
    form.resize(600, 200);
    auto* layout = new QHBoxLayout(&form);
    auto* control = new TDigitBox(&form);
    layout->addWidget(control, 1); // a stretching layout wants it wide
    form.show();
    testapp::ProcessFor(50ms);

    const struct
    {
        const char* attempt;
        std::function<void()> act;
    } cases[] = {
        {"resize", [&] { control->resize(300, 80); }},
        {"setGeometry", [&] { control->setGeometry(5, 5, 10, 10); }},
        {"setFixedSize", [&] { control->setFixedSize(200, 40); }},
        {"bounds lifted",
         [&] {
             control->setMinimumSize(0, 0);
             control->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
             control->resize(400, 60);
         }},
        {"form resized", [&] { form.resize(900, 400); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attempt);
        c.act();
        testapp::ProcessFor(30ms);
        EXPECT_EQ(control->size(), QSize(41, 25));
    }
    control->setDigits(6);
    testapp::ProcessFor(30ms);
    EXPECT_EQ(control->size(), QSize(80, 25));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int paints = 0;
};

// A shown control paints when something changed and then rests: a paint event does not ask
// for another one.
TEST_F(DigitBoxTest, ShownControlPaintsOnlyWhenSomethingChanged)
{
    QWidget form;
    auto* control = new TDigitBox(&form);
    control->setDelay(0);
    PaintCounter counter;
    control->installEventFilter(&counter);
    form.show();
    testapp::ProcessFor(300ms);
    const int afterShow = counter.paints;
    EXPECT_GE(afterShow, 1);
    EXPECT_LE(afterShow, 5);

    control->setColor2(kBlue);
    control->setValue(42);
    testapp::ProcessFor(300ms);
    EXPECT_GE(counter.paints, afterShow + 1);
    EXPECT_LE(counter.paints, afterShow + 5);
    EXPECT_EQ(Render(*control), digitraster::Expected("042", kRed, kBlue));
}

// Unlit segments are drawn in the background colour, so drawing a figure over another
// leaves nothing of the old one, without clearing the background.
TEST_F(DigitBoxTest, RedrawOverAnOldFigureLeavesNoTrace)
{
    box->setDelay(0);
    box->setValue(888);
    ASSERT_EQ(Render(*box), digitraster::Expected("888", kRed, kBlack));
    box->setValue(170);
    // The canvas, before any paint event has run.
    EXPECT_EQ(box->Canvas(), digitraster::Expected("170", kRed, kBlack));
    EXPECT_EQ(Render(*box), digitraster::Expected("170", kRed, kBlack));
}

TEST_F(DigitBoxTest, NewLitColourRedrawsTheDigitsAtOnceButNotTheBackground)
{
    box->setDelay(0);
    box->setValue(181);
    Render(*box); // painted once in red on black

    box->setColor2(kBlue); // repaint later
    EXPECT_EQ(box->Canvas(), digitraster::Expected("181", kRed, kBlack));
    box->setColor1(kGreen); // digits now, in both colours
    const QImage canvas = box->Canvas();
    EXPECT_EQ(canvas.pixelColor(12, 3), kGreen);  // a lit segment of the 1
    EXPECT_EQ(canvas.pixelColor(3, 12), kBlue);   // the unlit middle bar of the 1
    EXPECT_EQ(canvas.pixelColor(0, 0), kBlack);   // background not yet repainted
    EXPECT_EQ(canvas.pixelColor(12, 12), kBlack); // the gap between two segments
    // The paint event paints the background too.
    EXPECT_EQ(Render(*box), digitraster::Expected("181", kGreen, kBlue));
}

TEST_F(DigitBoxTest, FirstTickOfANewControlReportsTheTargetReachedOnce)
{
    Record();
    ASSERT_TRUE(WaitFor("reach"));
    testapp::ProcessFor(400ms);
    EXPECT_EQ(Kinds(), std::vector<std::string>{"reach 0"});
}

TEST_F(DigitBoxTest, CountsToTheTargetOneStepPerDelay)
{
    Record(/*markLoops=*/true);
    box->setTarget(5);
    ASSERT_TRUE(WaitFor("reach"));
    testapp::ProcessFor(350ms); // the timer has stopped: nothing more comes

    // The target change sees the old target; every step redraws and reports; the target is
    // reached in the tick of the last step, before the loop turns again.
    EXPECT_EQ(Kinds(),
              (std::vector<std::string>{"target 0", "value 1", "loop", "value 2", "loop", "value 3",
                                        "loop", "value 4", "loop", "value 5", "reach 5", "loop"}));
    // The timer runs from the control's creation and never ticks early (a late tick may be
    // followed by a shorter gap, so the steps are measured from the start).
    for (const Recorded& r : log) {
        if (r.kind == "value") {
            EXPECT_GE(r.at - created, r.seen * 100ms - 5ms) << "step " << r.seen;
        }
    }
    EXPECT_EQ(box->Value(), 5u);
    EXPECT_EQ(digitraster::Read(Render(*box), 3, kRed), "005");
}

TEST_F(DigitBoxTest, NewValueShowsAtOnceThenCountsBackToTheTarget)
{
    box->setDelay(10);
    box->setTarget(40);
    ASSERT_TRUE(testapp::ProcessUntil([&] { return box->Value() == 40; }, 10s));
    Record();
    box->setValue(50);
    EXPECT_EQ(box->Value(), 50u);
    EXPECT_EQ(box->Target(), 40u);
    EXPECT_EQ(digitraster::Read(box->Canvas(), 3, kRed), "050");
    ASSERT_TRUE(WaitFor("reach"));
    std::vector<std::string> expected{"value 50"};
    for (int v = 49; v >= 40; --v)
        expected.push_back("value " + std::to_string(v));
    expected.push_back("reach 40");
    EXPECT_EQ(Kinds(), expected);
}

TEST_F(DigitBoxTest, WithoutDelayChangesShowAtOnce)
{
    box->setDelay(0);
    Record();
    box->setValue(42);
    EXPECT_EQ(box->Value(), 42u);
    EXPECT_EQ(box->Target(), 42u);
    box->setTarget(7);
    EXPECT_EQ(box->Value(), 7u);
    EXPECT_EQ(digitraster::Read(box->Canvas(), 3, kRed), "007");
    testapp::ProcessFor(300ms);
    // setValue reports the value only; setTarget only the change of target (seeing 42).
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"value 42", "target 42"}));
}

TEST_F(DigitBoxTest, ZeroDelayWhileCountingJumpsToTheTargetSilently)
{
    box->setTarget(30);
    ASSERT_TRUE(testapp::ProcessUntil([&] { return box->Value() >= 1; }, 10s));
    Record();
    box->setDelay(0);
    EXPECT_EQ(box->Value(), 30u);
    EXPECT_EQ(digitraster::Read(box->Canvas(), 3, kRed), "030");
    testapp::ProcessFor(400ms);
    EXPECT_TRUE(log.empty());

    // The timer was only held by its zero interval: its next tick reports the arrival.
    box->setDelay(50);
    ASSERT_TRUE(WaitFor("reach"));
    testapp::ProcessFor(300ms);
    EXPECT_EQ(Kinds(), std::vector<std::string>{"reach 30"});
}

TEST_F(DigitBoxTest, IncAndDecWrapAroundThirtyTwoBits)
{
    box->setDelay(0);
    const struct
    {
        const char* step;
        std::function<void()> act;
        std::uint32_t target;
    } cases[] = {
        {"dec(1) from 0", [&] { box->dec(1); }, 4294967295u},
        {"inc(1) past the top", [&] { box->inc(1); }, 0},
        {"inc(5)", [&] { box->inc(5); }, 5},
        {"dec(10)", [&] { box->dec(10); }, 4294967291u},
        {"inc(4294967295)", [&] { box->inc(4294967295u); }, 4294967290u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        c.act();
        EXPECT_EQ(box->Target(), c.target);
        EXPECT_EQ(box->Value(), c.target);
    }
}

TEST_F(DigitBoxTest, DecFromZeroCountsUpwardsTowardsTheTop)
{
    Record();
    box->dec(1);
    EXPECT_EQ(box->Target(), 4294967295u);
    ASSERT_TRUE(WaitFor("value", 2));
    EXPECT_EQ(Kinds()[0], "target 0");
    EXPECT_EQ(Kinds()[1], "value 1");
    EXPECT_EQ(Kinds()[2], "value 2");
    box->setDelay(0);
    EXPECT_EQ(box->Value(), 4294967295u);
    EXPECT_EQ(digitraster::Read(box->Canvas(), 3, kRed), "295");
}

TEST_F(DigitBoxTest, SettingTheCurrentTargetStillReportsTheChange)
{
    for (unsigned delay : {0u, 100u}) {
        SCOPED_TRACE(delay);
        TDigitBox control;
        control.setDelay(delay);
        int changes = 0;
        control.OnTargetChange = [&](TObject*) { ++changes; };
        control.setTarget(0);
        control.setTarget(0);
        EXPECT_EQ(changes, 2);
        EXPECT_EQ(control.Value(), 0u);
    }
}

} // namespace
