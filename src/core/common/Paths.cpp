#include "core/common/Paths.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <system_error>

namespace fs = std::filesystem;

namespace qpath {

std::string ToLower(const std::string& text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Parts Split(const std::string& path)
{
    Parts p;
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    p.folder = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) {
        p.base = name;
    } else {
        p.base = name.substr(0, dot);
        p.extension = name.substr(dot);
    }
    return p;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension)
{
    const Parts p = Split(path);
    return p.folder + p.base + extension;
}

std::string JoinRelative(const std::string& folder, const std::string& relative)
{
    std::string rel(relative);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (!rel.empty() && rel.front() == '/')
        return rel;
    if (folder.empty() || folder.back() == '/')
        return folder + rel;
    return folder + "/" + rel;
}

namespace {

bool Exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec)) && !ec;
}

// Finds the entry of `dir` whose name equals `name` ignoring case; the
// lexicographically first one when several do, so the choice is stable.
// Lower-cased name -> the lexicographically first entry of that name.
using Listing = std::unordered_map<std::string, std::string>;

thread_local std::unordered_map<std::string, Listing>* t_cache = nullptr;
thread_local size_t t_scans = 0;

bool Scan(const fs::path& dir, Listing& listing)
{
    ++t_scans;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    if (ec)
        return false;
    for (const fs::directory_entry& entry : it) {
        const std::string candidate = entry.path().filename().string();
        std::string& best = listing[ToLower(candidate)];
        if (best.empty() || candidate < best)
            best = candidate;
    }
    return true;
}

bool MatchInFolder(const fs::path& dir, const std::string& name, fs::path& found)
{
    Listing local;
    const Listing* listing = &local;
    if (t_cache) {
        auto it = t_cache->find(dir.string());
        if (it == t_cache->end()) {
            Listing scanned;
            Scan(dir, scanned);
            it = t_cache->emplace(dir.string(), std::move(scanned)).first;
        }
        listing = &it->second;
    } else if (!Scan(dir, local)) {
        return false;
    }
    const auto match = listing->find(ToLower(name));
    if (match == listing->end())
        return false;
    found = dir / match->second;
    return true;
}

} // namespace

std::string ResolveOnDisk(const std::string& path)
{
    if (path.empty())
        return std::string();
    if (Exists(path))
        return path;
    const fs::path input(path);
    fs::path resolved = input.root_path();
    for (const fs::path& component : input.relative_path()) {
        const std::string name = component.string();
        if (name.empty() || name == "." || name == "..") {
            resolved /= component;
            continue;
        }
        fs::path exact = resolved / component;
        if (Exists(exact)) {
            resolved = exact;
            continue;
        }
        fs::path matched;
        if (!MatchInFolder(resolved, name, matched))
            return std::string();
        resolved = matched;
    }
    return resolved.string();
}

ScopedListingCache::ScopedListingCache()
{
    if (!t_cache)
        t_cache = new std::unordered_map<std::string, Listing>();
    else
        m_nested = true;
}

ScopedListingCache::~ScopedListingCache()
{
    if (!m_nested) {
        delete t_cache;
        t_cache = nullptr;
    }
}

size_t FolderScans() { return t_scans; }

bool IsExistingFile(const std::string& path)
{
    const std::string onDisk = ResolveOnDisk(path);
    if (onDisk.empty())
        return false;
    std::error_code ec;
    return fs::is_regular_file(onDisk, ec);
}

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    if (ec)
        return path;
    return abs.lexically_normal().string();
}

} // namespace qpath
