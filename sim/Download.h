// The unit's view of one download: it takes the received lines one by one, checks each
// record, loads data records into the image and notices the end record.
#pragma once

#include "sim/FirmwareImage.h"

#include <cstdint>
#include <string>
#include <string_view>

class Download
{
public:
    explicit Download(std::uint64_t flashSize) : image_(flashSize) {}

    enum class Step
    {
        Ignored, // an empty line
        Record,  // a good record; the download goes on
        End,     // the end record: the download is complete
        Bad,     // a bad record or a line that is none: Error() says why
    };
    // Takes one received line, without its line end characters.
    Step AddLine(std::string_view line);

    const std::string& Error() const { return error_; }
    // Set when a data record addressed bytes outside the flash; the download still goes on
    // to its end (programming fails then). FlashError() says which record.
    bool OutsideFlash() const { return !flashError_.empty(); }
    const std::string& FlashError() const { return flashError_; }

    unsigned Lines() const { return lines_; }
    unsigned Records() const { return records_; }
    const FirmwareImage& Image() const { return image_; }

private:
    FirmwareImage image_;
    std::uint64_t base_ = 0; // Intel HEX extended segment or linear base
    unsigned lines_ = 0;
    unsigned records_ = 0;
    unsigned dataRecords_ = 0;
    std::string error_;
    std::string flashError_;
};
