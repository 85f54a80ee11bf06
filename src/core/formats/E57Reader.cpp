#include "core/formats/E57Reader.h"

#include "core/formats/E57Paged.h"
#include "core/formats/E57Xml.h"
#include "core/formats/ForeignModel.h"

#include <cmath>
#include <cstring>

namespace e57 {

namespace {

uint32_t TableCrc(const unsigned char* p, size_t n, uint32_t crc)
{
    static const auto table = [] {
        struct T {
            uint32_t v[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t.v[i] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < n; ++i)
        crc = table.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t InstructionCrc(const unsigned char* p, size_t n, uint32_t crc)
{
    uint64_t c = crc;
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        c = __builtin_ia32_crc32di(c, word);
        p += 8;
        n -= 8;
    }
    uint32_t c32 = static_cast<uint32_t>(c);
    while (n-- > 0)
        c32 = __builtin_ia32_crc32qi(c32, *p++);
    return c32;
}
#endif

} // namespace

uint32_t Crc32c(const void* data, size_t n, uint32_t crc)
{
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
#if defined(__x86_64__)
    static const bool instruction = __builtin_cpu_supports("sse4.2");
    if (instruction)
        return ~InstructionCrc(p, n, crc);
#endif
    return ~TableCrc(p, n, crc);
}

// ---------------------------------------------------------------------------

std::string PagedFile::Open(const std::string& path)
{
    const std::string problem = m_file.Open(path);
    if (!problem.empty())
        return problem;
    m_size = m_file.Size();
    if (m_size < 1024 || m_size % 1024 != 0)
        return "not an E57 file: its length (" + std::to_string(m_size) +
               " bytes) is not a whole number of 1024-byte pages";
    unsigned char h[48];
    const std::string headProblem = ReadLogical(0, sizeof h, h);
    if (!headProblem.empty())
        return headProblem;
    if (std::memcmp(h, "ASTM-E57", 8) != 0)
        return "not an E57 file (no \"ASTM-E57\" signature)";
    const uint32_t major = Le32(h + 8), minor = Le32(h + 12);
    if (major != 1 || minor != 0)
        return "E57 version " + std::to_string(major) + "." + std::to_string(minor) + " is not supported (1.0 is)";
    if (Le64(h + 40) != 1024)
        return "the E57 page size is " + std::to_string(Le64(h + 40)) + ", not 1024";
    m_xmlOffset = Le64(h + 24);
    m_xmlLength = Le64(h + 32);
    return std::string();
}

std::string PagedFile::ReadLogical(uint64_t logical, size_t n, unsigned char* dest)
{
    if (n == 0)
        return std::string();
    if (logical > LogicalSize() || n > LogicalSize() - logical)
        return "a structure at logical byte " + std::to_string(logical) + " lies past the end of the file";
    uint64_t page = logical / 1020;
    size_t skip = static_cast<size_t>(logical % 1020);
    constexpr size_t kBatch = 256; // pages a read
    while (n > 0) {
        const size_t pagesLeft = static_cast<size_t>((skip + n + 1019) / 1020);
        const size_t pages = pagesLeft < kBatch ? pagesLeft : kBatch;
        m_scratch.resize(pages * 1024);
        if (!m_file.ReadAt(m_scratch.data(), pages * 1024, page * 1024))
            return "cannot read page " + std::to_string(page) + " of the file";
        for (size_t i = 0; i < pages; ++i) {
            const unsigned char* p = m_scratch.data() + i * 1024;
            const uint32_t stored = (uint32_t(p[1020]) << 24) | (uint32_t(p[1021]) << 16) | (uint32_t(p[1022]) << 8) | p[1023];
            if (m_checkCrc && Crc32c(p, 1020) != stored)
                return "the checksum of page " + std::to_string(page + i) + " (bytes " +
                       std::to_string((page + i) * 1024) + " to " + std::to_string((page + i) * 1024 + 1023) +
                       ") is wrong: the file is damaged";
            const size_t take = std::min(n, 1020 - skip);
            std::memcpy(dest, p + skip, take);
            dest += take;
            n -= take;
            skip = 0;
        }
        page += pages;
    }
    return std::string();
}

// ---------------------------------------------------------------------------

namespace {

void ReadPose(const e57xml::Node* pose, Scan& scan)
{
    if (!pose)
        return;
    if (const e57xml::Node* r = pose->Child("rotation")) {
        double q[4] = {1.0, 0.0, 0.0, 0.0};
        const char* names[4] = {"w", "x", "y", "z"};
        for (int k = 0; k < 4; ++k) {
            const e57xml::Node* c = r->Child(names[k]);
            if (!c || !e57xml::NumericValue(*c, q[k]))
                q[k] = 0.0;
        }
        const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        if (length > 0.0 && std::isfinite(length))
            for (int k = 0; k < 4; ++k)
                scan.rotation[k] = q[k] / length;
    }
    if (const e57xml::Node* t = pose->Child("translation")) {
        const char* names[3] = {"x", "y", "z"};
        for (int k = 0; k < 3; ++k) {
            const e57xml::Node* c = t->Child(names[k]);
            double v = 0.0;
            if (c && e57xml::NumericValue(*c, v) && std::isfinite(v))
                scan.translation[k] = v;
        }
    }
}

} // namespace

std::string ParseXml(PagedFile& file, std::unique_ptr<e57xml::Node>& root)
{
    const uint64_t xmlStart = file.XmlPhysicalOffset();
    if (xmlStart % 1024 >= 1020)
        return "the XML section's offset points into a checksum";
    const uint64_t logical = LogicalOffset(xmlStart);
    const uint64_t length = file.XmlLength();
    if (logical > file.LogicalSize() || length > file.LogicalSize() - logical)
        return "the XML section lies past the end of the file";
    if (length > kMaximumXml)
        return "the XML section (" + std::to_string(length) + " bytes) is larger than this reader accepts";
    std::string xml(static_cast<size_t>(length), '\0');
    const std::string problem = file.ReadLogical(logical, xml.size(), reinterpret_cast<unsigned char*>(&xml[0]));
    if (!problem.empty())
        return problem;
    std::string why;
    root = e57xml::Parse(xml.data(), xml.size(), &why);
    if (!root)
        return why;
    if (root->name != "e57Root")
        return "the XML section's root is <" + root->name + ">, not <e57Root>";
    return std::string();
}

std::vector<const e57xml::Node*> ScanNodes(const e57xml::Node& root)
{
    std::vector<const e57xml::Node*> scans;
    if (const e57xml::Node* data3D = root.Child("data3D"))
        for (const auto& child : data3D->children)
            if (child->name == "vectorChild" && child->Type() == "Structure")
                scans.push_back(child.get());
    return scans;
}

Scan DescribeScan(const e57xml::Node& node, size_t index)
{
    Scan scan;
    if (const e57xml::Node* n = node.Child("name"))
        scan.name = n->text;
    if (const e57xml::Node* g = node.Child("guid"))
        scan.guid = g->text;
    (void)index;
    ReadPose(node.Child("pose"), scan);
    const e57xml::Node* points = node.Child("points");
    if (points) {
        const std::string* count = points->Attribute("recordCount");
        long long records = 0;
        if (count && e57xml::ParseInteger(*count, records) && records > 0)
            scan.records = static_cast<uint64_t>(records);
        if (const e57xml::Node* prototype = points->Child("prototype")) {
            scan.cartesian = prototype->Child("cartesianX") && prototype->Child("cartesianY") && prototype->Child("cartesianZ");
            scan.spherical = prototype->Child("sphericalRange") && prototype->Child("sphericalAzimuth") &&
                             prototype->Child("sphericalElevation");
            scan.colour = prototype->Child("colorRed") && prototype->Child("colorGreen") && prototype->Child("colorBlue");
            scan.intensity = prototype->Child("intensity") != nullptr;
            scan.rowColumn = prototype->Child("rowIndex") && prototype->Child("columnIndex");
        }
    }
    return scan;
}

std::string Survey(const std::string& path, FileInfo& info)
{
    info = FileInfo();
    PagedFile file;
    std::string problem = file.Open(path);
    if (!problem.empty())
        return problem;
    std::unique_ptr<e57xml::Node> root;
    problem = ParseXml(file, root);
    if (!problem.empty())
        return problem;
    if (const e57xml::Node* g = root->Child("guid"))
        info.guid = g->text;
    const std::vector<const e57xml::Node*> scans = ScanNodes(*root);
    for (size_t i = 0; i < scans.size(); ++i)
        info.scans.push_back(DescribeScan(*scans[i], i));
    if (const e57xml::Node* images = root->Child("images2D"))
        for (const auto& child : images->children)
            info.images += child->name == "vectorChild" ? 1 : 0;
    return std::string();
}

} // namespace e57
