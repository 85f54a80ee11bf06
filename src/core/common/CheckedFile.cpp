#include "core/common/CheckedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <streambuf>
#include <unistd.h>
#include <vector>

// A stream buffer over a file descriptor that remembers the first error.
// Seeking is supported because writers go back to fill in offsets. After a
// failed write the rest is discarded without telling the writer: VTK's XML
// writer frees its arrays twice on its own error path, so the failure is
// reported by Commit() instead.
class CheckedOutputFile::Buffer : public std::streambuf {
public:
    explicit Buffer(int fd) : m_fd(fd), m_data(1 << 16)
    {
        setp(m_data.data(), m_data.data() + m_data.size());
    }
    ~Buffer() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Errno() const { return m_errno; }

    bool Close()
    {
        if (Flush() && ::fsync(m_fd) != 0)
            Note(errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            Note(errno);
        return m_errno == 0;
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!Flush())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        // Writers that hand over a few bytes at a time (base64 groups of
        // four) take the shortest way into the buffer.
        if (n <= epptr() - pptr()) {
            std::memcpy(pptr(), s, static_cast<size_t>(n));
            pbump(static_cast<int>(n));
            return n;
        }
        // Large blocks go straight to the file.
        if (n >= static_cast<std::streamsize>(m_data.size())) {
            if (!Flush() || !WriteAll(s, static_cast<size_t>(n)))
                return 0;
            return n;
        }
        return std::streambuf::xsputn(s, n);
    }
    int sync() override { return Flush() ? 0 : -1; } // fails only once closed
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        if (!Flush())
            return pos_type(off_type(-1));
        const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
        const off_t at = ::lseek(m_fd, static_cast<off_t>(off), whence);
        if (at < 0) {
            Note(errno);
            return pos_type(off_type(0));
        }
        return pos_type(static_cast<off_type>(at));
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
    {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }

private:
    void Note(int e)
    {
        if (m_errno == 0)
            m_errno = e ? e : EIO;
    }
    bool WriteAll(const char* p, size_t n)
    {
        if (m_errno != 0)
            return true; // discarded; Commit() reports the failure
        while (n > 0 && m_errno == 0) {
            const ssize_t w = ::write(m_fd, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                Note(errno);
            } else if (w == 0) {
                Note(ENOSPC);
            } else {
                p += w;
                n -= static_cast<size_t>(w);
                StartWriteBack(static_cast<size_t>(w));
            }
        }
        return true;
    }
    // Hands the disk what is written every few megabytes, so that the sync
    // at the end waits for the last part only, not for the whole file.
    void StartWriteBack(size_t written)
    {
        m_written += written;
        if (m_written - m_started < kWriteBackStep)
            return;
        ::sync_file_range(m_fd, static_cast<off_t>(m_started), static_cast<off_t>(m_written - m_started),
                          SYNC_FILE_RANGE_WRITE);
        m_started = m_written;
    }
    static constexpr size_t kWriteBackStep = 8u << 20;
    size_t m_written = 0; // bytes written so far (the writers write in order)
    size_t m_started = 0; // bytes handed to the disk
    bool Flush()
    {
        if (m_fd < 0) {
            Note(EBADF);
            return false;
        }
        const size_t n = static_cast<size_t>(pptr() - pbase());
        setp(m_data.data(), m_data.data() + m_data.size());
        return WriteAll(m_data.data(), n);
    }

    int m_fd;
    std::vector<char> m_data;
    int m_errno = 0;
};

CheckedOutputFile::CheckedOutputFile() = default;

CheckedOutputFile::~CheckedOutputFile()
{
    m_stream.reset();
    m_buffer.reset();
}

bool CheckedOutputFile::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    m_buffer = std::make_unique<Buffer>(fd);
    m_stream = std::make_unique<std::ostream>(m_buffer.get());
    return true;
}

std::ostream& CheckedOutputFile::Stream() { return *m_stream; }

bool CheckedOutputFile::HasFailed() const { return m_buffer && m_buffer->Errno() != 0; }

bool CheckedOutputFile::Commit()
{
    if (!m_buffer) {
        m_error = "the file is not open";
        return false;
    }
    m_stream->flush();
    const bool ok = m_buffer->Close() && !m_stream->fail();
    if (!ok)
        m_error = std::strerror(m_buffer->Errno() ? m_buffer->Errno() : EIO);
    m_stream.reset();
    m_buffer.reset();
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data, std::string* why)
{
    return WriteWholeFile(path, data.data(), data.size(), why);
}

bool WriteWholeFile(const std::string& path, const char* data, size_t size, std::string* why)
{
    CheckedOutputFile file;
    bool ok = file.Open(path);
    if (ok) {
        file.Stream().write(data, static_cast<std::streamsize>(size));
        ok = file.Commit();
    }
    if (!ok && why)
        *why = file.Error();
    return ok;
}
