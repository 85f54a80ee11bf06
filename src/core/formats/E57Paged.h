#pragma once
// What the E57 survey and the point decoder share: the paged file with its
// checksums and the XML section's tree.
#include "core/formats/E57Reader.h"
#include "core/formats/E57Xml.h"
#include "core/formats/ForeignModel.h"

#include <memory>

namespace e57 {

inline uint32_t Le32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Le64(const unsigned char* p) { return Le32(p) | (uint64_t(Le32(p + 4)) << 32); }
inline uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Files with many images have XML sections of a few megabytes.
constexpr uint64_t kMaximumXml = uint64_t(64) << 20;

// The file as its logical stream: page payloads with the checksums taken
// out, each page checked as it is read.
class PagedFile {
public:
    // Opens and checks the header; empty when it is an E57 file.
    std::string Open(const std::string& path);
    uint64_t LogicalSize() const { return m_size / 1024 * 1020; }
    uint64_t XmlPhysicalOffset() const { return m_xmlOffset; }
    uint64_t XmlLength() const { return m_xmlLength; }
    // Logical bytes [logical, logical + n) into `dest`.
    std::string ReadLogical(uint64_t logical, size_t n, unsigned char* dest);

private:
    foreign::InputFile m_file;
    uint64_t m_size = 0;
    uint64_t m_xmlOffset = 0, m_xmlLength = 0;
    bool m_checkCrc = true;
    std::vector<unsigned char> m_scratch;
};

std::string ParseXml(PagedFile& file, std::unique_ptr<e57xml::Node>& root);
// The Structures of the root's data3D vector, in order.
std::vector<const e57xml::Node*> ScanNodes(const e57xml::Node& root);
Scan DescribeScan(const e57xml::Node& node, size_t index);

} // namespace e57
