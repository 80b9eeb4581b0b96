// Rewrites a small file as a whole, so that a failure or a killed writer leaves the old
// contents whole, while the file keeps its owner and mode and its permissions are honoured.
#pragma once

#include <string>
#include <string_view>

namespace filerewrite {

// Replaces the contents of the regular file `path` (a symbolic link is replaced, not
// followed: resolve it first), or
// creates it with mode 0666 less the umask. Returns false, leaving the file as it was, when
// the caller may not write it, the file has no write permission at all (read-only for every
// writer, root included), or the write fails.
//
// The new text is written to a temporary file in the same folder, given the old file's
// owner, group and mode, flushed to disk, and renamed over the file. The temporary file has
// no name until it is complete (O_TMPFILE), so a writer killed meanwhile leaves nothing
// behind; where the file system cannot do that it is named `path` + "." + pid + ".tmp", the
// name RemoveStaleTemporaries looks for. When no such file can stand in for the old one (a
// file of another user the caller may write, or a folder the caller may not write), the file
// is rewritten in place, its room reserved first so that a full disk fails before anything
// is overwritten.
bool Rewrite(const std::string& path, std::string_view contents);

// Removes the temporary files that writers of `path` which have ended (killed, or lost
// their power) left beside it. Temporary files of writers still running, and every other
// file, stay.
void RemoveStaleTemporaries(const std::string& path);

} // namespace filerewrite
