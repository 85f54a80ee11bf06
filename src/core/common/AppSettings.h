#pragma once
// The per-user application settings file: view and frame settings live in
// "$XDG_CONFIG_HOME/<program>/<program>.ini" (default ~/.config).
#include <cstddef>
#include <string>

namespace appsettings {

// "$XDG_CONFIG_HOME/<base>/<base>.ini", or "$HOME/.config/..." without it.
std::string DefaultPath(const std::string& programBase);

// Sets the file used by ReadSetting/WriteSetting and creates its folder when
// no folder of that name exists. Returns false when the folder cannot be made.
bool SetPath(const std::string& path);
const std::string& Path();

std::string ReadSetting(const std::string& section, const std::string& key, const std::string& fallback,
                        size_t capacity = 256);
bool WriteSetting(const std::string& section, const std::string& key, const std::string& value);

// Batch runs read the settings but write nothing: WriteSetting then does
// nothing and reports success.
void SetReadOnly(bool readOnly);

// An integer setting: the stored text when it passes IsIntegerString, else 0.
int ReadIntSetting(const std::string& section, const std::string& key, const std::string& fallback);

} // namespace appsettings
