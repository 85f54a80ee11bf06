#include "core/formats/XyzReader.h"

#include "core/formats/XyzFormat.h"
#include "core/common/ProgressSink.h"
#include "core/common/LargeBuffer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace xyz {

// ---------------------------------------------------------------- Cloud

Cloud::~Cloud()
{
    std::free(m_points);
    std::free(m_rgb);
    std::free(m_intensity);
}

double* Cloud::ReleasePoints() { double* p = m_points; m_points = nullptr; return p; }
unsigned char* Cloud::ReleaseColours() { unsigned char* p = m_rgb; m_rgb = nullptr; return p; }
float* Cloud::ReleaseIntensities() { float* p = m_intensity; m_intensity = nullptr; return p; }

bool Cloud::Start(int code, size_t expected)
{
    m_code = code;
    m_count = 0;
    m_capacity = 0;
    m_integerColour = IntegerColour(code);
    m_integerIntensity = IntegerIntensity(code);
    m_intensityAt = code <= 2 ? 3 : 6;
    // A little over the estimate, as the first line may be longer than most.
    // Pages never written cost no memory, so the whole estimate is reserved;
    // where the address space will not give that much (the estimate trusts
    // the first line), a few million points, and the arrays grow as the data
    // really arrive.
    constexpr size_t kModestReserve = size_t(1) << 22;
    const size_t want = std::max<size_t>(1024, expected + expected / 8);
    return Reserve(want) || (want > kModestReserve && Reserve(kModestReserve));
}

bool Cloud::Reserve(size_t want)
{
    auto grow = [](void*& p, size_t bytes) {
        void* q = largebuf::Reallocate(p, bytes);
        if (!q)
            return false;
        p = q;
        return true;
    };
    void* pts = m_points;
    void* rgb = m_rgb;
    void* inten = m_intensity;
    if (!grow(pts, want * 3 * sizeof(double)))
        return false;
    m_points = static_cast<double*>(pts);
    if (HasColour(m_code)) {
        if (!grow(rgb, want * 3))
            return false;
        m_rgb = static_cast<unsigned char*>(rgb);
    }
    if (HasIntensity(m_code)) {
        if (!grow(inten, want * sizeof(float)))
            return false;
        m_intensity = static_cast<float*>(inten);
    }
    m_capacity = want;
    return true;
}

bool Cloud::Grow()
{
    // realloc of large blocks remaps pages: no second copy of the arrays.
    const size_t want = m_capacity + m_capacity / 2 + 1024;
    void* p = largebuf::Reallocate(m_points, want * 3 * sizeof(double));
    if (!p)
        return false;
    m_points = static_cast<double*>(p);
    if (m_rgb) {
        p = largebuf::Reallocate(m_rgb, want * 3);
        if (!p)
            return false;
        m_rgb = static_cast<unsigned char*>(p);
    }
    if (m_intensity) {
        p = largebuf::Reallocate(m_intensity, want * sizeof(float));
        if (!p)
            return false;
        m_intensity = static_cast<float*>(p);
    }
    m_capacity = want;
    return true;
}

bool Cloud::Append(const double v[7])
{
    if (m_count == m_capacity && !Grow())
        return false;
    StoreAt(m_count, v);
    ++m_count;
    return true;
}

void Cloud::TakeFrom(size_t from, size_t n)
{
    if (from != m_count) {
        std::memmove(m_points + 3 * m_count, m_points + 3 * from, n * 3 * sizeof(double));
        if (m_rgb)
            std::memmove(m_rgb + 3 * m_count, m_rgb + 3 * from, n * 3);
        if (m_intensity)
            std::memmove(m_intensity + m_count, m_intensity + from, n * sizeof(float));
    }
    m_count += n;
}

void Cloud::StoreAt(size_t index, const double v[7])
{
    double* p = m_points + 3 * index;
    p[0] = v[0];
    p[1] = v[1];
    p[2] = v[2];
    // The layout's choices were made once in Start: this runs per line.
    if (m_rgb) {
        unsigned char* c = m_rgb + 3 * index;
        if (m_integerColour) {
            for (int k = 0; k < 3; ++k) // integers of the layout fit an int
                c[k] = static_cast<unsigned char>(static_cast<unsigned int>(static_cast<int>(v[3 + k])) & 0xFF);
        } else {
            for (int k = 0; k < 3; ++k)
                c[k] = ColourFromReal(v[3 + k]);
        }
    }
    if (m_intensity) {
        const double raw = v[m_intensityAt];
        m_intensity[index] = m_integerIntensity ? static_cast<float>(static_cast<int>(raw) / 255.0) : static_cast<float>(raw);
    }
}

