// Raising and restoring the process's priority class is best effort and never fails hard.
#include "platform/ProcessPriority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

TEST(ProcessPriority, HighThenNormalRestoresTheStartingNiceValue)
{
    const int before = getpriority(PRIO_PROCESS, 0);
    const bool raised = SetPriorityClass(PriorityClass::High);
    if (raised) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), before - 10);
    }
    SetPriorityClass(PriorityClass::Normal);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), before);
}
