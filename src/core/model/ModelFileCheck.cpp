#include "core/model/ModelFileCheck.h"

#include "core/common/MappedFile.h"
#include "core/common/Paths.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace modelcheck {

namespace {

const char* const kTooMuch = "the file declares more data than it holds";

// A declared count as a number; negative or unparsable counts as -1.
double Count(std::string_view text)
{
    if (text.empty() || text.size() > 30)
        return -1;
    double v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// ---------------------------------------------------------------- XML

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes up to `want` bytes of base64 text starting at `p`, skipping
// white space as VTK's reader does.
std::vector<unsigned char> DecodeBase64(const char* p, const char* end, size_t want)
{
    std::vector<unsigned char> out;
    unsigned int acc = 0;
    int bits = 0;
    for (; p < end && out.size() < want; ++p) {
        if (std::isspace(static_cast<unsigned char>(*p)))
            continue;
        const int v = Base64Value(*p);
        if (v < 0)
            break;
        acc = (acc << 6) | static_cast<unsigned int>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

struct XmlContext {
    bool bigEndian = false;
    int headerSize = 4;       // bytes of one block-header word
    double expansion = 1.0;   // most a compressor can expand its input
    bool compressed = false;
    double limit = 0;         // most values the file can stand for
};

uint64_t Word(const unsigned char* p, int size, bool bigEndian)
{
    uint64_t v = 0;
    for (int i = 0; i < size; ++i)
        v |= static_cast<uint64_t>(p[bigEndian ? size - 1 - i : i]) << (8 * i);
    return v;
}

// Checks one binary block header (raw bytes in `header`, `available` bytes
// of data behind its start).
std::string CheckBlockHeader(const XmlContext& ctx, const std::vector<unsigned char>& header, double available)
{
    const int hs = ctx.headerSize;
    if (header.size() < static_cast<size_t>(hs))
        return std::string(); // the reader reports short data itself
    const uint64_t first = Word(header.data(), hs, ctx.bigEndian);
    if (!ctx.compressed)
        return static_cast<double>(first) > available ? kTooMuch : std::string();
    // [blocks, block size, last block size, compressed sizes...]
    if (static_cast<double>(first) * hs + 3.0 * hs > available)
        return kTooMuch;
    if (header.size() < static_cast<size_t>(3 * hs))
        return std::string();
    const double blockSize = static_cast<double>(Word(header.data() + hs, hs, ctx.bigEndian));
    const double last = static_cast<double>(Word(header.data() + 2 * hs, hs, ctx.bigEndian));
    if (first == 0)
        return std::string();
    // Each block decompresses into a buffer of its own size.
    const double largest = first > 1 || last == 0 ? blockSize : last;
    const double total = (static_cast<double>(first) - 1.0) * blockSize + (last ? last : blockSize);
    const double most = available * ctx.expansion + 1024;
    if (largest > most || total > most)
        return kTooMuch;
    return std::string();
}

struct Attributes {
    std::vector<std::pair<std::string_view, std::string_view>> list;
    std::string_view Get(std::string_view name) const
    {
        for (const auto& a : list)
            if (a.first == name)
                return a.second;
        return std::string_view();
    }
};

struct AppendedArray {
    double offset;
};

bool IsNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' || c == '.';
}

} // namespace

std::string CheckXml(const char* data, size_t size, int* pieces)
{
    const char* p = data;
    const char* const end = data + size;
    XmlContext ctx;
    ctx.limit = static_cast<double>(size) * 1100.0 + 1024.0;
    int depth = 0;
    int pieceSources = 0;
    std::vector<AppendedArray> appended;
    const char* appendedStart = nullptr;
    bool appendedBase64 = false;

    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
        if (!p)
            break;
        const std::string_view rest(p, static_cast<size_t>(end - p));
        if (rest.compare(0, 4, "<!--") == 0) {
            const size_t close = rest.find("-->", 4);
            if (close == std::string_view::npos)
                break;
            p += close + 3;
            continue;
        }
        if (rest.size() > 1 && (rest[1] == '?' || rest[1] == '!')) {
            const size_t close = rest.find('>');
            if (close == std::string_view::npos)
                break;
            p += close + 1;
            continue;
        }
        if (rest.size() > 1 && rest[1] == '/') {
            --depth;
            const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(end - p)));
            if (!close)
                break;
            p = close + 1;
            continue;
        }
        // An opening tag: its name, then its attributes up to '>' or '/>'.
        const char* q = p + 1;
        while (q < end && IsNameChar(*q))
            ++q;
        const std::string_view name(p + 1, static_cast<size_t>(q - p - 1));
        Attributes attrs;
        bool selfClosing = false;
        bool closed = false;
        while (q < end) {
            while (q < end && std::isspace(static_cast<unsigned char>(*q)))
                ++q;
            if (q >= end)
                break;
            if (*q == '>') {
                closed = true;
                ++q;
                break;
            }
            if (*q == '/' && q + 1 < end && q[1] == '>') {
                selfClosing = closed = true;
                q += 2;
                break;
            }
            const char* an = q;
            while (q < end && IsNameChar(*q))
                ++q;
            const std::string_view attrName(an, static_cast<size_t>(q - an));
            while (q < end && std::isspace(static_cast<unsigned char>(*q)))
                ++q;
            if (q >= end || *q != '=' || attrName.empty()) {
                ++q; // malformed: the XML parser will say so
                continue;
            }
            ++q;
            while (q < end && std::isspace(static_cast<unsigned char>(*q)))
                ++q;
            if (q >= end || (*q != '"' && *q != '\''))
                continue;
            const char quote = *q++;
            const char* vs = q;
            q = static_cast<const char*>(std::memchr(q, quote, static_cast<size_t>(end - q)));
            if (!q)
                return std::string(); // unterminated: the XML parser will say so
            attrs.list.emplace_back(attrName, std::string_view(vs, static_cast<size_t>(q - vs)));
            ++q;
        }
        if (!closed)
            break;
        p = q;
        if (!selfClosing && ++depth > kMaxXmlDepth)
            return "the file's elements are nested too deeply";