// ---------------------------------------------------------------- scanning

namespace {

inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Outcome of the fast scanner: a count it is sure of, or "ask sscanf".
constexpr int kUnsure = -100;

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimal for %lf: [+-] digits [. digits]. Anything that strtod might
// read differently (exponents, hex, inf, nan) is unsure. Short numbers take
// the exact path: an integer mantissa below 2^53 divided by a power of ten
// up to 1e22 is one correctly rounded operation, the value strtod returns.
inline int FastDouble(const char*& p, const char* end, double& out)
{
    const char* s = p;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-'))
        negative = *s++ == '-';
    const char* digits = s;
    uint64_t mantissa = 0;
    int count = 0, fraction = 0;
    while (s < end && IsDigit(*s)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
        ++s, ++count;
        if (count > 19)
            break;
    }
    if (count <= 19 && s < end && *s == '.') {
        ++s;
        while (s < end && IsDigit(*s)) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
            ++s, ++count, ++fraction;
            if (count > 19)
                break;
        }
    }
    if (count > 19) {
        // Long numbers: find the end of the token and let from_chars round.
        while (s < end && IsDigit(*s))
            ++s;
        if (s < end && *s == '.' && !std::memchr(digits, '.', static_cast<size_t>(s - digits)))
            for (++s; s < end && IsDigit(*s);)
                ++s;
    }
    if (count == 0)
        return kUnsure;
    if (s < end) {
        const char c = *s;
        if (c == 'e' || c == 'E' || c == 'x' || c == 'X' || c == 'p' || c == 'P')
            return kUnsure;
    }
    double v;
    if (count <= 19 && mantissa < (uint64_t(1) << 53) && fraction <= 22) {
        v = static_cast<double>(mantissa) / kPowersOfTen[fraction];
    } else {
        const auto r = std::from_chars(digits, s, v);
        if (r.ec != std::errc() || r.ptr != s)
            return kUnsure;
    }
    out = negative ? -v : v;
    p = s;
    return 1;
}

// Plain decimal for %i: [+-] digits, no leading zero (octal), no 0x, at
// most nine digits (so no overflow question arises).
inline int FastInt(const char*& p, const char* end, double& out)
{
    const char* s = p;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-'))
        negative = *s++ == '-';
    if (s >= end || !IsDigit(*s))
        return kUnsure;
    if (*s == '0') {
        // "0" alone is zero; 0x.. and 0digits are hex and octal.
        if (s + 1 < end && (IsDigit(s[1]) || s[1] == 'x' || s[1] == 'X'))
            return kUnsure;
        out = 0;
        p = s + 1;
        return 1;
    }
    long v = 0;
    int n = 0;
    while (s < end && IsDigit(*s)) {
        if (++n > 9)
            return kUnsure;
        v = v * 10 + (*s++ - '0');
    }
    out = static_cast<double>(negative ? -v : v);
    p = s;
    return 1;
}

bool IsIntegerSlot(int code, int slot)
{
    if (slot < 3)
        return false;
    switch (code) {
    case 1: return slot == 3;
    case 3: return true;
    case 5: return true;
    case 6: return slot < 6;
    case 7: return slot == 6;
    default: return false;
    }
}

// Scans [p, end) as sscanf(text, format) would; `end` stands for the
// string's terminating NUL (the caller cuts at the first NUL).
int FastScan(const char* p, const char* end, int code, char separator, double values[7])
{
    const int n = ValuesPerLine(code);
    const bool blankSeparator = separator == ' ' || separator == '\t';
    for (int k = 0; k < n; ++k) {
        if (k > 0) {
            if (blankSeparator) {
                while (p < end && IsSpace(*p))
                    ++p;
            } else {
                if (p >= end)
                    return k; // input failure after k conversions
                if (*p != separator)
                    return k;
                ++p;
            }
        }
        while (p < end && IsSpace(*p))
            ++p;
        if (p >= end)
            return k == 0 ? EOF : k;
        const int r = IsIntegerSlot(code, k) ? FastInt(p, end, values[k]) : FastDouble(p, end, values[k]);
        if (r != 1)
            return kUnsure;
    }
    return n;
}

bool SafeSeparator(char s)
{
    // '%' would be a directive; other control characters are whitespace
    // directives with subtleties best left to sscanf itself.
    return s == ' ' || s == '\t' || (s > ' ' && s != '%' && s < 127);
}

