#include "line/window/VerdictText.h"

namespace line {

VerdictText VerdictOf(upload::UnitOutcome outcome)
{
    using upload::UnitOutcome;
    switch (outcome) {
    case UnitOutcome::CrcOk:
        return {"PASS", ""};
    case UnitOutcome::CrcBad:
        return {"FAIL: CRC BAD", "Program the unit again; if it fails twice, set it aside"};
    case UnitOutcome::ProgrammingFailed:
        return {"FAIL: PROGRAMMING", "The unit's flash refused the image: set it aside for repair"};
    case UnitOutcome::DownloadFailed:
        return {"FAIL: DOWNLOAD", "The unit dropped the download: check its cable, program again"};
    case UnitOutcome::Cancelled:
        return {"CANCELLED", "The unit is not programmed: program it again"};
    case UnitOutcome::SendError:
        return {"FAIL: LINE", "The line failed: check the adapter and cable, then press Start"};
    case UnitOutcome::NoResult:
        return {"FAIL: NO RESULT", "The unit gave no verdict: check its power, program again"};
    }
    return {"?", ""};
}

} // namespace line