        if (name == "VTKFile") {
            ctx.bigEndian = attrs.Get("byte_order") == "BigEndian";
            ctx.headerSize = attrs.Get("header_type") == "UInt64" ? 8 : 4;
            const std::string_view compressor = attrs.Get("compressor");
            ctx.compressed = !compressor.empty();
            // zlib expands at most about 1032 times, LZ4 255 times; LZMA's
            // bound is far higher, so be generous there.
            ctx.expansion = compressor == "vtkLZMADataCompressor" ? 100000.0 : 1100.0;
        } else if (name == "Piece") {
            if (!attrs.Get("Source").empty())
                ++pieceSources;
            for (const char* key : {"NumberOfPoints", "NumberOfVerts", "NumberOfLines", "NumberOfStrips", "NumberOfPolys"}) {
                const std::string_view v = attrs.Get(key);
                const double perItem = std::string_view(key) == "NumberOfPoints" ? 3.0 : 1.0;
                if (!v.empty() && Count(v) * perItem > ctx.limit)
                    return kTooMuch;
            }
        } else if (name == "DataArray" || name == "Array") {
            const double comps = std::max(1.0, Count(attrs.Get("NumberOfComponents")));
            const std::string_view tuples = attrs.Get("NumberOfTuples");
            if (!tuples.empty() && Count(tuples) * comps > ctx.limit)
                return kTooMuch;
            const std::string_view format = attrs.Get("format");
            if (format == "appended") {
                const double offset = Count(attrs.Get("offset"));
                if (offset >= 0)
                    appended.push_back({offset});
            } else if (format == "binary" && !selfClosing) {
                const char* textEnd = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
                if (!textEnd)
                    textEnd = end;
                const auto header = DecodeBase64(p, textEnd, static_cast<size_t>(3 * ctx.headerSize));
                const double available = static_cast<double>(textEnd - p) * 0.75;
                const std::string problem = CheckBlockHeader(ctx, header, available);
                if (!problem.empty())
                    return problem;
            }
        } else if (name == "AppendedData") {
            appendedBase64 = attrs.Get("encoding") == "base64";
            const char* underscore = static_cast<const char*>(std::memchr(p, '_', static_cast<size_t>(end - p)));
            if (underscore)
                appendedStart = underscore + 1;
            break; // what follows is data, not markup
        }
    }
    if (pieces)
        *pieces = pieceSources;
    if (pieceSources > kMaxPieces)
        return "the file lists more pieces than this program reads (" + std::to_string(kMaxPieces) + ")";

    if (appendedStart) {
        for (const AppendedArray& a : appended) {
            const double at = static_cast<double>(appendedStart - data) + a.offset;
            if (at >= static_cast<double>(size))
                return kTooMuch;
            const char* s = data + static_cast<size_t>(at);
            std::vector<unsigned char> header;
            double available = static_cast<double>(end - s);
            if (appendedBase64) {
                header = DecodeBase64(s, end, static_cast<size_t>(3 * ctx.headerSize));
                available *= 0.75;
            } else {
                header.assign(s, s + std::min<size_t>(static_cast<size_t>(end - s), static_cast<size_t>(3 * ctx.headerSize)));
            }
            const std::string problem = CheckBlockHeader(ctx, header, available);
            if (!problem.empty())
                return problem;
        }
    }
    return std::string();
}

