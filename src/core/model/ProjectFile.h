#pragma once
// Project files (".mvtp"), read only: a count line, then one model file name
// per line relative to the project file's folder.
#include <string>
#include <vector>

// True for a path whose extension says it is a project file.
bool IsProjectFilePath(const std::string& path);

// Reads the entries of a project file in order, as written (empty lines
// dropped, line ends removed, lines longer than 4095 characters split into
// several entries). False when the file cannot be opened. `hasCount`, when
// given, tells whether the first line held a count at all.
bool ReadProjectEntries(const std::string& path, std::vector<std::string>& entries, bool* hasCount = nullptr);
