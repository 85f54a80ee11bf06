#include "core/common/ProfileFile.h"

#include "core/common/CheckedFile.h"
#include "core/common/SafeFile.h"
#include "core/common/Paths.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace profile {

namespace {

// Anything this large is not a settings file; treat it as unreadable rather
// than pulling it into memory.
constexpr std::streamoff kMaxFileSize = 16 * 1024 * 1024;

std::string Trim(const std::string& s)
{
    const char* blanks = " \t\r\n\v\f";
    const size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos)
        return std::string();
    const size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b)
{
    return qpath::ToLower(Trim(a)) == qpath::ToLower(Trim(b));
}

// Splits the file into lines without their line ends; reports the line end
// the file uses so that rewriting keeps it.
// For reading only: the lines of a file over the size limit that may hold
// keys, comments and blank lines left out, so that a definition followed by
// megabytes of comments is still read, not taken for a missing one.
bool ReadKeyLines(std::ifstream& in, std::vector<std::string>& lines)
{
    std::string line;
    std::streamoff kept = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        kept += static_cast<std::streamoff>(line.size());
        if (kept > kMaxFileSize)
            return false;
        lines.push_back(line);
    }
    return !in.bad();
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines, std::string& eol, bool reading = false)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size > kMaxFileSize && reading) {
        in.seekg(0, std::ios::beg);
        return ReadKeyLines(in, lines);
    }
    if (size < 0 || size > kMaxFileSize)
        return false;
    in.seekg(0, std::ios::beg);
    std::string data(static_cast<size_t>(size), '\0');
    if (size > 0 && !in.read(&data[0], size))
        return false;
    eol = "\r\n";
    bool eolKnown = false;
    size_t start = 0;
    while (start < data.size()) {
        size_t nl = data.find('\n', start);
        const bool last = nl == std::string::npos;
        if (last)
            nl = data.size();
        size_t end = nl;
        const bool cr = end > start && data[end - 1] == '\r';
        if (cr)
            --end;
        if (!last && !eolKnown) {
            eol = cr ? "\r\n" : "\n";
            eolKnown = true;
        }
        lines.push_back(data.substr(start, end - start));
        start = nl + 1;
    }
    return true;
}

bool IsSectionLine(const std::string& line, std::string* name)
{
    const std::string t = Trim(line);
    if (t.empty() || t.front() != '[')
        return false;
    const size_t close = t.find(']');
    if (name)
        *name = t.substr(1, (close == std::string::npos ? t.size() : close) - 1);
    return true;
}

// Hand-edited files quote values that hold spaces; the platform reads them
// without one matching pair of quotes around the whole value.
std::string Unquote(const std::string& v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

bool KeyOf(const std::string& line, std::string& key, std::string* value)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = line.substr(0, eq);
    if (value)
        *value = Trim(line.substr(eq + 1));
    return true;
}

} // namespace

std::string GetString(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& fallback, size_t capacity)
{
    auto clip = [capacity](const std::string& s) {
        if (capacity == 0)
            return std::string();
        return s.size() < capacity ? s : s.substr(0, capacity - 1);
    };
    const std::string onDisk = qpath::ResolveOnDisk(file);
    std::vector<std::string> lines;
    std::string eol;
    if (onDisk.empty() || !qpath::IsExistingFile(onDisk) || !ReadLines(onDisk, lines, eol, true))
        return clip(fallback);
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string name;
        if (IsSectionLine(line, &name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection)
            continue;
        std::string k, v;
        if (KeyOf(line, k, &v) && SameName(k, key))
            return clip(Unquote(v));
    }
    return clip(fallback);
}

bool WriteString(const std::string& file, const std::string& section,
                 const std::string& key, const std::string& value)
{
    std::string target = qpath::ResolveOnDisk(file);
    std::vector<std::string> lines;
    std::string eol = "\r\n";
    if (target.empty()) {
        target = file; // a new file under the name asked for
    } else if (!qpath::IsExistingFile(target) || !ReadLines(target, lines, eol)) {
        return false; // never overwrite what we could not read
    }
    const std::string entry = key + "=" + value;

    // Locate the section and, inside it, the key or the last non-blank line.
    size_t sectionLine = lines.size();
    size_t insertAt = lines.size();
    bool replaced = false;
    for (size_t i = 0; i < lines.size() && !replaced; ++i) {
        std::string name;
        if (IsSectionLine(lines[i], &name)) {
            if (sectionLine != lines.size())
                break; // left our section
            if (SameName(name, section)) {
                sectionLine = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionLine == lines.size())
            continue;
        std::string k;
        if (KeyOf(lines[i], k, nullptr) && SameName(k, key)) {
            lines[i] = entry;
            replaced = true;
        } else if (!Trim(lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!replaced) {
        if (sectionLine == lines.size()) {
            if (!lines.empty() && !Trim(lines.back()).empty())
                lines.push_back(std::string());
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        }
    }
    std::ostringstream out;
    for (const std::string& line : lines)
        out << line << eol;
    // Two programs may write one settings file at once: each its own temporary.
    const std::string temp = safefile::CreateTemp(target, nullptr);
    if (temp.empty())
        return false;
    if (!WriteWholeFile(temp, out.str())) {
        std::remove(temp.c_str());
        return false;
    }
    return safefile::Publish(temp, target, true, nullptr);
}

} // namespace profile
