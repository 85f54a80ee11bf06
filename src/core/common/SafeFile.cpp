#include "core/common/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace safefile {

namespace {

bool g_noRenameat2 = false;
bool g_noLinks = false;

bool Identity(const std::string& path, struct stat& st) { return !path.empty() && ::stat(path.c_str(), &st) == 0; }

int RenameNoReplace(const char* from, const char* to)
{
    if (g_noRenameat2) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
}

int Link(const char* from, const char* to)
{
    if (g_noLinks) {
        errno = EPERM;
        return -1;
    }
    return ::link(from, to);
}

// Errors by which a file system says it lacks the operation, not that the
// operation met a reason to fail.
bool Unsupported(int e) { return e == EINVAL || e == ENOSYS || e == ENOTSUP || e == EOPNOTSUPP || e == EPERM; }

bool Failed(const std::string& temp, std::string* why, const std::string& reason)
{
    ::unlink(temp.c_str());
    if (why)
        *why = reason;
    return false;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return Identity(a, sa) && Identity(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string InputAsOutput(const std::string& output, const std::vector<std::string>& inputs)
{
    struct stat out {};
    if (!Identity(output, out))
        return std::string();
    for (const std::string& input : inputs) {
        struct stat in {};
        if (Identity(input, in) && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return output + " is the same file as " + input + ", which is read: choose another output";
    }
    return std::string();
}

std::string SourceProblem(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? std::string("no such file") : std::string("cannot read the file: ") + std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "a folder, not a file";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) == 0 &&
        (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC || fs.f_type == DEBUGFS_MAGIC))
        return "not a regular file";
    return std::string();
}

std::string CreateTemp(const std::string& target, std::string* why, const std::string& suffix)
{
    std::string name = target + "-XXXXXX" + suffix;
    const int fd = ::mkostemps(&name[0], static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = "cannot create a file beside " + target + ": " + std::strerror(errno);
        return std::string();
    }
    // mkstemp makes it 0600; a finished output is as readable as any file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return name;
}

bool Publish(const std::string& temp, const std::string& target, bool replace, std::string* why)
{
    if (replace) {
        if (std::rename(temp.c_str(), target.c_str()) == 0)
            return true;
        return Failed(temp, why, "cannot replace " + target + ": " + std::strerror(errno));
    }
    const std::string exists = target + " already exists";
    if (RenameNoReplace(temp.c_str(), target.c_str()) == 0)
        return true;
    if (errno == EEXIST)
        return Failed(temp, why, exists);
    if (!Unsupported(errno))
        return Failed(temp, why, "cannot write " + target + ": " + std::strerror(errno));
    // A link fails when the name is taken, whoever took it and when.
    if (Link(temp.c_str(), target.c_str()) == 0) {
        ::unlink(temp.c_str());
        return true;
    }
    if (errno == EEXIST)
        return Failed(temp, why, exists);
    if (!Unsupported(errno))
        return Failed(temp, why, "cannot write " + target + ": " + std::strerror(errno));
    // Neither: the narrowest window left is a check right before the rename.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0)
        return Failed(temp, why, exists);
    if (std::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    return Failed(temp, why, "cannot write " + target + ": " + std::strerror(errno));
}

void SimulateMissingNoReplace(bool noRenameat2, bool noLinks)
{
    g_noRenameat2 = noRenameat2;
    g_noLinks = noLinks;
}

std::string Printable(const std::string& text, size_t limit)
{
    std::string out;
    out.reserve(std::min(text.size(), limit) + 8);
    size_t shown = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shown >= limit)
            return out + "...";
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case 0x1b: out += "\\e"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++shown;
    }
    return out;
}

} // namespace safefile
