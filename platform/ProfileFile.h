// Settings files in the Windows profile (ini) format: [Section] headers followed by
// key=value lines. TIniFile reads and writes one key at a time straight from and to the
// file; the pure functions below do the parsing and the one-key rewrite, so tests and the
// fuzzer can drive them without touching the disk.
//
// Rules kept from the profile format: section and key names match without regard to
// (ASCII) case and with blanks around them ignored; a value is the text after the first "="
// with blanks around it and one pair of enclosing quotes (double or single) removed, cut to
// its first 2047 characters; the first matching section and, inside it, the first matching
// key win; a write replaces the value of an existing key or adds the key (and the section)
// and leaves every other line of the file as it was, byte for byte.
//
// Written by hand because no kept library follows these rules: QSettings rewrites the whole
// file, drops comments and folds key case.
#pragma once

#include "platform/Exception.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace profile {

// The longest value a read returns; longer values are cut.
inline constexpr std::size_t MaxValueLength = 2047;

// The value of `key` in `section` of the file text, or nothing when the section or the key
// is missing.
std::optional<AnsiString> FindValue(std::string_view text, std::string_view section,
                                    std::string_view key);

// Every key=value line of the first `section`, in file order, with values cleaned as a read
// cleans them. Lines without "=" and comment lines (";" or "#") are skipped.
std::vector<std::pair<AnsiString, AnsiString>> ReadSection(std::string_view text,
                                                           std::string_view section);

// The file text with `key` in `section` set to `value`: the key's line is replaced when it
// exists, else the key is added after the last non-blank line of the section, else the section is
// added at the end. New lines use the line end the text already uses (CR LF or LF; LF for an
// empty text). The caller checks that section, key and value hold no line break.
AnsiString ReplaceValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace profile

class TIniFile
{
public:
    // Remembers the path only; nothing is read or created on disk until a read or a write.
    explicit TIniFile(AnsiString path);

    const AnsiString& FileName() const { return path_; }

    // The value of the key, or `defaultValue` when the file, the section or the key is
    // missing or the file cannot be read. Never throws.
    AnsiString ReadString(std::string_view section, std::string_view key,
                          const AnsiString& defaultValue) const;

    // Every key=value pair of a section, in file order; empty when the file or the section
    // is missing. Never throws.
    std::vector<std::pair<AnsiString, AnsiString>> ReadSection(std::string_view section) const;

    // Sets one key, creating the file and the section when missing. The file is rewritten
    // as a whole (see FileRewrite.h): a failure or a kill in mid-write leaves the old file
    // whole, the file keeps its owner and mode, and a file the user may not write (or one
    // without any write permission) stays as it was. The first write also removes temporary
    // files that killed writers left. Throws Exception("Unable to write to " + path) when
    // the file cannot be written, and also when section, key or value hold a line break or a
    // NUL (which the format cannot carry), or the section or key name is empty.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

private:
    AnsiString path_;
    bool staleRemoved_ = false;
};
