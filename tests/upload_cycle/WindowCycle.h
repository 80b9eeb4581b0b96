// A test of the real main window against a simulated unit: the unit started with its options,
// the window in its folder, Connect pressed and the unit's greeting recognised. No message box
// may have been shown when the test ends.
#pragma once

#include "app/Uploader.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"

#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace unitbench {

class WindowCycle : public testing::Test
{
protected:
    void SetUp() override { testapp::ResetRecorders(); }
    void TearDown() override
    {
        tool.reset();
        unit.reset();
        EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{});
    }

    void Start(const QStringList& options)
    {
        unit = std::make_unique<SimulatedUnit>(ORVIX_SIM_PATH, options);
        ASSERT_EQ(unit->Error(), "");
        tool = std::make_unique<Uploader>();
        form = &tool->Form();
        tool->Click(form->ConnectButton);
        ASSERT_TRUE(tool->WaitForStatus(Greeted)) << "status: " << tool->Status();
    }

    std::unique_ptr<SimulatedUnit> unit;
    std::unique_ptr<Uploader> tool;
    TForm1* form = nullptr;
};

} // namespace unitbench