int SlowScan(const char* line, int code, char separator, double values[7])
{
    const std::string format = ScanFormat(code, separator);
    int i[7] = {0, 0, 0, 0, 0, 0, 0};
    double d[7] = {0, 0, 0, 0, 0, 0, 0};
    void* args[7];
    for (int k = 0; k < 7; ++k)
        args[k] = IsIntegerSlot(code, k) ? static_cast<void*>(&i[k]) : static_cast<void*>(&d[k]);
    const int r = std::sscanf(line, format.c_str(), args[0], args[1], args[2], args[3], args[4], args[5], args[6]);
    for (int k = 0; k < 7; ++k)
        values[k] = IsIntegerSlot(code, k) ? static_cast<double>(i[k]) : d[k];
    return r;
}

} // namespace

bool ReadNumber(const char*& p, const char* end, double& value)
{
    const char* s = p;
    while (s < end && IsSpace(*s))
        ++s;
    if (s >= end)
        return false;
    const char* q = s;
    if (FastDouble(q, end, value) == 1) {
        p = q;
        return true;
    }
    // Exponents, inf, nan and the like: strtod on a terminated copy.
    size_t n = 0;
    while (s + n < end && !IsSpace(s[n]) && s[n] != '\0')
        ++n;
    const std::string token(s, n);
    char* stop = nullptr;
    const double v = std::strtod(token.c_str(), &stop);
    if (stop == token.c_str())
        return false;
    value = v;
    p = s + (stop - token.c_str());
    return true;
}

int ScanLine(const char* line, int code, char separator, double values[7])
{
    if (SafeSeparator(separator)) {
        const int r = FastScan(line, line + std::strlen(line), code, separator, values);
        if (r != kUnsure)
            return r;
    }
    return SlowScan(line, code, separator, values);
}

// ---------------------------------------------------------------- reading

namespace {

// Hands out the file's lines in the pieces fgets would read in text mode
// (CR LF read as LF), straight from a large buffer.
class PieceReader {
public:
    explicit PieceReader(int fd) : m_fd(fd) {}
    // Reads no more than `bytes` from the current position.
    void Limit(long long bytes) { m_left = bytes; }
    ~PieceReader() { std::free(m_buffer); }
    bool Init()
    {
        m_buffer = static_cast<char*>(std::malloc(kBlock + 1));
        return m_buffer != nullptr;
    }
    // Physical [begin, end) of the next piece; `crlf` when it ends in CR LF
    // (read as a single LF). False at the end of the file.
    bool Next(const char*& begin, const char*& end, bool& crlf)
    {
        if (!Fill())
            return false;
        const char* p = m_buffer + m_pos;
        const size_t avail = m_fill - m_pos;
        const size_t look = std::min<size_t>(avail, kLinePiece + 1);
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', look));
        size_t physical;
        crlf = false;
        if (nl) {
            const size_t i = static_cast<size_t>(nl - p);
            const bool cr = i > 0 && p[i - 1] == '\r';
            const size_t logical = i + 1 - (cr ? 1 : 0);
            if (logical <= static_cast<size_t>(kLinePiece)) {
                physical = i + 1;
                crlf = cr;
            } else {
                physical = kLinePiece;
            }
        } else {
            physical = std::min<size_t>(avail, kLinePiece);
        }
        begin = p;
        end = p + physical;
        m_pos += physical;
        return true;
    }
    bool Failed() const { return m_failed; }

private:
    static constexpr size_t kBlock = 8u << 20;
    // Keeps at least one whole piece (plus a CR LF) in the buffer.
    bool Fill()
    {
        if (m_fill - m_pos > static_cast<size_t>(kLinePiece) + 1 || m_eof)
            return m_pos < m_fill;
        std::memmove(m_buffer, m_buffer + m_pos, m_fill - m_pos);
        m_fill -= m_pos;
        m_pos = 0;
        while (!m_eof && m_fill < kBlock) {
            size_t ask = kBlock - m_fill;
            if (m_left >= 0)
                ask = std::min<size_t>(ask, static_cast<size_t>(m_left));
            if (ask == 0) {
                m_eof = true;
                break;
            }
            const ssize_t n = ::read(m_fd, m_buffer + m_fill, ask);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                m_failed = true;
                m_eof = true;
                break;
            }
            if (n == 0)
                m_eof = true;
            m_fill += static_cast<size_t>(n);
            if (m_left >= 0)
                m_left -= n;
        }
        return m_pos < m_fill;
    }

    int m_fd;
    long long m_left = -1; // bytes still to read; -1: to the end
    char* m_buffer = nullptr;
    size_t m_pos = 0, m_fill = 0;
    bool m_eof = false;
    bool m_failed = false;
};

