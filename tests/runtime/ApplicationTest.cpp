// The application object: exceptions leaving handlers are shown and the program goes on.
#include "platform/Application.h"

#include "tests/support/TestApp.h"

#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

class ApplicationTest : public ::testing::Test
{
protected:
    void SetUp() override { testapp::ResetRecorders(); }
};

TEST_F(ApplicationTest, HandleEventShowsTheExceptionAndReturns)
{
    bool after = false;
    Application->HandleEvent([] { throw Exception("Unable to write to /x/Uploader.ini"); });
    after = true;
    ASSERT_EQ(testapp::ShownExceptions().size(), 1u);
    EXPECT_EQ(testapp::ShownExceptions()[0], "Unable to write to /x/Uploader.ini");
    EXPECT_TRUE(after);
}

TEST_F(ApplicationTest, ExceptionFromAClickedButtonIsShownAndTheLoopGoesOn)
{
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked,
                     [] { Application->HandleEvent([] { throw Exception("Send Error: 5"); }); });
    button.click();
    bool later = false;
    QTimer::singleShot(0, [&] { later = true; });
    EXPECT_TRUE(testapp::ProcessUntil([&] { return later; }, 2s));
    ASSERT_EQ(testapp::ShownExceptions().size(), 1u);
    EXPECT_EQ(testapp::ShownExceptions()[0], "Send Error: 5");
}

TEST_F(ApplicationTest, ExceptionLeavingAnEventDeliveryIsCaughtByTheBackstop)
{
    QTimer::singleShot(0, [] { throw Exception("from a timer"); });
    testapp::ProcessFor(50ms);
    ASSERT_EQ(testapp::ShownExceptions().size(), 1u);
    EXPECT_EQ(testapp::ShownExceptions()[0], "from a timer");
}

TEST_F(ApplicationTest, TitleAndMessageBoxHook)
{
    EXPECT_EQ(Application->Title(), "Tallowmere Orvix-500 Firmware Uploader");
    testapp::NextMessageBoxAnswer() = IDCANCEL;
    EXPECT_EQ(Application->MessageBox("OK to Step", "Single Step", MB_OKCANCEL), IDCANCEL);
    ASSERT_EQ(testapp::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(testapp::MessageBoxCalls()[0].caption, "Single Step");
}
