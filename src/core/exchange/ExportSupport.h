#pragma once
// What every export shares: the temporary file beside the target, the
// rename that replaces the target only on success, and the progress sink.
#include "core/exchange/MergeExport.h"
#include "core/common/ProgressSink.h"

#include "core/common/NumberFormat.h"

#include <charconv>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

class CheckedOutputFile;

namespace exchange::detail {

ExportResult Fail(std::string* why, const std::string& reason);

// A new temporary file beside the target, under a name no other process
// holds (two exports to one target never share it); "" with the reason.
std::string NewTemp(const std::string& path, std::string* why);

// Opens `file` on a new temporary file beside `path`; "" with the reason.
std::string OpenTemp(CheckedOutputFile& file, const std::string& path, std::string* why);

// Renames `temp` over `path`; on failure removes `temp` and says why.
bool Replace(const std::string& temp, const std::string& path, std::string* why);

// A file written by a library that checks none of its writes: at least it
// must be there, not empty, on the disk, and not on a file system that it
// filled up, before it replaces anything.
bool Synced(const std::string& file);

// The sink every export reports to: the caller's, or a silent one.
class ExportProgress {
public:
    explicit ExportProgress(IProgressSink* sink);
    IProgressSink* operator->() const { return m_sink; }
    // Every few thousand lines: the fraction done and pending events; true
    // when the user pressed Abort.
    bool Checkpoint(double done, double total) const { return ProgressCheckpoint(m_sink, done, total); }

private:
    CSilentProgress m_silent;
    IProgressSink* m_sink;
};

// The end of an export written through `file`: synced and closed, then
// renamed over the target; any failure removes the temporary file.
ExportResult Complete(CheckedOutputFile& file, const std::string& temp, const std::string& path, std::string* why);

// An aborted export: the temporary file goes, whatever it holds.
ExportResult Abandon(CheckedOutputFile& file, const std::string& temp);

// "%d" of a value cast to int, without the undefined cast: truncation
// toward zero, saturating at the int limits, nan as 0.
int TruncateToInt(double value);

// A line buffer that formats as printf's "%.Nf" and "%d" do, byte for
// byte, straight into its memory, and hands the stream a megabyte at a
// time. It goes out only at line ends (FlushIfFull), so a line can still be
// shortened (Unput); the slack holds any line of the exports.
class LineWriter {
public:
    explicit LineWriter(std::ostream& out) : m_out(out), m_data(kFlushAt + kSlack), m_pos(m_data.data()) {}
    ~LineWriter() = default;
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    void Fixed(double v, int decimals) { m_pos = FormatFixed(v, decimals, m_pos); }
    void Fixed6(double v) { Fixed(v, 6); }
    void Int(long long v) { m_pos = std::to_chars(m_pos, m_pos + 24, v).ptr; }
    void Char(char c) { *m_pos++ = c; }
    void Bytes(const void* data, size_t n)
    {
        Room(n);
        std::memcpy(m_pos, data, n);
        m_pos += n;
    }
    void Text(const std::string& s) { Bytes(s.data(), s.size()); }
    // Bytes of the buffer not yet handed out.
    size_t Pending() const { return static_cast<size_t>(m_pos - m_data.data()); }
    // Takes back the last character written.
    void Unput() { --m_pos; }
    // Ends a line; the buffer goes out once it is large enough.
    void EndLine()
    {
        *m_pos++ = '\n';
        FlushIfFull();
    }
    void FlushIfFull()
    {
        if (Pending() >= kFlushAt)
            Flush();
    }
    void Flush()
    {
        m_out.write(m_data.data(), static_cast<std::streamsize>(Pending()));
        m_pos = m_data.data();
    }

private:
    // Texts of any length fit: the buffer grows for one that would not.
    void Room(size_t n)
    {
        if (static_cast<size_t>(m_data.data() + m_data.size() - m_pos) >= n + kSlack / 2)
            return;
        const size_t used = Pending();
        m_data.resize(used + n + kSlack);
        m_pos = m_data.data() + used;
    }
    static constexpr size_t kFlushAt = 1 << 20;
    static constexpr size_t kSlack = 1 << 16; // > 8 fields of kFixedCapacity
    std::ostream& m_out;
    std::vector<char> m_data;
    char* m_pos;
};

} // namespace exchange::detail
