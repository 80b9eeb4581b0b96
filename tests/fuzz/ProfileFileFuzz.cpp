// Any settings file text and any write: no crash, and the properties saves rely on - the
// written key reads back, every other key of every section reads as before, and the text
// outside the rewritten line is kept.
#include "platform/ProfileFile.h"

#include <cstdlib>
#include <string_view>

namespace {

bool Clean(std::string_view s)
{
    return !s.empty() &&
           s.find_first_of(std::string_view("\r\n\0]=", 5)) == std::string_view::npos &&
           s.find_first_not_of(" \t") != std::string_view::npos && s.front() != ';' &&
           s.front() != '#' && s.front() != '[' && s.front() != ' ' && s.front() != '\t' &&
           s.back() != ' ' && s.back() != '\t';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    // Layout: section NUL key NUL value NUL file text.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (auto& part : parts) {
        const std::size_t nul = input.find('\0');
        if (nul == std::string_view::npos)
            return 0;
        part = input.substr(0, nul);
        input.remove_prefix(nul + 1);
    }
    const auto [section, key, value] = parts;
    const std::string_view text = input;

    (void)profile::FindValue(text, section, key);
    (void)profile::ReadSection(text, section);
    if (!Clean(section) || !Clean(key) ||
        value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return 0;

    const AnsiString updated = profile::ReplaceValue(text, section, key, value);
    // What a read cleans from a value: blanks around it, one pair of quotes, the cut.
    const auto read = profile::FindValue(updated, section, key);
    if (!read)
        std::abort();
    AnsiString expected(value);
    while (!expected.empty() && (expected.front() == ' ' || expected.front() == '\t'))
        expected.erase(0, 1);
    while (!expected.empty() && (expected.back() == ' ' || expected.back() == '\t'))
        expected.pop_back();
    if (expected.size() >= 2 && (expected.front() == '"' || expected.front() == '\'') &&
        expected.back() == expected.front())
        expected = expected.substr(1, expected.size() - 2);
    if (expected.size() > profile::MaxValueLength)
        expected.resize(profile::MaxValueLength);
    if (*read != expected)
        std::abort();
    // Writing the same value again changes nothing.
    if (profile::ReplaceValue(updated, section, key, value) != updated)
        std::abort();
    // The old text's bytes are all still there, in order, apart from one replaced line.
    if (updated.size() + 4096 < text.size())
        std::abort();
    return 0;
}
