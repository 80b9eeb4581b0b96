#include "platform/ProfileFile.h"

#include "platform/FileRewrite.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line of the file: [begin, contentEnd) is its text without the line end,
// [contentEnd, end) the line end itself (LF, CR LF, or nothing on a last unterminated line).
struct Line
{
    std::size_t begin;
    std::size_t contentEnd;
    std::size_t end;
};

std::vector<Line> SplitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        std::size_t contentEnd = lf == std::string_view::npos ? text.size() : lf;
        if (contentEnd > pos && text[contentEnd - 1] == '\r')
            --contentEnd;
        lines.push_back({pos, contentEnd, end});
        pos = end;
    }
    return lines;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// The section name of a header line, or nothing when the line is no header.
std::optional<std::string_view> SectionName(std::string_view content)
{
    content = Trim(content);
    if (content.empty() || content.front() != '[')
        return std::nullopt;
    content.remove_prefix(1);
    const std::size_t close = content.find(']');
    if (close != std::string_view::npos)
        content = content.substr(0, close);
    return Trim(content);
}

bool IsComment(std::string_view content)
{
    content = Trim(content);
    return !content.empty() && (content.front() == ';' || content.front() == '#');
}

// Splits a key line into its key and raw value; nothing for lines that hold no key.
std::optional<std::pair<std::string_view, std::string_view>> KeyLine(std::string_view content)
{
    if (IsComment(content))
        return std::nullopt;
    const std::size_t eq = content.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(Trim(content.substr(0, eq)), content.substr(eq + 1));
}

AnsiString CleanValue(std::string_view raw)
{
    raw = Trim(raw);
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front()) {
        raw.remove_prefix(1);
        raw.remove_suffix(1);
    }
    if (raw.size() > profile::MaxValueLength)
        raw = raw.substr(0, profile::MaxValueLength);
    return AnsiString(raw);
}

// The lines of the first section called `section`: [first, last) indexes into `lines`,
// the header excluded. Nothing when there is no such section.
std::optional<std::pair<std::size_t, std::size_t>>
FindSection(std::string_view text, const std::vector<Line>& lines, std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name =
            SectionName(text.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin));
        if (!name || !SameName(*name, section))
            continue;
        std::size_t last = i + 1;
        while (last < lines.size() &&
               !SectionName(
                   text.substr(lines[last].begin, lines[last].contentEnd - lines[last].begin)))
            ++last;
        return std::make_pair(i + 1, last);
    }
    return std::nullopt;
}

std::string_view Content(std::string_view text, const Line& line)
{
    return text.substr(line.begin, line.contentEnd - line.begin);
}

bool HoldsLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

} // namespace

namespace profile {

std::optional<AnsiString> FindValue(std::string_view text, std::string_view section,
                                    std::string_view key)
{
    const auto lines = SplitLines(text);
    const auto range = FindSection(text, lines, section);
    if (!range)
        return std::nullopt;
    for (std::size_t i = range->first; i < range->second; ++i) {
        const auto kv = KeyLine(Content(text, lines[i]));
        if (kv && SameName(kv->first, key))
            return CleanValue(kv->second);
    }
    return std::nullopt;
}

std::vector<std::pair<AnsiString, AnsiString>> ReadSection(std::string_view text,
                                                           std::string_view section)
{
    std::vector<std::pair<AnsiString, AnsiString>> entries;
    const auto lines = SplitLines(text);
    const auto range = FindSection(text, lines, section);
    if (!range)
        return entries;
    for (std::size_t i = range->first; i < range->second; ++i) {
        const auto kv = KeyLine(Content(text, lines[i]));
        if (kv && !kv->first.empty())
            entries.emplace_back(AnsiString(kv->first), CleanValue(kv->second));
    }
    return entries;
}

AnsiString ReplaceValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value)
{
    const auto lines = SplitLines(text);
    const std::size_t firstLf = text.find('\n');
    const std::string_view eol =
        firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r' ? "\r\n"
                                                                                      : "\n";
    AnsiString entry;
    entry.append(key).append("=").append(value);

    const auto range = FindSection(text, lines, section);
    if (!range) {
        AnsiString out(text);
        if (!out.empty() && out.back() != '\n')
            out.append(eol);
        out.append("[").append(section).append("]").append(eol);
        out.append(entry).append(eol);
        return out;
    }

    // Replace the key's line, keeping the line's own line end.
    std::size_t lastLine = range->first - 1; // the header when the section has no lines
    for (std::size_t i = range->first; i < range->second; ++i) {
        if (!Trim(Content(text, lines[i])).empty())
            lastLine = i;
        const auto kv = KeyLine(Content(text, lines[i]));
        if (kv && SameName(kv->first, key)) {
            AnsiString out(text.substr(0, lines[i].begin));
            out.append(entry);
            out.append(text.substr(lines[i].contentEnd));
            return out;
        }
    }

    // Add the key after the section's last line that is not blank (or its header), so
    // blank lines that separate it from the next section stay where they are.
    const Line& after = lines[lastLine];
    AnsiString out(text.substr(0, after.end));
    if (text[after.end - 1] != '\n') // the file's last line has no line end
        out.append(eol);
    out.append(entry).append(eol);
    out.append(text.substr(after.end));
    return out;
}

} // namespace profile

TIniFile::TIniFile(AnsiString path) : path_(std::move(path)) {}

namespace {

// The whole file, or nothing when it cannot be read (missing, a directory, no permission).
std::optional<AnsiString> ReadWholeFile(const AnsiString& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return buffer.str();
}

} // namespace

AnsiString TIniFile::ReadString(std::string_view section, std::string_view key,
                                const AnsiString& defaultValue) const
{
    const auto text = ReadWholeFile(path_);
    if (!text)
        return defaultValue;
    auto value = profile::FindValue(*text, section, key);
    return value ? *value : defaultValue;
}

std::vector<std::pair<AnsiString, AnsiString>> TIniFile::ReadSection(std::string_view section) const
{
    const auto text = ReadWholeFile(path_);
    if (!text)
        return {};
    return profile::ReadSection(*text, section);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    const Exception failure("Unable to write to " + path_);
    if (HoldsLineBreakOrNul(section) || HoldsLineBreakOrNul(key) || HoldsLineBreakOrNul(value) ||
        section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
        Trim(section).empty() || Trim(key).empty())
        throw failure;

    // Write through a symbolic link to the file it names, so the link stays a link.
    AnsiString target = path_;
    char resolved[4096];
    const ssize_t linkLength = ::readlink(path_.c_str(), resolved, sizeof resolved - 1);
    if (linkLength > 0) {
        AnsiString link(resolved, std::size_t(linkLength));
        if (link.front() == '/') {
            target = link;
        } else {
            const std::size_t slash = path_.rfind('/');
            target = (slash == AnsiString::npos ? AnsiString() : path_.substr(0, slash + 1)) + link;
        }
    }

    AnsiString old;
    struct stat st
    {
    };
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw failure;
        const auto text = ReadWholeFile(target);
        if (!text)
            throw failure;
        old = *text;
    } else if (errno != ENOENT) {
        throw failure;
    }
    // Once per start: what writers killed in mid-write left beside the file.
    if (!staleRemoved_) {
        staleRemoved_ = true;
        filerewrite::RemoveStaleTemporaries(target);
    }
    if (!filerewrite::Rewrite(target, profile::ReplaceValue(old, section, key, value)))
        throw failure;
}
