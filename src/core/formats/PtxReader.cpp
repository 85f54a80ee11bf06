// PTX, the text export of several scanner makers: per scan a header
// (columns, rows, the scanner's position and axes, a 4 x 4 transform whose
// last row is the translation) and then one "x y z [intensity [r g b]]"
// line per grid cell, "0 0 0" where the scanner had no return.
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/common/LargeBuffer.h"
#include "core/common/MappedFile.h"
#include "core/common/ProgressSink.h"

#include <vtkPolyData.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace foreign {

namespace {

struct Cursor {
    const char* p;
    const char* end;
    unsigned long long line = 0; // of the line last taken, from 1

    bool AtEnd() const { return p >= end; }
    // The next line without its end; false at the end of the file.
    bool Take(const char*& begin, const char*& stop)
    {
        if (p >= end)
            return false;
        begin = p;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        stop = nl ? nl : end;
        p = nl ? nl + 1 : end;
        if (stop > begin && stop[-1] == '\r')
            --stop;
        ++line;
        return true;
    }
    // Skips `n` lines; the number skipped (fewer at the end of the file).
    unsigned long long Skip(unsigned long long n)
    {
        unsigned long long done = 0;
        while (done < n && p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            p = nl ? nl + 1 : end;
            ++done;
        }
        line += done;
        return done;
    }
};

// Up to `max` numbers of a line; how many there were (-1: not numbers).
int Numbers(const char* p, const char* end, double* out, int max)
{
    int n = 0;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == ','))
            ++p;
        if (p >= end)
            return n;
        if (n == max)
            return -1;
        if (*p == '+')
            ++p;
        const auto r = std::from_chars(p, end, out[n]);
        if (r.ec != std::errc() || !std::isfinite(out[n]))
            return -1;
        p = r.ptr;
        ++n;
    }
}

struct Header {
    unsigned long long columns = 0, rows = 0;
    double matrix[16] = {};
};

std::string ReadHeader(Cursor& c, Header& h)
{
    const char* b;
    const char* e;
    double v[4];
    for (int i = 0; i < 2; ++i) {
        if (!c.Take(b, e) || Numbers(b, e, v, 1) != 1 || v[0] < 0 || v[0] != std::floor(v[0]) || v[0] > 2147483647.0)
            return "line " + std::to_string(c.line) + " should hold the scan's " + (i == 0 ? "columns" : "rows");
        (i == 0 ? h.columns : h.rows) = static_cast<unsigned long long>(v[0]);
    }
    for (int i = 0; i < 4; ++i)
        if (!c.Take(b, e) || Numbers(b, e, v, 3) != 3)
            return "line " + std::to_string(c.line) + " should hold the scanner's " +
                   (i == 0 ? "position" : "axis") + " (three numbers)";
    for (int i = 0; i < 4; ++i) {
        if (!c.Take(b, e) || Numbers(b, e, v, 4) != 4)
            return "line " + std::to_string(c.line) + " should hold a row of the scan's transform (four numbers)";
        std::copy(v, v + 4, h.matrix + 4 * i);
    }
    return std::string();
}

void SkipBlank(Cursor& c)
{
    while (!c.AtEnd()) {
        const char* q = c.p;
        while (q < c.end && (*q == ' ' || *q == '\t' || *q == '\r'))
            ++q;
        if (q < c.end && *q != '\n')
            return;
        c.p = q < c.end ? q + 1 : q;
        ++c.line;
    }
}

// Walks the scans: each one's header at its position in the file.
std::string Walk(const MappedFile& file, std::vector<std::pair<Cursor, Header>>& scans)
{
    Cursor c{file.Data(), file.Data() + file.Size()};
    for (;;) {
        SkipBlank(c);
        if (c.AtEnd())
            break;
        Header h;
        const std::string problem = ReadHeader(c, h);
        if (!problem.empty())
            return "scan " + std::to_string(scans.size() + 1) + ": " + problem;
        scans.emplace_back(c, h);
        c.Skip(h.columns * h.rows);
    }
    return std::string();
}

} // namespace

