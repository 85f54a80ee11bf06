#include "core/model/ProjectFile.h"

#include "core/common/Paths.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

bool IsProjectFilePath(const std::string& path)
{
    return qpath::ToLower(qpath::Split(path).extension) == ".mvtp";
}

namespace {

// fscanf("%d") followed by skipping white space, without its overflow
// undefined behaviour: the count saturates at INT_MAX.
bool ReadCount(std::FILE* file, long long& count)
{
    int c;
    do {
        c = std::fgetc(file);
    } while (c != EOF && std::isspace(c));
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::fgetc(file);
    }
    if (c == EOF || !std::isdigit(c))
        return false;
    long long value = 0;
    while (c != EOF && std::isdigit(c)) {
        if (value < INT_MAX)
            value = value * 10 + (c - '0');
        c = std::fgetc(file);
    }
    if (value > INT_MAX)
        value = INT_MAX;
    while (c != EOF && std::isspace(c))
        c = std::fgetc(file);
    if (c != EOF)
        std::ungetc(c, file);
    count = negative ? -value : value;
    return true;
}

} // namespace

bool ReadProjectEntries(const std::string& path, std::vector<std::string>& entries, bool* hasCount)
{
    entries.clear();
    if (hasCount)
        *hasCount = false;
    const std::string onDisk = qpath::ResolveOnDisk(path);
    if (onDisk.empty() || !qpath::IsExistingFile(onDisk))
        return false;
    std::FILE* file = std::fopen(onDisk.c_str(), "rb");
    if (!file)
        return false;
    long long count = 0;
    if (ReadCount(file, count)) {
        if (hasCount)
            *hasCount = true;
        char line[4096];
        for (long long i = 0; i < count; ++i) {
            if (!std::fgets(line, sizeof line, file))
                break; // fewer lines than announced
            size_t n = std::strlen(line);
            while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
                line[--n] = '\0';
            if (n == 0)
                continue;
            entries.emplace_back(line, n);
        }
    }
    std::fclose(file);
    return true;
}
