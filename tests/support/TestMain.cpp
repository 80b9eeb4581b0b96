#include "platform/Application.h"
#include "tests/support/TestApp.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest's discovery) needs no display and no application object.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    TApplication app(argc, argv);
    app.SetTitle("Tallowmere Orvix-500 Firmware Uploader");
    app.SetExceptionSink(
        [](const AnsiString& message) { testapp::ShownExceptions().push_back(message); });
    app.SetMessageBoxHook([](const AnsiString& text, const AnsiString& caption, int flags) {
        testapp::MessageBoxCalls().push_back({text, caption, flags});
        return testapp::NextMessageBoxAnswer();
    });
    return RUN_ALL_TESTS();
}
