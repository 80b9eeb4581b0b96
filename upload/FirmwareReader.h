// Reads a firmware file line by line as the transfer sends it: the text-mode rules of the
// firmware tools (CR dropped, 0x1A ends the data), with lines of any length kept whole.
#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <istream>
#include <memory>

namespace upload {

class FirmwareReader
{
public:
    FirmwareReader() = default;
    // Reads from an already open stream (taken in binary form; the rules below are applied
    // here, not by the stream).
    explicit FirmwareReader(std::unique_ptr<std::istream> stream);

    // Opens the file for reading; false when it cannot be opened, with the system's reason
    // in OpenError().
    bool Open(const AnsiString& path);
    const AnsiString& OpenError() const { return openError_; }
    bool IsOpen() const { return stream_ != nullptr; }
    void Close();

    // The file's length in bytes as stored (every CR and whatever follows a 0x1A counted);
    // the read position is left where it was.
    std::int64_t Length();

    // True once a read has met the end of the data.
    bool AtEnd() const { return atEnd_; }

    // Reads the next line: the bytes up to the next LF, which is consumed and not part of
    // the line. Every CR is dropped; the line's text ends at its first NUL (the rest of the
    // line is read and dropped); a 0x1A byte or the end of the file ends the data. A read
    // that meets the end of the data returns what it read before it, possibly nothing, and
    // marks the end: so the end is noticed only by the read after the last line end.
    AnsiString ReadLine();

private:
    std::unique_ptr<std::istream> stream_;
    bool atEnd_ = false;
    AnsiString openError_;
};

} // namespace upload