// ------------------------------------------------------------- legacy

namespace {

class LegacyScanner {
public:
    LegacyScanner(const char* data, size_t size) : m_p(data), m_end(data + size), m_size(size) {}

    std::string Run()
    {
        const std::string_view first = Line();
        if (first.compare(0, 22, "# vtk DataFile Version") != 0)
            return std::string(); // the reader refuses it itself
        // Version 5 writes cells as offsets and connectivity arrays.
        const std::string_view version = first.substr(22);
        m_v5 = version.find_first_not_of(' ') != std::string_view::npos &&
               version[version.find_first_not_of(' ')] >= '5';
        Line(); // title
        const std::string_view mode = Token();
        m_binary = EqualsNoCase(mode, "BINARY");
        while (true) {
            const std::string_view key = Token();
            if (key.empty())
                return std::string();
            std::string problem;
            bool known = true;
            if (!Keyword(key, problem, known))
                return problem;
            if (!known)
                return std::string(); // beyond what we follow; the reader judges
        }
    }

private:
    // False with `problem` set when the file lies about its sizes; `known`
    // false when the keyword is not one this scanner can step over.
    bool Keyword(std::string_view key, std::string& problem, bool& known)
    {
        auto skip = [&](double values, std::string_view type) {
            if (!Skip(values, type)) {
                problem = kTooMuch;
                return false;
            }
            return true;
        };
        if (EqualsNoCase(key, "DATASET")) {
            Token();
        } else if (EqualsNoCase(key, "POINTS")) {
            const double n = Count(Token());
            return skip(n * 3, Token());
        } else if (EqualsNoCase(key, "VERTICES") || EqualsNoCase(key, "LINES") ||
                   EqualsNoCase(key, "POLYGONS") || EqualsNoCase(key, "TRIANGLE_STRIPS")) {
            const double a = Count(Token());
            const double b = Count(Token());
            if (m_v5) {
                // Offsets and connectivity follow as typed arrays.
                if (!EqualsNoCase(Token(), "OFFSETS"))
                    return known = false, true;
                if (!skip(a, Token()))
                    return false;
                if (!EqualsNoCase(Token(), "CONNECTIVITY"))
                    return known = false, true;
                return skip(b, Token());
            }
            return skip(b, "int");
        } else if (EqualsNoCase(key, "POINT_DATA") || EqualsNoCase(key, "CELL_DATA")) {
            m_tuples = Count(Token());
            if (m_tuples < 0 || m_tuples > Limit()) {
                problem = kTooMuch;
                return false;
            }
        } else if (EqualsNoCase(key, "SCALARS")) {
            Token();
            const std::string_view type = Token();
            // The component count is optional; LOOKUP_TABLE follows.
            double comps = 1;
            std::string_view next = Token();
            if (!EqualsNoCase(next, "LOOKUP_TABLE")) {
                comps = Count(next);
                next = Token();
            }
            if (EqualsNoCase(next, "LOOKUP_TABLE"))
                Token();
            else
                return known = false, true;
            return skip(m_tuples * comps, type);
        } else if (EqualsNoCase(key, "COLOR_SCALARS")) {
            Token();
            const double comps = Count(Token());
            return skip(m_tuples * comps, m_binary ? "unsigned_char" : "float");
        } else if (EqualsNoCase(key, "LOOKUP_TABLE")) {
            Token();
            const double n = Count(Token());
            return skip(n * 4, m_binary ? "unsigned_char" : "float");
        } else if (EqualsNoCase(key, "VECTORS") || EqualsNoCase(key, "NORMALS")) {
            Token();
            return skip(m_tuples * 3, Token());
        } else if (EqualsNoCase(key, "TEXTURE_COORDINATES")) {
            Token();
            const double dim = Count(Token());
            return skip(m_tuples * dim, Token());
        } else if (EqualsNoCase(key, "TENSORS") || EqualsNoCase(key, "TENSORS6")) {
            Token();
            return skip(m_tuples * (key.size() == 8 ? 6 : 9), Token());
        } else if (EqualsNoCase(key, "GLOBAL_IDS") || EqualsNoCase(key, "PEDIGREE_IDS") ||
                   EqualsNoCase(key, "EDGE_FLAGS")) {
            Token();
            return skip(m_tuples, Token());
        } else if (EqualsNoCase(key, "FIELD")) {
            Token();
            const double arrays = Count(Token());
            if (arrays < 0 || arrays > Limit()) {
                problem = kTooMuch;
                return false;
            }
            for (double i = 0; i < arrays; ++i) {
                const std::string_view name = Token();
                if (name.empty())
                    return true;
                if (name == "NULL_ARRAY")
                    continue;
                const double comps = Count(Token());
                const double tuples = Count(Token());
                if (!skip(comps * tuples, Token()))
                    return false;
                if (Peek("METADATA")) {
                    Token();
                    SkipMetadata();
                }
            }
        } else if (EqualsNoCase(key, "METADATA")) {
            SkipMetadata();
        } else {
            known = false;
        }
        return true;
    }

