// A form description places the digit display like any other control and sets its
// properties through its setters.
#include "components/DigitBox.h"
#include "tests/digit_drives/DigitRaster.h"
#include "ui_DigitBoxForm.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

TEST(DigitBoxFormTest, FormPlacesTheControlWithItsProperties)
{
    QWidget form;
    Ui::DigitBoxForm ui;
    ui.setupUi(&form);

    TDigitBox* box = ui.DigitBox1;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parent(), &form);
    EXPECT_EQ(box->objectName(), "DigitBox1");
    EXPECT_EQ(box->Delay(), 0u);
    EXPECT_EQ(box->Digits(), 5u);
    EXPECT_EQ(box->Value(), 31337u);
    EXPECT_EQ(box->Target(), 31337u);
    // The form's 200 x 60 gives way to the control's own size.
    EXPECT_EQ(box->size(), QSize(67, 25));
    EXPECT_EQ(box->pos(), QPoint(16, 12));

    const QColor green(0, 200, 0), blue(0, 0, 160);
    const QImage image = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image, digitraster::Expected("31337", green, blue));
}

} // namespace
