#include "core/common/MappedFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

MappedFile::~MappedFile()
{
    if (m_data)
        ::munmap(const_cast<char*>(m_data), m_size);
}

bool MappedFile::Open(const std::string& path, std::string* why)
{
    std::string scratch;
    if (!why)
        why = &scratch;
    // Non-blocking: a FIFO given as a file must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return *why = std::strerror(errno), false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return *why = "not a regular file", false;
    }
    m_size = static_cast<size_t>(st.st_size);
    if (m_size > 0) {
        void* p = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            *why = std::strerror(errno);
            ::close(fd);
            m_size = 0;
            return false;
        }
        ::madvise(p, m_size, MADV_SEQUENTIAL);
        m_data = static_cast<const char*>(p);
    }
    ::close(fd);
    m_ok = true;
    return true;
}

void MappedFile::Release(const char* from, const char* to) const
{
    static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t a = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
    const uintptr_t b = reinterpret_cast<uintptr_t>(to) & ~(page - 1);
    if (m_data && b > a)
        ::madvise(reinterpret_cast<void*>(a), b - a, MADV_DONTNEED);
}