// The piece as the C string fgets would have produced.
size_t LogicalCopy(const char* begin, const char* end, bool crlf, char out[xyz::kLinePiece + 2])
{
    size_t n = static_cast<size_t>(end - begin);
    std::memcpy(out, begin, n);
    if (crlf) {
        out[n - 2] = '\n';
        --n;
    }
    out[n] = '\0';
    return n;
}

bool HasLetterS(const char* begin, const char* end)
{
    for (const char* p = begin; p < end && *p; ++p)
        if (*p == 's' || *p == 'S')
            return true;
    return false;
}

struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// One piece of the file as the scanf loop takes it.
enum class LineOutcome { Value, Skip, End };
LineOutcome ParseOne(const char* b, const char* e, bool crlf, int code, char separator, bool fast, double values[7])
{
    // A NUL ends the string sscanf sees; the fast scanner stops or defers
    // to sscanf at one, so it needs no pass of its own.
    const char* end = e;
    int r = fast ? FastScan(b, end, code, separator, values) : kUnsure;
    if (r == kUnsure) {
        char line[kLinePiece + 2];
        LogicalCopy(b, e, crlf, line);
        r = SlowScan(line, code, separator, values);
    }
    if (r != ValuesPerLine(code))
        return HasLetterS(b, end) ? LineOutcome::Skip : LineOutcome::End;
    return LineOutcome::Value;
}

std::atomic<long long> g_twoReaderThreshold{32LL << 20};
std::atomic<int> g_lastReaders{0};

// Where the second half starts: just after the first line end past the
// middle; 0 when one reader it is (a small file, one core, arrays that
// would not hold both halves with room to spare, no line end near the
// middle).
long long TwoReaderSplit(int fd, long long size, size_t capacity, long long estimate)
{
    if (size < g_twoReaderThreshold.load() || std::thread::hardware_concurrency() < 2 || estimate <= 0 ||
        capacity < static_cast<size_t>(estimate) + static_cast<size_t>(estimate) / 16)
        return 0;
    char probe[65536];
    const long long middle = size / 2;
    const ssize_t n = ::pread(fd, probe, sizeof probe, middle);
    if (n <= 0)
        return 0;
    const void* nl = std::memchr(probe, '\n', static_cast<size_t>(n));
    if (!nl)
        return 0;
    return middle + (static_cast<const char*>(nl) - probe) + 1;
}

// The helper's half: from `start` to the end of the file, into the cloud's
// arrays from `upper` on; it counts only what it stored.
struct SecondHalf {
    const std::string& path;
    long long start;
    size_t upper;
    Cloud& cloud;
    int code;
    char separator;
    bool fast;
    std::atomic<size_t>& shared; // its count, for the progress
    std::atomic<bool> stop{false};
    size_t count = 0;
    bool overflow = false;
    bool failed = false;

    void Run()
    {
        Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
        PieceReader reader(file.fd);
        if (file.fd < 0 || ::lseek(file.fd, start, SEEK_SET) != start || !reader.Init()) {
            failed = true;
            return;
        }
        const size_t room = cloud.Capacity() - upper;
        double values[7];
        const char *b, *e;
        bool crlf;
        while (reader.Next(b, e, crlf)) {
            const LineOutcome outcome = ParseOne(b, e, crlf, code, separator, fast, values);
            if (outcome == LineOutcome::Skip)
                continue;
            if (outcome == LineOutcome::End)
                break;
            if (count == room) {
                overflow = true;
                break;
            }
            cloud.StoreAt(upper + count, values);
            ++count;
            if ((count & 4095) == 0) {
                shared.store(count, std::memory_order_relaxed);
                if (stop.load(std::memory_order_relaxed))
                    break;
            }
        }
        failed = failed || reader.Failed();
    }
};

} // namespace

void SetTwoReaderThreshold(long long bytes) { g_twoReaderThreshold = bytes; }
int ReadersOfLastRead() { return g_lastReaders; }