Result ListPtxScans(const std::string& path, std::vector<ScanEntry>& scans, std::string* why)
{
    MappedFile file;
    std::string problem;
    if (!file.Open(path, &problem))
        return Failed(why, problem);
    std::vector<std::pair<Cursor, Header>> walked;
    problem = Walk(file, walked);
    if (!problem.empty())
        return Failed(why, problem);
    for (size_t i = 0; i < walked.size(); ++i) {
        ScanEntry entry;
        entry.name = "Scan " + std::to_string(i + 1);
        entry.points = walked[i].second.columns * walked[i].second.rows;
        scans.push_back(entry);
    }
    return Result::Ok;
}

Result ReadPtxScan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    MappedFile file;
    std::string problem;
    if (!file.Open(path, &problem))
        return fail(problem);
    std::vector<std::pair<Cursor, Header>> walked;
    problem = Walk(file, walked);
    if (!problem.empty())
        return fail(problem);
    if (index >= walked.size())
        return fail(walked.empty() ? "the file holds no scans" : "the file has no scan " + std::to_string(index + 1));
    Cursor c = walked[index].first;
    const Header& h = walked[index].second;
    const unsigned long long declared = h.columns * h.rows;
    // A point line has at least "0 0 0" and its end: no more points than that.
    const unsigned long long fits = static_cast<unsigned long long>(c.end - c.p) / 6 + 1;
    const size_t n = static_cast<size_t>(std::min(declared, fits));
    if (n == 0)
        return fail("the scan holds no points");

    clouddata::Arrays a;
    a.points = static_cast<double*>(largebuf::Allocate(3 * n * sizeof(double)));
    a.intensity = static_cast<float*>(largebuf::Allocate(n * sizeof(float)));
    a.rgb = static_cast<unsigned char*>(largebuf::Allocate(3 * n));
    if (!a.points || !a.intensity || !a.rgb) {
        std::free(a.points);
        std::free(a.intensity);
        std::free(a.rgb);
        return fail("not enough memory for " + std::to_string(n) + " points");
    }
    const double* m = h.matrix;
    size_t kept = 0;
    int columns = -1; // of the first point line: 3, 4 or 7
    unsigned long long read = 0;
    const char* b;
    const char* e;
    std::string bad;
    while (read < n && c.Take(b, e)) {
        ++read;
        double v[7];
        const int count = Numbers(b, e, v, 7);
        if (count < 3 || count == 5 || count == 6 || (columns >= 0 && count != columns)) {
            bad = "line " + std::to_string(c.line) + " is not a point of the scan (\"x y z [intensity [r g b]]\")";
            break;
        }
        columns = count;
        if ((read & 0xFFFF) == 0 && ProgressCheckpoint(sink, static_cast<double>(read), static_cast<double>(n))) {
            std::free(a.points);
            std::free(a.intensity);
            std::free(a.rgb);
            return Result::Aborted;
        }
        if (v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0)
            continue; // no return
        double* p = a.points + 3 * kept;
        for (int j = 0; j < 3; ++j)
            p[j] = v[0] * m[j] + v[1] * m[4 + j] + v[2] * m[8 + j] + m[12 + j];
        a.intensity[kept] = count >= 4 ? static_cast<float>(v[3]) : 0.0f;
        for (int j = 0; j < 3; ++j)
            a.rgb[3 * kept + j] = count == 7 ? static_cast<unsigned char>(std::min(std::max(v[4 + j], 0.0), 255.0)) : 0;
        ++kept;
    }
    if (!bad.empty() || kept == 0) {
        std::free(a.points);
        std::free(a.intensity);
        std::free(a.rgb);
        return fail(!bad.empty() ? bad : "the scan has no point with a return");
    }
    if (read < declared)
        out.warning = "the file ends after " + std::to_string(read) + " of the scan's " + std::to_string(declared) +
                      " points; those read are kept";
    if (columns < 7) {
        std::free(a.rgb);
        a.rgb = nullptr;
    }
    if (columns < 4) {
        std::free(a.intensity);
        a.intensity = nullptr;
    }
    double centre[3];
    const bool finite = clouddata::BoundsCentre(a.points, kept, centre, true);
    vtkSmartPointer<vtkPolyData> data = clouddata::Adopt(kept, a);
    if (!data)
        return fail("not enough memory for " + std::to_string(kept) + " points");
    if (!finite)
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(static_cast<double*>(data->GetPoints()->GetVoidPointer(0)), kept, centre);
    if (!clouddata::AddVertexCells(data))
        return fail("not enough memory for the vertex cells");
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
