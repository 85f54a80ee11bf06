// PLY point clouds and meshes, ASCII and binary of either byte order. Our
// own reader rather than VTK's: that one reads coordinates as floats (a
// georeferenced site loses its millimetres), skips intensities and trusts
// the counts a header declares.
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/common/SafeFile.h"
#include "core/formats/XyzReader.h"
#include "core/common/Paths.h"
#include "core/common/ProgressSink.h"

#include <vtkCellArray.h>
#include <vtkIdTypeArray.h>
#include <vtkNew.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace foreign {

namespace {

enum class Type { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64, None };

Type TypeOf(const std::string& name)
{
    if (name == "char" || name == "int8") return Type::Int8;
    if (name == "uchar" || name == "uint8") return Type::UInt8;
    if (name == "short" || name == "int16") return Type::Int16;
    if (name == "ushort" || name == "uint16") return Type::UInt16;
    if (name == "int" || name == "int32") return Type::Int32;
    if (name == "uint" || name == "uint32") return Type::UInt32;
    if (name == "float" || name == "float32") return Type::Float32;
    if (name == "double" || name == "float64") return Type::Float64;
    return Type::None;
}

size_t SizeOf(Type t)
{
    switch (t) {
    case Type::Int8:
    case Type::UInt8: return 1;
    case Type::Int16:
    case Type::UInt16: return 2;
    case Type::Int32:
    case Type::UInt32:
    case Type::Float32: return 4;
    case Type::Float64: return 8;
    case Type::None: break;
    }
    return 0;
}

struct Property {
    std::string name;
    Type type = Type::None;
    bool list = false;
    Type countType = Type::None;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Encoding { Ascii, Little, Big };

struct Header {
    Encoding encoding = Encoding::Ascii;
    std::vector<Element> elements;
    bool hasOffset = false;
    double offset[3] = {0, 0, 0};
    size_t bytes = 0; // header length, "end_header" line included
};

// Reads the file front to back through a buffer.
class Source {
public:
    explicit Source(int fd) : m_fd(fd), m_buffer(new char[kSize]) {}
    // The next `n` bytes (n <= kSize), or null at the end of the file.
    const unsigned char* Take(size_t n)
    {
        if (m_end - m_pos < n && !Refill(n))
            return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_buffer.get() + m_pos);
        m_pos += n;
        return p;
    }
    // The next blank-separated token as a number; false at the end or on
    // something that is not one.
    bool Number(double& v)
    {
        while (true) {
            while (m_pos < m_end && IsBlank(m_buffer[m_pos]))
                ++m_pos;
            if (m_pos < m_end)
                break;
            if (!Refill(1))
                return false;
        }
        // A token may straddle the buffer's end: keep up to 128 bytes whole.
        if (m_end - m_pos < 128 && !m_eof)
            Refill(128);
        const char* p = m_buffer.get() + m_pos;
        const char* end = m_buffer.get() + m_end;
        if (!xyz::ReadNumber(p, end, v))
            return false;
        if (p < end && !IsBlank(*p))
            return false;
        m_pos = static_cast<size_t>(p - m_buffer.get());
        return true;
    }
    double Consumed() const { return m_consumed + static_cast<double>(m_pos); }
    bool Failed() const { return m_failed; }

private:
    static constexpr size_t kSize = size_t(4) << 20;
    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    bool Refill(size_t want)
    {
        std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_end - m_pos);
        m_consumed += static_cast<double>(m_pos);
        m_end -= m_pos;
        m_pos = 0;
        while (!m_eof && m_end < kSize) {
            const ssize_t n = ::read(m_fd, m_buffer.get() + m_end, kSize - m_end);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failed = n < 0;
                m_eof = true;
                break;
            }
            m_end += static_cast<size_t>(n);
        }
        return m_end >= want;
    }
    int m_fd;
    std::unique_ptr<char[]> m_buffer;
    size_t m_pos = 0, m_end = 0;
    double m_consumed = 0;
    bool m_eof = false, m_failed = false;
};

template <class T>
T Load(const unsigned char* p, bool swap)
{
    unsigned char b[sizeof(T)];
    if (swap)
        for (size_t i = 0; i < sizeof(T); ++i)
            b[i] = p[sizeof(T) - 1 - i];
    else
        std::memcpy(b, p, sizeof(T));
    T v;
    std::memcpy(&v, b, sizeof(T));
    return v;
}

