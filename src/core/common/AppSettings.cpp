#include "core/common/AppSettings.h"

#include "core/common/NumberChecks.h"
#include "core/common/ProfileFile.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace appsettings {

namespace {
std::string& CurrentPath()
{
    static std::string path;
    return path;
}
} // namespace

std::string DefaultPath(const std::string& programBase)
{
    std::string root;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        root = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        root = std::string(home) + "/.config";
    else
        root = "/tmp";
    return root + "/" + programBase + "/" + programBase + ".ini";
}

bool SetPath(const std::string& path)
{
    CurrentPath() = path;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec))
        return true;
    return std::filesystem::create_directories(folder, ec) && !ec;
}

const std::string& Path() { return CurrentPath(); }

std::string ReadSetting(const std::string& section, const std::string& key, const std::string& fallback,
                        size_t capacity)
{
    if (CurrentPath().empty())
        return fallback;
    return profile::GetString(CurrentPath(), section, key, fallback, capacity);
}

namespace {
bool g_readOnly = false;
}

void SetReadOnly(bool readOnly) { g_readOnly = readOnly; }

bool WriteSetting(const std::string& section, const std::string& key, const std::string& value)
{
    if (g_readOnly)
        return true;
    if (CurrentPath().empty())
        return false;
    return profile::WriteString(CurrentPath(), section, key, value);
}

int ReadIntSetting(const std::string& section, const std::string& key, const std::string& fallback)
{
    int value = 0;
    return IsIntegerString(ReadSetting(section, key, fallback), &value) ? value : 0;
}

} // namespace appsettings
