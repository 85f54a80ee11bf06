#pragma once
// Path handling for a program whose file identities are lower-cased paths
// (the format comes from a case-insensitive platform) running on a
// case-sensitive file system: identities stay lower-cased, files are opened
// under the names actually found on disk.
#include <string>

namespace qpath {

std::string ToLower(const std::string& text);

struct Parts {
    std::string folder;    // with trailing separator, or empty
    std::string base;      // file name without extension
    std::string extension; // with the dot, or empty
};
Parts Split(const std::string& path);

// Same folder and base name, another extension (given with its dot).
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// Joins a folder with a name stored in a companion or project file; such
// names may use backslashes as separators.
std::string JoinRelative(const std::string& folder, const std::string& relative);

// The path as it exists on disk: the exact name when present, otherwise each
// component matched without regard to case. Empty when nothing matches.
std::string ResolveOnDisk(const std::string& path);

// True for an existing regular file (after case resolution).
bool IsExistingFile(const std::string& path);

// While one lives, folder listings made to match names without regard to
// case are kept, so that a project naming many missing files in a large
// folder scans that folder once. Only for runs that create no files.
class ScopedListingCache {
public:
    ScopedListingCache();
    ~ScopedListingCache();
    ScopedListingCache(const ScopedListingCache&) = delete;
    ScopedListingCache& operator=(const ScopedListingCache&) = delete;

private:
    bool m_nested = false;
};
// Folder scans made so far by this thread (for tests).
size_t FolderScans();

// Turns a relative path into an absolute one without touching the disk.
std::string Absolute(const std::string& path);

} // namespace qpath