double Value(Type t, const unsigned char* p, bool swap)
{
    switch (t) {
    case Type::Int8: return static_cast<int8_t>(p[0]);
    case Type::UInt8: return p[0];
    case Type::Int16: return Load<int16_t>(p, swap);
    case Type::UInt16: return Load<uint16_t>(p, swap);
    case Type::Int32: return Load<int32_t>(p, swap);
    case Type::UInt32: return Load<uint32_t>(p, swap);
    case Type::Float32: return Load<float>(p, swap);
    case Type::Float64: return Load<double>(p, swap);
    case Type::None: break;
    }
    return 0;
}

std::string ParseHeader(int fd, uint64_t fileSize, Header& h)
{
    // The header is text up to "end_header"; a megabyte is far beyond any.
    constexpr size_t kMaxHeader = size_t(1) << 20;
    std::string text;
    char chunk[4096];
    size_t at = std::string::npos;
    while (text.size() < kMaxHeader) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
        at = text.find("end_header");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos)
            break;
    }
    if (text.compare(0, 3, "ply") != 0 || (text.size() > 3 && text[3] != '\n' && text[3] != '\r'))
        return "not a PLY file (no \"ply\" first line)";
    if (at == std::string::npos || text.find('\n', at) == std::string::npos)
        return "the PLY header has no \"end_header\" line";
    h.bytes = text.find('\n', at) + 1;
    std::istringstream lines(text.substr(0, h.bytes));
    std::string line;
    bool format = false;
    std::getline(lines, line); // "ply"
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "end_header")
            break;
        if (key == "format") {
            std::string encoding, version;
            words >> encoding >> version;
            if (encoding == "ascii")
                h.encoding = Encoding::Ascii;
            else if (encoding == "binary_little_endian")
                h.encoding = Encoding::Little;
            else if (encoding == "binary_big_endian")
                h.encoding = Encoding::Big;
            else
                return "unknown PLY format \"" + safefile::Printable(encoding) + "\"";
            format = true;
        } else if (key == "comment") {
            std::string word;
            words >> word;
            if (word == "offset") {
                std::string x, y, z;
                words >> x >> y >> z;
                const char* texts[3] = {x.c_str(), y.c_str(), z.c_str()};
                bool ok = true;
                for (int k = 0; k < 3; ++k) {
                    const char* p = texts[k];
                    ok = ok && xyz::ReadNumber(p, texts[k] + std::strlen(texts[k]), h.offset[k]) && *p == '\0' &&
                         std::isfinite(h.offset[k]);
                }
                h.hasOffset = ok;
                if (!ok)
                    h.offset[0] = h.offset[1] = h.offset[2] = 0;
            }
        } else if (key == "element") {
            Element e;
            std::string count;
            words >> e.name >> count;
            errno = 0;
            if (e.name.empty() || count.empty() || count.find_first_not_of("0123456789") != std::string::npos ||
                (e.count = std::strtoull(count.c_str(), nullptr, 10), errno == ERANGE))
                return "the PLY element line \"" + safefile::Printable(line) + "\" has no count";
            h.elements.push_back(e);
        } else if (key == "property") {
            if (h.elements.empty())
                return "a PLY property before any element";
            Property p;
            std::string type;
            words >> type;
            if (type == "list") {
                std::string countType, itemType;
                words >> countType >> itemType >> p.name;
                p.list = true;
                p.countType = TypeOf(countType);
                p.type = TypeOf(itemType);
                if (p.countType == Type::None || p.countType == Type::Float32 || p.countType == Type::Float64)
                    return "the PLY list \"" + safefile::Printable(line) + "\" has no integer count type";
            } else {
                p.type = TypeOf(type);
                words >> p.name;
            }
            if (p.type == Type::None || p.name.empty())
                return "the PLY property \"" + safefile::Printable(line) + "\" has an unknown type";
            h.elements.back().properties.push_back(p);
        } else if (key != "obj_info" && !key.empty()) {
            return "the PLY header line \"" + safefile::Printable(line) + "\" is not understood";
        }
    }
    if (!format)
        return "the PLY header has no format line";
    // Every item takes room: a declared count must fit in what follows.
    const double left = static_cast<double>(fileSize - std::min<uint64_t>(fileSize, h.bytes));
    double least = 0;
    for (const Element& e : h.elements) {
        double item = 0;
        for (const Property& p : e.properties)
            item += h.encoding == Encoding::Ascii ? 2.0 : static_cast<double>(SizeOf(p.list ? p.countType : p.type));
        least += item * static_cast<double>(e.count);
    }
    if (least > left)
        return "the PLY header declares more data than the file holds";
    return std::string();
}

