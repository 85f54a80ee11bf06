#include "core/exchange/AsciiDefinition.h"

#include "core/common/AppSettings.h"
#include "core/common/CheckedFile.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/exchange/ExportSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace exchange {

using detail::Replace;
using detail::NewTemp;

const char* const kAsciiSections[kAsciiVariables] = {"X", "Y", "Z", "R", "G", "B", "Intensity"};

namespace {

const char* const kDefinitionName = "ASCCIExportDefinition.ini";

// A stored index: its leading integer when that lies in [0, count), else
// the default.
int StoredIndex(const std::string& file, const char* section, const std::string& key, int fallback, int count)
{
    const std::string text = profile::GetString(file, section, key, std::to_string(fallback), 256);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && value >= 0 && value < count ? static_cast<int>(value) : fallback;
}

std::string ProgramFolder()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return qpath::Split(std::string(buffer, static_cast<size_t>(n))).folder;
}

} // namespace

AsciiDefinition ReadAsciiDefinition(const std::string& file)
{
    AsciiDefinition d;
    for (int v = 0; v < kAsciiVariables; ++v) {
        d.formula[v] = StoredIndex(file, kAsciiSections[v], "formula", 0, kAsciiOperators);
        d.value[v] = profile::GetString(file, kAsciiSections[v], "value", "1.0", 256);
    }
    d.separator = StoredIndex(file, "Separator", "val", 0, kAsciiSeparators);
    d.doubleFormat = StoredIndex(file, "DoubleFormat", "val", 3, kAsciiDoubleFormats);
    d.colorFormat = StoredIndex(file, "ColorFormat", "val", 0, kAsciiColorFormats);
    for (int c = 0; c < kAsciiColumns; ++c)
        d.composition[c] = StoredIndex(file, "Composition", std::to_string(c + 1), c + 1, kAsciiItems);
    return d;
}

bool WriteAsciiDefinition(const std::string& file, const AsciiDefinition& d, std::string* why)
{
    std::string text;
    auto section = [&](const char* name) { text += std::string("[") + name + "]\n"; };
    auto key = [&](const std::string& k, const std::string& v) { text += k + "=" + v + "\n"; };
    for (int v = 0; v < kAsciiVariables; ++v) {
        section(kAsciiSections[v]);
        key("formula", std::to_string(d.formula[v]));
        // One line per key: a line break in the text would start another.
        std::string value = d.value[v].substr(0, 255);
        for (char& ch : value)
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        key("value", value);
    }
    section("Separator"), key("val", std::to_string(d.separator));
    section("DoubleFormat"), key("val", std::to_string(d.doubleFormat));
    section("ColorFormat"), key("val", std::to_string(d.colorFormat));
    section("Composition");
    for (int c = 0; c < kAsciiColumns; ++c)
        key(std::to_string(c + 1), std::to_string(d.composition[c]));

    const std::string folder = qpath::Split(file).folder;
    if (!folder.empty() && ::access(folder.c_str(), F_OK) != 0) {
        std::string made = folder;
        for (size_t i = 1; i < made.size(); ++i)
            if (made[i] == '/') {
                made[i] = '\0';
                ::mkdir(made.c_str(), 0755);
                made[i] = '/';
            }
    }
    const std::string temp = NewTemp(file, why);
    if (temp.empty())
        return false;
    if (!WriteWholeFile(temp, text, why)) {
        std::remove(temp.c_str());
        return false;
    }
    return Replace(temp, file, why);
}

std::string AsciiDefinitionUserFile()
{
    return qpath::Split(appsettings::DefaultPath("quarlon")).folder + kDefinitionName;
}

std::string AsciiDefinitionFileToRead()
{
    const std::string user = AsciiDefinitionUserFile();
    if (::access(user.c_str(), R_OK) == 0)
        return user;
    const std::string beside = ProgramFolder() + kDefinitionName;
    if (!ProgramFolder().empty() && ::access(beside.c_str(), R_OK) == 0)
        return beside;
    return user;
}

void PruneColumns(const int composition[kAsciiColumns], bool pruned[kAsciiColumns])
{
    bool leaving = true, metEndln = false;
    for (int c = kAsciiColumns - 1; c >= 0; --c) {
        pruned[c] = false;
        const int item = composition[c];
        if (item < 0 || item >= kItemBlank) {
            pruned[c] = leaving;
        } else if (item == kItemEndln) {
            leaving = metEndln = true;
        } else {
            if (metEndln) {
                for (int rest = c - 1; rest >= 0; --rest)
                    pruned[rest] = false;
                return;
            }
            leaving = false;
        }
    }
}

} // namespace exchange
