#pragma once
// What every export shares: the temporary file beside the target, the
// rename that replaces the target only on success, and the progress sink.
#include "core/exchange/MergeExport.h"
#include "core/model/ProgressSink.h"

#include "core/common/NumberFormat.h"

#include <charconv>
#include <ostream>
#include <string>

namespace exchange::detail {

ExportResult Fail(std::string* why, const std::string& reason);

// The file under a temporary name beside the target; renamed on success.
inline std::string TempName(const std::string& path) { return path + ".part~"; }

// Renames `temp` over `path`; on failure removes `temp` and says why.
bool Replace(const std::string& temp, const std::string& path, std::string* why);

// A file written by a library that checks none of its writes: at least it
// must be there, not empty, and on the disk before it replaces anything.
bool Synced(const std::string& file);

// The sink every export reports to: the caller's, or a silent one.
class ExportProgress {
public:
    explicit ExportProgress(IProgressSink* sink);
    IProgressSink* operator->() const { return m_sink; }

private:
    CSilentProgress m_silent;
    IProgressSink* m_sink;
};

// "%d" of a value cast to int, without the undefined cast: truncation
// toward zero, saturating at the int limits, nan as 0.
int TruncateToInt(double value);

// A line buffer that formats as printf's "%.Nf" and "%d" do, byte for
// byte, and hands the stream a megabyte at a time.
class LineWriter {
public:
    explicit LineWriter(std::ostream& out) : m_out(out) { m_buffer.reserve(kFlushAt + 4096); }
    void Fixed(double v, int decimals)
    {
        char text[kFixedCapacity];
        m_buffer.append(text, FormatFixed(v, decimals, text));
    }
    void Fixed6(double v) { Fixed(v, 6); }
    void Int(long long v)
    {
        char text[24];
        const auto r = std::to_chars(text, text + sizeof text, v);
        m_buffer.append(text, r.ptr);
    }
    void Text(const std::string& s) { m_buffer += s; }
    void Char(char c) { m_buffer += c; }
    // Ends a line; the buffer goes out once it is large enough.
    void EndLine()
    {
        m_buffer += '\n';
        FlushIfFull();
    }
    void FlushIfFull()
    {
        if (m_buffer.size() >= kFlushAt)
            Flush();
    }
    void Flush()
    {
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_buffer.clear();
    }
    std::string& Buffer() { return m_buffer; }

private:
    static constexpr size_t kFlushAt = 1 << 20;
    std::ostream& m_out;
    std::string m_buffer;
};

} // namespace exchange::detail
