#pragma once
// Checks a model file's own declarations before any VTK reader sees it.
//
// VTK's readers allocate what a file declares (point counts, block headers,
// field arrays) before they find out the data is not there, and its XML
// reader recurses once per nested element. A hostile file of a few hundred
// bytes could so take gigabytes or the stack. These checks read only the
// structure (tags, keyword lines, block headers) and compare every declared
// size with the bytes the file holds.
#include <string>

namespace modelcheck {

// Deeper nesting than any model file needs; real ones stay under ten.
constexpr int kMaxXmlDepth = 256;
// Pieces a parallel poly data file may list.
constexpr int kMaxPieces = 4096;

// An empty string when the file may be handed to the reader for its
// extension (".vtk", ".vtp" or ".pvtp", lower case); otherwise why not.
std::string CheckModelFile(const std::string& path, const std::string& lowerExtension);

// The single checks, on the file's bytes (exposed for the fuzz targets).
std::string CheckXml(const char* data, size_t size, int* pieces = nullptr);
std::string CheckLegacy(const char* data, size_t size);

} // namespace modelcheck
