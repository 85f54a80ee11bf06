#pragma once
// A small E57 writer for the benchmark and the tests: scans with poses,
// cartesian (double or scaled-integer) or spherical coordinates, invalid
// states, intensity, colour and grid indices. Its files are checked with an
// independent reader (see bench/README.md); the program never writes E57.
#include <cstdint>
#include <string>
#include <vector>

namespace e57write {

struct ScanData {
    std::string name, guid;
    double rotation[4] = {1.0, 0.0, 0.0, 0.0}; // w x y z, written as given
    double translation[3] = {0.0, 0.0, 0.0};
    // Cartesian x y z per point, or spherical range azimuth elevation.
    std::vector<double> coordinates;
    bool spherical = false;
    // 0: coordinates as Float double; otherwise ScaledInteger of this scale.
    double scale = 0.0;
    std::vector<uint8_t> invalidState;  // per point, 0..2; empty: no field
    std::vector<uint16_t> intensity;    // 0..2047; empty: no field
    std::vector<uint8_t> rgb;           // 3 per point; empty: no field
    std::vector<int32_t> row, column;   // empty: no fields
    uint64_t declaredRecords = 0;       // a count to declare instead of the real one
};

// Writes `scans` to `path`; empty when written, otherwise why not.
// `gapPages` pages left as a hole after the header put every section and
// the XML that far on (files over 4 GB without writing 4 GB).
std::string Write(const std::string& path, const std::vector<ScanData>& scans, uint64_t gapPages = 0);

} // namespace e57write
