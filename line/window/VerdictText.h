// What the operator is told of a unit's outcome: a short verdict and what to do next.
#pragma once

#include "upload/UnitRecord.h"

#include <string>

namespace line {

struct VerdictText
{
    const char* verdict; // "PASS", "FAIL: CRC BAD"
    const char* advice;  // what to do with the unit; empty for a pass
};

VerdictText VerdictOf(upload::UnitOutcome outcome);

} // namespace line
