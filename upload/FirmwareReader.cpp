#include "upload/FirmwareReader.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace upload {

namespace {
constexpr char EndOfData = 0x1A;
} // namespace

FirmwareReader::FirmwareReader(std::unique_ptr<std::istream> stream) : stream_(std::move(stream)) {}

bool FirmwareReader::Open(const AnsiString& path)
{
    Close();
    openError_.clear();
    // A directory opens for reading on Linux but yields no data: it is no firmware file.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        openError_ = std::make_error_code(std::errc::is_a_directory).message();
        return false;
    }
    // std::ifstream reads through its own buffer, so the byte-wise parsing below costs no
    // system call per byte.
    errno = 0;
    auto file = std::make_unique<std::ifstream>(path, std::ios::in | std::ios::binary);
    if (!file->is_open()) {
        // The stream keeps no reason of its own; the failed open left it in errno.
        const int reason = errno;
        openError_ = reason != 0 ? std::generic_category().message(reason)
                                 : AnsiString("the file cannot be opened");
        return false;
    }
    stream_ = std::move(file);
    return true;
}

void FirmwareReader::Close()
{
    stream_.reset();
    atEnd_ = false;
}

std::int64_t FirmwareReader::Length()
{
    if (!stream_)
        return 0;
    std::streambuf* buf = stream_->rdbuf();
    const auto here = buf->pubseekoff(0, std::ios::cur, std::ios::in);
    const auto end = buf->pubseekoff(0, std::ios::end, std::ios::in);
    buf->pubseekpos(here, std::ios::in);
    if (here == std::streampos(-1) || end == std::streampos(-1))
        return 0;
    return std::int64_t(end);
}

AnsiString FirmwareReader::ReadLine()
{
    AnsiString line;
    if (!stream_ || atEnd_) {
        atEnd_ = true;
        return line;
    }
    std::streambuf* buf = stream_->rdbuf();
    bool cut = false; // a NUL ended the line's text; the rest up to LF is dropped
    for (;;) {
        const int c = buf->sbumpc();
        if (c == std::char_traits<char>::eof() || c == EndOfData) {
            atEnd_ = true;
            break;
        }
        if (c == '\n')
            break;
        if (c == '\r')
            continue;
        if (c == '\0')
            cut = true;
        if (!cut)
            line.push_back(char(c));
    }
    return line;
}

} // namespace upload
