#include "core/measure/MeasureFile.h"

#include "core/common/CheckedFile.h"
#include "core/common/NumberChecks.h"
#include "core/common/Paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace measure {

namespace {

// atoi's reading of a count, without its overflow: leading blanks, a sign,
// digits; anything else ends the number; saturates at INT_MAX.
long long LeadingInteger(const std::string& line)
{
    size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        negative = line[i++] == '-';
    long long value = 0;
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        value = std::min<long long>(INT_MAX, value * 10 + (line[i] - '0'));
    return negative ? -value : value;
}

// The next line without its line end (LF or CR LF); false at the end.
bool NextLine(std::istream& in, std::string& line)
{
    if (!std::getline(in, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

} // namespace

std::string MeasureFilePath(const std::string& documentPath)
{
    const qpath::Parts parts = qpath::Split(documentPath);
    return parts.folder + parts.base + ".msr";
}

bool ReadMeasureFile(const std::string& path, MeasureMap& measures, std::string* why)
{
    const std::string onDisk = qpath::ResolveOnDisk(path);
    if (onDisk.empty() || !qpath::IsExistingFile(onDisk))
        return true; // no measures stored yet
    std::ifstream in(onDisk, std::ios::binary);
    if (!in) {
        if (why)
            *why = std::string("cannot read ") + onDisk + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    if (!NextLine(in, line))
        return true;
    const long long count = LeadingInteger(line);
    for (long long m = 0; m < count; ++m) {
        std::string name;
        if (!NextLine(in, name))
            break;
        std::string countLine;
        if (!NextLine(in, countLine))
            break;
        const long long lines = LeadingInteger(countLine);
        std::string text;
        for (long long i = 0; i < lines && NextLine(in, line); ++i)
            text += line + "\n";
        measures[name] = text;
    }
    return true;
}

bool WriteMeasureFile(const std::string& path, const MeasureMap& measures, std::string* why)
{
    std::string data = std::to_string(measures.size()) + "\r\n";
    for (const auto& [name, text] : measures) {
        data += name + "\r\n" + std::to_string(PointCount(text)) + "\r\n";
        for (size_t start = 0; start < text.size();) {
            const size_t nl = text.find('\n', start);
            const size_t end = nl == std::string::npos ? text.size() : nl;
            data.append(text, start, end - start);
            data += "\r\n";
            start = end + 1;
        }
    }
    // Into a new file first: the old one holds every stored measure.
    const std::string target = qpath::ResolveOnDisk(path).empty() ? path : qpath::ResolveOnDisk(path);
    const std::string temp = target + ".tmp~";
    std::string reason;
    if (!WriteWholeFile(temp, data, &reason)) {
        std::remove(temp.c_str());
        if (why)
            *why = "cannot write " + target + ": " + reason;
        return false;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        reason = std::strerror(errno);
        std::remove(temp.c_str());
        if (why)
            *why = "cannot replace " + target + ": " + reason;
        return false;
    }
    return true;
}

std::string PointLine(const std::string& id, const std::string& x, const std::string& y, const std::string& z)
{
    return id + ";" + x + ";" + y + ";" + z;
}

int PointCount(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool ParseMeasure(const std::string& text, std::vector<MeasurePointsData>& points, std::string* why)
{
    points.clear();
    size_t start = 0;
    int lineNumber = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            break; // only whole lines count, as the line feeds say
        std::string line = text.substr(start, nl - start);
        start = nl + 1;
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        std::vector<std::string> fields;
        size_t from = 0;
        for (int f = 0; f < 3; ++f) {
            const size_t semi = line.find(';', from);
            if (semi == std::string::npos)
                break;
            fields.push_back(line.substr(from, semi - from));
            from = semi + 1;
        }
        fields.push_back(line.substr(from)); // z runs to the end of the line
        MeasurePointsData p;
        if (fields.size() != 4 || !IsIntegerString(fields[0], &p.nId) || !IsDoubleString(fields[1], &p.x) ||
            !IsDoubleString(fields[2], &p.y) || !IsDoubleString(fields[3], &p.z)) {
            if (why)
                *why = "point line " + std::to_string(lineNumber) + " is damaged: \"" + line + "\"";
            points.clear();
            return false;
        }
        points.push_back(p);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const MeasurePointsData& a, const MeasurePointsData& b) { return a.nId < b.nId; });
    return true;
}

} // namespace measure
