#pragma once
// Private-profile (INI) files as the companion files and settings files use
// them: "[section]" lines, then "key=value" lines. Section and key names are
// compared without regard to case, values are trimmed, the first match wins,
// and one pair of matching single or double quotes around a value is dropped.
// Files written with CR LF or LF read alike.
#include <cstddef>
#include <string>

namespace profile {

// The value of `key` in `section`, at most `capacity - 1` characters (the
// caller's buffer size, as the format's callers state it); `fallback` when
// the file, the section or the key is missing or the file cannot be read.
std::string GetString(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& fallback,
                      size_t capacity);

// Sets `key` in `section`, replacing the existing line in place and keeping
// every other line and the file's line ends; creates the section or the file
// when needed. The file is replaced atomically, so a failed write leaves the
// old contents. Returns false when the file could not be written.
bool WriteString(const std::string& file, const std::string& section,
                 const std::string& key, const std::string& value);

} // namespace profile