int Find(const Element& e, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        for (size_t i = 0; i < e.properties.size(); ++i)
            if (!e.properties[i].list && qpath::ToLower(e.properties[i].name) == name)
                return static_cast<int>(i);
    return -1;
}

unsigned char Colour(Type t, double v)
{
    if (t == Type::Float32 || t == Type::Float64)
        v = v * 255.0 + 0.5; // 0..1
    else if (t == Type::UInt16 || t == Type::Int16)
        v = v / 256.0; // 16-bit colours keep their high byte
    if (!(v > 0))
        return 0;
    return v >= 255 ? 255 : static_cast<unsigned char>(v);
}

} // namespace

namespace {

// Where the vertex element keeps what the model takes.
struct VertexFields {
    int x = -1, y = -1, z = -1;
    int red = -1, green = -1, blue = -1;
    int intensity = -1;
    bool Rgb() const { return red >= 0 && green >= 0 && blue >= 0; }
};

VertexFields FieldsOf(const Element& vertex)
{
    VertexFields f;
    f.x = Find(vertex, {"x"});
    f.y = Find(vertex, {"y"});
    f.z = Find(vertex, {"z"});
    f.red = Find(vertex, {"red", "r", "diffuse_red"});
    f.green = Find(vertex, {"green", "g", "diffuse_green"});
    f.blue = Find(vertex, {"blue", "b", "diffuse_blue"});
    f.intensity = Find(vertex, {"intensity", "scalar_intensity"});
    return f;
}

// The data after the header, element by element: the vertices into the
// cloud's arrays, faces of three or more corners into `faces`, everything
// else read past.
class BodyReader {
public:
    BodyReader(int fd, const Header& h, const Element* vertex, const VertexFields& fields, size_t points,
               const clouddata::Arrays& arrays, double fileSize)
        : m_source(fd), m_header(h), m_vertex(vertex), m_fields(fields), m_points(points), m_arrays(arrays),
          m_fileSize(fileSize)
    {
    }
    std::vector<vtkIdType> faceOffsets{0}, faceIds;

    // Empty when read; "aborted" when the sink said so; otherwise why not.
    std::string Read(IProgressSink* sink)
    {
        for (const Element& e : m_header.elements) {
            int indices = -1;
            if (e.name == "face")
                for (size_t i = 0; i < e.properties.size(); ++i)
                    if (e.properties[i].list &&
                        (e.properties[i].name == "vertex_indices" || e.properties[i].name == "vertex_index"))
                        indices = static_cast<int>(i);
            // Items without properties take no bytes: nothing to walk through
            // (a count of 2^64 - 1 would keep the loop busy for ever).
            if (e.properties.empty() && &e != m_vertex)
                continue;
            m_values.assign(e.properties.size(), 0.0);
            for (uint64_t item = 0; item < e.count; ++item) {
                for (size_t pi = 0; pi < e.properties.size(); ++pi) {
                    const std::string problem = e.properties[pi].list
                                                    ? ReadList(e.properties[pi], static_cast<int>(pi) == indices)
                                                    : (Scalar(e.properties[pi].type, m_values[pi]) ? "" : kCut);
                    if (!problem.empty())
                        return problem;
                }
                if (&e == m_vertex)
                    StoreVertex(static_cast<size_t>(item));
                if ((++m_items & 65535) == 0 && ProgressCheckpoint(sink, m_source.Consumed(), m_fileSize))
                    return "aborted";
            }
        }
        if (m_source.Failed())
            return std::string("cannot read the file: ") + std::strerror(errno);
        return std::string();
    }

private:
    static constexpr const char* kCut = "the PLY data end before the header's counts";

    bool Scalar(Type type, double& v)
    {
        if (m_header.encoding == Encoding::Ascii)
            return m_source.Number(v);
        const unsigned char* b = m_source.Take(SizeOf(type));
        if (!b)
            return false;
        v = Value(type, b, m_header.encoding == Encoding::Big);
        return true;
    }