    double Limit() const { return static_cast<double>(m_size) + 1.0; }

    // Steps over `values` values of `type`; false when the file cannot hold
    // them. Types this scanner cannot size stop the scan as unknown.
    bool Skip(double values, std::string_view type)
    {
        if (values < 0)
            return false;
        const double remaining = static_cast<double>(m_end - m_p);
        if (!m_binary) {
            // Each value takes at least one character and a separator.
            if (values * 2 > remaining + 1)
                return false;
            for (double i = 0; i < values; ++i)
                if (Token().empty())
                    return false;
            return true;
        }
        const double bytes = values * TypeSize(type);
        if (bytes < 0) {
            m_p = m_end; // a type we cannot size ends the scan
            return true;
        }
        // The binary data starts after the keyword line's end.
        const char* nl = static_cast<const char*>(std::memchr(m_p, '\n', static_cast<size_t>(m_end - m_p)));
        const char* start = nl ? nl + 1 : m_end;
        if (bytes > static_cast<double>(m_end - start))
            return false;
        m_p = start + static_cast<size_t>(bytes);
        return true;
    }

    static double TypeSize(std::string_view t)
    {
        if (EqualsNoCase(t, "bit")) return 0.125;
        if (EqualsNoCase(t, "char") || EqualsNoCase(t, "unsigned_char") || EqualsNoCase(t, "signed_char")) return 1;
        if (EqualsNoCase(t, "short") || EqualsNoCase(t, "unsigned_short")) return 2;
        if (EqualsNoCase(t, "int") || EqualsNoCase(t, "unsigned_int") || EqualsNoCase(t, "float") ||
            EqualsNoCase(t, "vtktypeint32") || EqualsNoCase(t, "vtktypeuint32"))
            return 4;
        if (EqualsNoCase(t, "long") || EqualsNoCase(t, "unsigned_long") || EqualsNoCase(t, "double") ||
            EqualsNoCase(t, "vtkIdType") || EqualsNoCase(t, "vtktypeint64") || EqualsNoCase(t, "vtktypeuint64"))
            return 8;
        return -1;
    }

