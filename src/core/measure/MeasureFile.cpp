#include "core/measure/MeasureFile.h"

#include "core/common/CheckedFile.h"
#include "core/common/NumberChecks.h"
#include "core/common/Paths.h"
#include "core/common/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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

} // namespace

std::string MeasureFilePath(const std::string& documentPath)
{
    const qpath::Parts parts = qpath::Split(documentPath);
    return parts.folder + parts.base + ".msr";
}

bool ReadMeasureFile(const std::string& path, MeasureMap& measures, std::string* why,
                     std::vector<MeasureDamage>* damaged)
{
    const std::string onDisk = qpath::ResolveOnDisk(path);
    if (onDisk.empty() || !qpath::IsExistingFile(onDisk))
        return true; // no measures stored yet
    std::string data;
    {
        std::ifstream in(onDisk, std::ios::binary);
        if (!in) {
            if (why)
                *why = std::string("cannot read ") + onDisk + ": " + std::strerror(errno);
            return false;
        }
        std::ostringstream all;
        all << in.rdbuf();
        if (in.bad()) {
            if (why)
                *why = std::string("cannot read ") + onDisk;
            return false;
        }
        data = all.str();
    }
    // Lines with whether they were ended: the writer ends every line, so a
    // last line without its end was cut off ("12" of "123.456").
    size_t at = 0;
    auto next = [&](std::string& line, bool& ended) {
        if (at >= data.size())
            return false;
        const size_t nl = data.find('\n', at);
        ended = nl != std::string::npos;
        const size_t stop = ended ? nl : data.size();
        line.assign(data, at, stop - at);
        at = ended ? nl + 1 : data.size();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    };
    auto damage = [&](const std::string& name, const std::string& reason) {
        if (damaged)
            damaged->push_back({name, reason});
    };
    std::string line;
    bool ended = false;
    if (!next(line, ended))
        return true;
    const long long count = LeadingInteger(line);
    long long m = 0;
    bool cut = false; // a measure cut short ends the file; said for that measure
    for (; m < count; ++m) {
        std::string name, countLine;
        if (!next(name, ended))
            break;
        int lines = 0;
        if (!ended || !next(countLine, ended) || !IsIntegerString(countLine, &lines) || lines < 0) {
            damage(name, "its count of points is missing or damaged");
            cut = true;
            break;
        }
        std::string text;
        int whole = 0;
        for (; whole < lines && next(line, ended) && ended; ++whole)
            text += line + "\n";
        if (whole < lines)
            damage(name, "cut short: " + std::to_string(whole) + " of " + std::to_string(lines) + " points are whole");
        measures[name] = text;
        if (whole < lines) {
            cut = true;
            break;
        }
    }
    if (cut)
        return true;
    if (m < count)
        damage("", "the file promises " + std::to_string(count) + " measures but holds " + std::to_string(m));
    else if (data.find_first_not_of(" \t\r\n", at) != std::string::npos)
        damage("", std::to_string(data.size() - at) + " bytes after the last measure are no measure");
    return true;
}

bool IsStorableName(const std::string& name) { return name.find_first_of("\r\n") == std::string::npos; }

bool WriteMeasureFile(const std::string& path, const MeasureMap& measures, std::string* why)
{
    for (const auto& entry : measures)
        if (!IsStorableName(entry.first)) {
            if (why)
                *why = "the measure name \"" + safefile::Printable(entry.first) + "\" holds a line break";
            return false;
        }
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
    std::string reason;
    const std::string temp = safefile::CreateTemp(target, &reason);
    if (temp.empty() || !WriteWholeFile(temp, data, &reason)) {
        if (!temp.empty())
            std::remove(temp.c_str());
        if (why)
            *why = "cannot write " + target + ": " + reason;
        return false;
    }
    if (!safefile::Publish(temp, target, true, why))
        return false;
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
                *why = "point line " + std::to_string(lineNumber) + " is damaged: \"" + safefile::Printable(line) + "\"";
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
