#pragma once
// An output file whose every write, flush, sync and close is checked, so a
// full disk or a failing device is reported instead of leaving a truncated
// file that looks complete. Writers that take a std::ostream write into
// Stream(); Commit() then says whether all of it reached the disk. The
// stream itself never reports a failure to the writer (see the .cpp).
#include <memory>
#include <ostream>
#include <string>

class CheckedOutputFile {
public:
    CheckedOutputFile();
    ~CheckedOutputFile(); // closes without committing
    CheckedOutputFile(const CheckedOutputFile&) = delete;
    CheckedOutputFile& operator=(const CheckedOutputFile&) = delete;

    // Creates or truncates `path`. False with the reason in Error().
    bool Open(const std::string& path);
    std::ostream& Stream();
    // Whether a write has failed already (the rest is being discarded), so
    // that long writers can stop early; Commit() still says why.
    bool HasFailed() const;
    // Flushes, syncs and closes; false with the first failure in Error().
    bool Commit();
    const std::string& Error() const { return m_error; }

private:
    class Buffer;
    std::unique_ptr<Buffer> m_buffer;
    std::unique_ptr<std::ostream> m_stream;
    std::string m_error;
};

// Writes `data` to `path` through a CheckedOutputFile.
bool WriteWholeFile(const std::string& path, const std::string& data, std::string* why = nullptr);
bool WriteWholeFile(const std::string& path, const char* data, size_t size, std::string* why = nullptr);