    std::string ReadList(const Property& p, bool faceCorners)
    {
        double countValue = 0;
        if (!Scalar(p.countType, countValue))
            return kCut;
        if (!(countValue >= 0) || countValue > 1e6 || countValue != std::floor(countValue))
            return "a PLY list has a count of " + std::to_string(countValue);
        const size_t count = static_cast<size_t>(countValue);
        const bool keep = faceCorners && count >= 3;
        for (size_t k = 0; k < count; ++k) {
            double v = 0;
            if (!Scalar(p.type, v))
                return kCut;
            if (!keep)
                continue;
            if (!(v >= 0) || v >= static_cast<double>(m_points) || v != std::floor(v))
                return "a PLY face refers to vertex " + std::to_string(v) + " of " + std::to_string(m_points);
            faceIds.push_back(static_cast<vtkIdType>(v));
        }
        if (keep)
            faceOffsets.push_back(static_cast<vtkIdType>(faceIds.size()));
        return std::string();
    }

    void StoreVertex(size_t i)
    {
        const std::vector<double>& v = m_values;
        double* p = m_arrays.points + 3 * i;
        p[0] = v[m_fields.x], p[1] = v[m_fields.y], p[2] = v[m_fields.z];
        if (m_arrays.rgb) {
            unsigned char* c = m_arrays.rgb + 3 * i;
            c[0] = Colour(m_vertex->properties[m_fields.red].type, v[m_fields.red]);
            c[1] = Colour(m_vertex->properties[m_fields.green].type, v[m_fields.green]);
            c[2] = Colour(m_vertex->properties[m_fields.blue].type, v[m_fields.blue]);
        }
        if (m_arrays.intensity)
            m_arrays.intensity[i] = static_cast<float>(v[m_fields.intensity]);
    }

    Source m_source;
    const Header& m_header;
    const Element* m_vertex;
    VertexFields m_fields;
    size_t m_points;
    clouddata::Arrays m_arrays;
    double m_fileSize;
    std::vector<double> m_values;
    uint64_t m_items = 0;
};

} // namespace

Result ReadPly(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    InputFile file;
    const std::string unreadable = file.Open(path);
    if (!unreadable.empty())
        return fail(unreadable);
    Header h;
    const std::string problem = ParseHeader(file.Fd(), static_cast<uint64_t>(file.Size()), h);
    if (!problem.empty())
        return fail(problem);

    const Element* vertex = nullptr;
    for (const Element& e : h.elements)
        if (e.name == "vertex" && !vertex)
            vertex = &e;
    if (!vertex || vertex->count == 0)
        return fail("the PLY file has no vertices");
    const VertexFields fields = FieldsOf(*vertex);
    if (fields.x < 0 || fields.y < 0 || fields.z < 0)
        return fail("the PLY vertices have no x, y and z");
    const size_t n = static_cast<size_t>(vertex->count);
    clouddata::Arrays arrays;
    vtkSmartPointer<vtkPolyData> data = clouddata::NewCloud(n, fields.Rgb(), fields.intensity >= 0, arrays);
    if (!data)
        return fail("not enough memory for " + std::to_string(n) + " vertices");
    if (::lseek(file.Fd(), static_cast<off_t>(h.bytes), SEEK_SET) < 0)
        return fail("cannot read the file");
    BodyReader body(file.Fd(), h, vertex, fields, n, arrays, static_cast<double>(file.Size()));
    const std::string bodyProblem = body.Read(sink);
    if (bodyProblem == "aborted")
        return Result::Aborted;
    if (!bodyProblem.empty())
        return fail(bodyProblem);

    double centre[3];
    if (!clouddata::BoundsCentre(arrays.points, n, centre, true))
        return fail("the PLY coordinates are not finite numbers");
    if (h.hasOffset) {
        // Written relative to this offset (as the viewer's own PLY export does).
        for (int k = 0; k < 3; ++k)
            out.offset[k] = h.offset[k];
    } else {
        for (int k = 0; k < 3; ++k)
            out.offset[k] = centre[k];
        clouddata::Subtract(arrays.points, n, centre);
    }
    if (body.faceIds.empty()) {
        if (!clouddata::AddVertexCells(data))
            return fail("not enough memory for the vertex cells");
    } else {
        vtkNew<vtkIdTypeArray> offsets, connectivity;
        offsets->SetNumberOfValues(static_cast<vtkIdType>(body.faceOffsets.size()));
        std::copy(body.faceOffsets.begin(), body.faceOffsets.end(), offsets->GetPointer(0));
        connectivity->SetNumberOfValues(static_cast<vtkIdType>(body.faceIds.size()));
        std::copy(body.faceIds.begin(), body.faceIds.end(), connectivity->GetPointer(0));
        vtkNew<vtkCellArray> polys;
        polys->SetData(offsets, connectivity);
        data->SetPolys(polys);
    }
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
