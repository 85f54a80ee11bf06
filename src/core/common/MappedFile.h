#pragma once
// A regular file mapped read-only: checks and readers look at a file of any
// size without reading it into memory first.
#include <cstddef>
#include <string>

class MappedFile {
public:
    MappedFile() = default;
    explicit MappedFile(const std::string& path) { Open(path); }
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False (with the system's reason in `why`) for what cannot be opened
    // or is not a regular file; an empty file opens.
    bool Open(const std::string& path, std::string* why = nullptr);
    bool Ok() const { return m_ok; }
    // Never null: an empty file is "".
    const char* Data() const { return m_data ? m_data : ""; }
    size_t Size() const { return m_size; }
    // Pages of [from, to) read and not needed again leave the process's
    // memory (they stay in the page cache): a mapped file of several GB
    // would otherwise count in full beside what is made of it.
    void Release(const char* from, const char* to) const;

private:
    const char* m_data = nullptr;
    size_t m_size = 0;
    bool m_ok = false;
};
