#include "sim/Download.h"

#include "sim/Records.h"

Download::Step Download::AddLine(std::string_view line)
{
    ++lines_;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos)
        return Step::Ignored;
    Record record;
    std::string why;
    if (!ParseRecord(line, record, why)) {
        error_ = "line " + std::to_string(lines_) + ": " + why;
        return Step::Bad;
    }
    ++records_;
    switch (record.kind) {
    case RecordKind::Data: {
        ++dataRecords_;
        const std::uint64_t address = record.intelHex ? base_ + record.value : record.value;
        if (!image_.Write(address, record.data) && flashError_.empty())
            flashError_ = "line " + std::to_string(lines_) + ": address outside the flash";
        return Step::Record;
    }
    case RecordKind::Count:
        // The count record holds the number of data records before it: a mismatch means
        // records went missing on the way.
        if (record.value != (dataRecords_ & 0xFFFFFFu)) {
            error_ = "line " + std::to_string(lines_) + ": record count " +
                     std::to_string(record.value) + " but " + std::to_string(dataRecords_) +
                     " data records received";
            return Step::Bad;
        }
        return Step::Record;
    case RecordKind::SegmentBase:
    case RecordKind::LinearBase:
        base_ = record.value;
        return Step::Record;
    case RecordKind::End:
        return Step::End;
    case RecordKind::Header:
    case RecordKind::StartAddress:
        return Step::Record;
    }
    return Step::Record;
}