    // Metadata runs to the next blank line.
    void SkipMetadata()
    {
        Line();
        while (m_p < m_end) {
            const std::string_view line = Line();
            if (std::all_of(line.begin(), line.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
                break;
        }
    }

    bool Peek(std::string_view word)
    {
        const char* save = m_p;
        const bool match = EqualsNoCase(Token(), word);
        m_p = save;
        return match;
    }

    std::string_view Token()
    {
        while (m_p < m_end && std::isspace(static_cast<unsigned char>(*m_p)))
            ++m_p;
        const char* s = m_p;
        while (m_p < m_end && !std::isspace(static_cast<unsigned char>(*m_p)))
            ++m_p;
        return std::string_view(s, static_cast<size_t>(m_p - s));
    }

    std::string_view Line()
    {
        const char* s = m_p;
        while (m_p < m_end && *m_p != '\n')
            ++m_p;
        const std::string_view line(s, static_cast<size_t>(m_p - s));
        if (m_p < m_end)
            ++m_p;
        return line;
    }

    const char* m_p;
    const char* m_end;
    size_t m_size;
    bool m_binary = false;
    bool m_v5 = false;
    double m_tuples = 0;
};

std::string CheckPieces(const std::string& path, const char* data, size_t size)
{
    // Each piece is a file of its own beside the parallel file.
    const std::string folder = qpath::Split(path).folder;
    const std::string_view text(data, size);
    size_t at = 0;
    while ((at = text.find("Source=", at)) != std::string_view::npos) {
        at += 7;
        if (at >= text.size() || (text[at] != '"' && text[at] != '\''))
            continue;
        const char quote = text[at++];
        const size_t close = text.find(quote, at);
        if (close == std::string_view::npos)
            break;
        const std::string source(text.substr(at, close - at));
        at = close + 1;
        const std::string piece = qpath::ResolveOnDisk(qpath::JoinRelative(folder, source));
        if (piece.empty() || !qpath::IsExistingFile(piece))
            return "piece " + source + " is missing";
        MappedFile file(piece);
        if (!file.Ok())
            return "piece " + source + " cannot be read";
        std::string problem = CheckXml(file.Data(), file.Size());
        if (!problem.empty())
            return "piece " + source + ": " + problem;
    }
    return std::string();
}

} // namespace

std::string CheckLegacy(const char* data, size_t size)
{
    return LegacyScanner(data, size).Run();
}

std::string CheckModelFile(const std::string& path, const std::string& lowerExtension)
{
    MappedFile file(path);
    if (!file.Ok())
        return "not a readable file";
    if (lowerExtension == ".vtk")
        return CheckLegacy(file.Data(), file.Size());
    int pieces = 0;
    std::string problem = CheckXml(file.Data(), file.Size(), &pieces);
    if (problem.empty() && lowerExtension == ".pvtp" && pieces > 0)
        problem = CheckPieces(path, file.Data(), file.Size());
    return problem;
}

} // namespace modelcheck