ReadResult ReadCloud(const std::string& path, Cloud& cloud, IProgressSink* sink, ReadInfo* infoOut)
{
    ReadInfo info;
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::CannotOpen;
    const long long size = st.st_size;
    if (sink)
        sink->SetFraction(0.0);

    // Classification from the first line, or the second after a header.
    // Only the first lines are needed here: a few pieces, not a whole block.
    PieceReader head(file.fd);
    head.Limit(4 * (kLinePiece + 2));
    if (!head.Init())
        return ReadResult::OutOfMemory;
    const char *b, *e;
    bool crlf;
    char line[kLinePiece + 2];
    if (!head.Next(b, e, crlf))
        return ReadResult::BadFirstLine;
    LogicalCopy(b, e, crlf, line);
    for (char* c = line; *c; ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    size_t length = std::strlen(line);
    info.estimate = length ? size / static_cast<long long>(length) : 0;
    if (std::strstr(line, "_3dpoly")) {
        info.header = true;
        if (!head.Next(b, e, crlf))
            return ReadResult::BadFirstLine;
        LogicalCopy(b, e, crlf, line);
        length = std::strlen(line);
        info.estimate = length ? size / static_cast<long long>(length) - 1 : 0;
    }
    const int code = DetectXyzLineFormat(line, &info.separator);
    if (code < 0)
        return ReadResult::BadFirstLine;
    info.format = ScanFormat(code, info.separator);
    if (!cloud.Start(code, static_cast<size_t>(std::max(0LL, info.estimate))))
        return ReadResult::OutOfMemory;

    // Back to the start: one pass over the whole file.
    if (::lseek(file.fd, 0, SEEK_SET) != 0)
        return ReadResult::CannotOpen;
    PieceReader reader(file.fd);
    if (!reader.Init())
        return ReadResult::OutOfMemory;
    if (info.header && !reader.Next(b, e, crlf))
        return ReadResult::BadFirstLine;

    const double perPoint = 100.0 / static_cast<double>(std::max(1LL, info.estimate));
    int lastPercent = 0;
    const char separator = info.separator;
    const bool fast = SafeSeparator(separator);
    std::atomic<size_t> secondCount{0};
    // Progress and Abort, from the reading thread only.
    auto report = [&]() {
        const size_t count = cloud.Count() + secondCount.load(std::memory_order_relaxed);
        const int percent = std::min(100, static_cast<int>(perPoint * static_cast<double>(count) + 0.5));
        if (percent == lastPercent || !sink)
            return true;
        lastPercent = percent;
        sink->SetFraction(percent / 100.0);
        sink->PumpMessages();
        return !sink->IsAborted();
    };

    // A large file is read by two threads: this one up to the first line
    // end after the middle, a helper from there, into the upper part of the
    // same arrays; the lines end up in file order. Whatever the halves do
    // not fit in goes back to one pass.
    PieceReader* active = &reader;
    std::unique_ptr<PieceReader> again;
    const long long split = TwoReaderSplit(file.fd, size, cloud.Capacity(), info.estimate);
    if (split > 0) {
        const size_t upper = cloud.Capacity() / 2;
        SecondHalf second{path, split, upper, cloud, code, separator, fast, secondCount};
        std::thread helper([&second] { second.Run(); });
        reader.Limit(split);
        double values[7];
        const char *pb, *pe;
        bool pcrlf;
        bool firstEnded = false, overflow = false, aborted = false;
        while (reader.Next(pb, pe, pcrlf)) {
            const LineOutcome outcome = ParseOne(pb, pe, pcrlf, code, separator, fast, values);
            if (outcome == LineOutcome::Skip)
                continue;
            if (outcome == LineOutcome::End) {
                firstEnded = true; // the data end here: nothing after counts
                break;
            }
            if (!report()) {
                aborted = true;
                break;
            }
            if (cloud.Count() == upper) {
                overflow = true;
                break;
            }
            cloud.Append(values);
        }
        // The helper's lines count only after a first half read to its end.
        if (aborted || firstEnded || overflow)
            second.stop = true;
        helper.join();
        if (aborted)
            return ReadResult::Aborted;
        if (reader.Failed() || second.failed)
            return ReadResult::CannotOpen;
        if (!overflow && !second.overflow) {
            if (!firstEnded)
                cloud.TakeFrom(upper, second.count);
            g_lastReaders = 2;
            if (infoOut)
                *infoOut = info;
            return ReadResult::Ok;
        }
        // Shorter lines than the first one promised: one pass after all.
        cloud.Restart();
        secondCount = 0;
        if (::lseek(file.fd, 0, SEEK_SET) != 0)
            return ReadResult::CannotOpen;
        again = std::make_unique<PieceReader>(file.fd);
        if (!again->Init() || (info.header && !again->Next(b, e, crlf)))
            return ReadResult::CannotOpen;
        active = again.get();
    }

    double values[7];
    while (active->Next(b, e, crlf)) {
        const LineOutcome outcome = ParseOne(b, e, crlf, code, separator, fast, values);
        if (outcome == LineOutcome::Skip)
            continue;
        if (outcome == LineOutcome::End)
            break; // the data end here
        if (!report())
            return ReadResult::Aborted;
        if (!cloud.Append(values))
            return ReadResult::OutOfMemory;
    }
    if (active->Failed())
        return ReadResult::CannotOpen;
    g_lastReaders = 1;
    if (infoOut)
        *infoOut = info;
    return ReadResult::Ok;
}

} // namespace xyz
