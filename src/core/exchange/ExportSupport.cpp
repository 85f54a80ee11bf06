#include "core/exchange/ExportSupport.h"

#include "core/common/CheckedFile.h"
#include "core/common/SafeFile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace exchange::detail {

ExportResult Fail(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return ExportResult::Failed;
}

std::string NewTemp(const std::string& path, std::string* why)
{
    std::string reason;
    const std::string temp = safefile::CreateTemp(path, &reason);
    if (temp.empty() && why)
        *why = "cannot write " + path + ": " + reason;
    return temp;
}

std::string OpenTemp(CheckedOutputFile& file, const std::string& path, std::string* why)
{
    const std::string temp = NewTemp(path, why);
    if (temp.empty())
        return temp;
    if (!file.Open(temp)) {
        ::unlink(temp.c_str());
        if (why)
            *why = "cannot write " + path + ": " + file.Error();
        return std::string();
    }
    return temp;
}

bool Replace(const std::string& temp, const std::string& path, std::string* why)
{
    return safefile::Publish(temp, path, true, why);
}

bool Synced(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_size > 0 && ::fsync(fd) == 0;
    // The library does not say when a write failed; a file system left
    // without a free block almost surely cut the file short.
    struct statvfs fs {};
    if (ok && ::fstatvfs(fd, &fs) == 0 && fs.f_bavail == 0 && fs.f_blocks > 0)
        ok = false;
    ::close(fd);
    return ok;
}

ExportProgress::ExportProgress(IProgressSink* sink) : m_sink(sink ? sink : &m_silent)
{
    m_sink->SetText("Saving Data...");
    m_sink->PumpMessages();
}

ExportResult Complete(CheckedOutputFile& file, const std::string& temp, const std::string& path, std::string* why)
{
    if (!file.Commit()) {
        std::remove(temp.c_str());
        return Fail(why, "cannot write " + path + ": " + file.Error());
    }
    return Replace(temp, path, why) ? ExportResult::Ok : ExportResult::Failed;
}

ExportResult Abandon(CheckedOutputFile& file, const std::string& temp)
{
    file.Commit();
    std::remove(temp.c_str());
    return ExportResult::Aborted;
}

int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace exchange::detail
