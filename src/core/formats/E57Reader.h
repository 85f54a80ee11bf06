#pragma once
// ASTM E57 files, the exchange format of terrestrial scanners: several
// scans in one file, each with its pose, read page by page (every page's
// checksum checked) and packet by packet into a cloud per scan.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace e57 {

// CRC-32C (Castagnoli), the checksum of every page; `crc` continues an
// earlier run (0 to start). By the processor's instruction where it has one.
uint32_t Crc32c(const void* data, size_t n, uint32_t crc = 0);

// Physical (as stored, with checksums) and logical (payload only) offsets.
inline uint64_t LogicalOffset(uint64_t physical) { return physical / 1024 * 1020 + physical % 1024; }
inline uint64_t PhysicalOffset(uint64_t logical) { return logical / 1020 * 1024 + logical % 1020; }

struct Scan {
    std::string name; // as the file names it, may be empty
    std::string guid;
    uint64_t records = 0;
    double rotation[4] = {1.0, 0.0, 0.0, 0.0}; // unit quaternion w, x, y, z
    double translation[3] = {0.0, 0.0, 0.0};
    bool cartesian = false, spherical = false;
    bool colour = false, intensity = false, rowColumn = false;
};

struct FileInfo {
    std::string guid;
    std::vector<Scan> scans;
    size_t images = 0;
};

// The header and the XML of the file at `path`. Empty when read, otherwise
// why not (a bad checksum names its page).
std::string Survey(const std::string& path, FileInfo& info);

} // namespace e57
