#include "platform/FileRewrite.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryName(const std::string& path, long pid)
{
    return path + "." + std::to_string(pid) + ".tmp";
}

// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now, reporting a failed close (a delayed write error).
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The old file's owner, group and mode onto the new one; false when they cannot be given
// (a file of another user, for anyone but root).
bool TakeOver(int fd, const struct stat& old)
{
    struct stat now
    {
    };
    if (::fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    // After the change of owner, which clears set-id bits.
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

enum class Outcome
{
    Done,
    Failed,
    CannotStandIn // no replacement could take the old file's place: rewrite it in place
};

// A new file beside `path`, without a name where the file system allows it.
int CreateTemporary(const std::string& path, mode_t mode, std::string* name)
{
    name->clear();
    int fd = ::open(Folder(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    *name = TemporaryName(path, ::getpid());
    // A file of this name is one an earlier process of this number left: not in use.
    ::unlink(name->c_str());
    fd = ::open(name->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0)
        name->clear();
    return fd;
}

Outcome ReplaceByRename(const std::string& path, std::string_view contents,
                        const std::optional<struct stat>& old)
{
    std::string name;
    Descriptor fd(CreateTemporary(path, old ? (old->st_mode & 0777) : 0666, &name));
    if (fd.Get() < 0)
        return old ? Outcome::CannotStandIn : Outcome::Failed;
    auto discard = [&](Outcome outcome) {
        if (!name.empty())
            ::unlink(name.c_str());
        return outcome;
    };
    if (old && !TakeOver(fd.Get(), *old))
        return discard(Outcome::CannotStandIn);
    if (!WriteAll(fd.Get(), contents) || ::fsync(fd.Get()) != 0)
        return discard(Outcome::Failed);
    if (name.empty()) {
        // Give the complete file a name just before it replaces the old one.
        name = TemporaryName(path, ::getpid());
        ::unlink(name.c_str());
        const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            name.clear();
            return old ? Outcome::CannotStandIn : Outcome::Failed;
        }
    }
    if (!fd.Close() || ::rename(name.c_str(), path.c_str()) != 0)
        return discard(Outcome::Failed);
    return Outcome::Done;
}

// In place, for a file no replacement can stand in for. The room is reserved first, so that
// a full disk fails before a byte of the old text is overwritten.
bool RewriteInPlace(const std::string& path, std::string_view contents)
{
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return false;
    if (!contents.empty() &&
        ::posix_fallocate(fd.Get(), 0, static_cast<off_t>(contents.size())) != 0)
        return false;
    return WriteAll(fd.Get(), contents) &&
           ::ftruncate(fd.Get(), static_cast<off_t>(contents.size())) == 0 &&
           ::fsync(fd.Get()) == 0 && fd.Close();
}

} // namespace

namespace filerewrite {

bool Rewrite(const std::string& path, std::string_view contents)
{
    std::optional<struct stat> old;
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        // The file's permissions are the caller's, whatever the folder allows; a file
        // without any write permission is read-only even for root.
        if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
        old = st;
    } else if (errno != ENOENT) {
        return false;
    }
    switch (ReplaceByRename(path, contents, old)) {
    case Outcome::Done:
        return true;
    case Outcome::Failed:
        return false;
    case Outcome::CannotStandIn:
        break;
    }
    return RewriteInPlace(path, contents);
}

void RemoveStaleTemporaries(const std::string& path)
{
    const std::string prefix = BaseName(path) + ".";
    const std::string folder = Folder(path);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::stol(digits);
        // A writer still running may be about to rename it (EPERM: running, another user's).
        if (pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH))
            continue;
        ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

} // namespace filerewrite
