#include "Fixtures.h"
#include "core/formats/LasReader.h"

#include <cstring>

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkImageData.h>
#include <vtkImageWriter.h>
#include <vtkJPEGWriter.h>
#include <vtkBMPWriter.h>
#include <vtkNew.h>
#include <vtkPNGWriter.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    m_soft = old.rlim_cur, m_hard = old.rlim_max;
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit now = old;
    now.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &now);
}

FileSizeLimit::~FileSizeLimit()
{
    struct rlimit old {};
    old.rlim_cur = m_soft, old.rlim_max = m_hard;
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, m_handler);
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool HasTemporary(const std::string& folder)
{
    for (const std::string& name : Names(folder))
        if (!name.empty() && name.back() == '~')
            return true;
    return false;
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "quarlon-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

namespace {
double Ramp(long i, int c) { return static_cast<double>((i * 7 + c * 31) % 256); }
} // namespace

ArrayShape RgbArray(const std::string& name) { return {name, 3, ArrayShape::UChar, nullptr}; }

ArrayShape IntensityArray(const std::string& name, double lo, double hi)
{
    // A ramp from lo to hi over the first 200 points, then repeated.
    static double sLo, sHi;
    sLo = lo;
    sHi = hi;
    return {name, 1, ArrayShape::Float, [](long i, int) { return sLo + (sHi - sLo) * ((i % 200) / 199.0); }};
}

ArrayShape ConstantArray(const std::string& name, double value)
{
    static double sValue;
    sValue = value;
    return {name, 1, ArrayShape::Float, [](long, int) { return sValue; }};
}

ArrayShape TextureArray(const std::string& name)
{
    return {name, 2, ArrayShape::Float, [](long i, int c) { return c == 0 ? (i % 20) / 19.0 : (i / 20 % 10) / 9.0; }};
}

void WriteModel(const std::string& path, const ModelShape& shape)
{
    vtkNew<vtkPoints> points;
    vtkNew<vtkCellArray> cells;
    for (int j = 0; j < shape.ny; ++j)
        for (int i = 0; i < shape.nx; ++i)
            points->InsertNextPoint(i * shape.spacing, j * shape.spacing, shape.z ? shape.z(i, j) : 0.1 * ((i + j) % 3));
    vtkNew<vtkPolyData> poly;
    poly->SetPoints(points);
    if (shape.triangles) {
        for (int j = 0; j + 1 < shape.ny; ++j)
            for (int i = 0; i + 1 < shape.nx; ++i) {
                const vtkIdType a = j * shape.nx + i, b = a + 1, c = a + shape.nx, d = c + 1;
                const vtkIdType t1[3] = {a, b, d}, t2[3] = {a, d, c};
                cells->InsertNextCell(3, t1);
                cells->InsertNextCell(3, t2);
            }
        poly->SetPolys(cells);
    } else {
        for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
            cells->InsertNextCell(1, &i);
        poly->SetVerts(cells);
    }
    const long n = static_cast<long>(points->GetNumberOfPoints());
    for (const ArrayShape& a : shape.arrays) {
        vtkSmartPointer<vtkDataArray> array;
        if (a.type == ArrayShape::UChar)
            array = vtkSmartPointer<vtkUnsignedCharArray>::New();
        else
            array = vtkSmartPointer<vtkFloatArray>::New();
        array->SetName(a.name.c_str());
        array->SetNumberOfComponents(a.components);
        array->SetNumberOfTuples(n);
        for (long i = 0; i < n; ++i)
            for (int c = 0; c < a.components; ++c)
                array->SetComponent(i, c, a.value ? a.value(i, c) : Ramp(i, c));
        poly->GetPointData()->AddArray(array);
    }
    bool ok;
    if (shape.legacy) {
        vtkNew<vtkPolyDataWriter> writer;
        writer->SetFileName(path.c_str());
        writer->SetInputData(poly);
        writer->SetFileTypeToBinary();
        ok = writer->Write() == 1;
    } else {
        vtkNew<vtkXMLPolyDataWriter> writer;
        writer->SetFileName(path.c_str());
        writer->SetInputData(poly);
        ok = writer->Write() == 1;
    }
    ASSERT_TRUE(ok) << "cannot write fixture " << path;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    ASSERT_TRUE(static_cast<bool>(out)) << path;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) { return fs::exists(path); }

void WriteImage(const std::string& path, int width, int height)
{
    vtkNew<vtkImageData> image;
    image->SetDimensions(width, height, 1);
    image->AllocateScalars(VTK_UNSIGNED_CHAR, 3);
    auto* p = static_cast<unsigned char*>(image->GetScalarPointer());
    for (int i = 0; i < width * height * 3; ++i)
        p[i] = static_cast<unsigned char>(i * 13);
    vtkSmartPointer<vtkImageWriter> writer;
    const std::string lower = fs::path(path).extension().string();
    if (lower == ".png" || lower == ".PNG")
        writer = vtkSmartPointer<vtkPNGWriter>::New();
    else if (lower == ".bmp")
        writer = vtkSmartPointer<vtkBMPWriter>::New();
    else
        writer = vtkSmartPointer<vtkJPEGWriter>::New();
    writer->SetFileName(path.c_str());
    writer->SetInputData(image);
    writer->Write();
    ASSERT_TRUE(fs::exists(path)) << path;
}

#include "core/model/CScanPos.h"
#include "core/common/VtkErrorCatcher.h"

#include <vtkLODProp3D.h>

vtkProperty* Level(CScanPos* model, int levelId)
{
    vtkProperty* p = nullptr;
    model->GetActor()->GetLODProperty(levelId, &p);
    return p;
}

vtkTexture* LevelTexture(CScanPos* model, int levelId)
{
    vtkTexture* t = nullptr;
    model->GetActor()->GetLODTexture(levelId, &t);
    return t;
}

namespace {
// Library messages must never reach the test output.
struct SilenceEnvironment : ::testing::Environment {
    void SetUp() override { SilenceVtkOutput(); }
};
const auto* const kSilence = ::testing::AddGlobalTestEnvironment(new SilenceEnvironment);
} // namespace

namespace {
template <class T>
void Put(std::string& b, size_t at, T v)
{
    std::memcpy(&b[at], &v, sizeof v);
}

} // namespace

// Little-endian host.
std::string LasBytes(const LasFile& f)
{
    const unsigned header = f.minor >= 4 ? 375 : f.minor == 3 ? 235 : 227;
    const unsigned length = las::MinimumRecordLength(f.format) + f.extraBytes;
    std::string b(header, '\0');
    std::memcpy(&b[0], "LASF", 4);
    b[24] = 1;
    b[25] = static_cast<char>(f.minor);
    Put<uint16_t>(b, 94, static_cast<uint16_t>(header));
    Put<uint32_t>(b, 96, header);
    b[104] = static_cast<char>(f.format);
    Put<uint16_t>(b, 105, static_cast<uint16_t>(length));
    const uint64_t n = f.points.size();
    // 1.4 files of the new formats leave the old count at 0.
    Put<uint32_t>(b, 107, f.minor >= 4 && f.format >= 6 ? 0u : static_cast<uint32_t>(n));
    for (int k = 0; k < 3; ++k) {
        Put<double>(b, 131 + 8 * k, f.scale[k]);
        Put<double>(b, 155 + 8 * k, f.offset[k]);
    }
    if (f.minor >= 4)
        Put<uint64_t>(b, 247, n);
    const int colourAt = las::ColourOffset(f.format);
    for (const LasPoint& p : f.points) {
        std::string r(length, '\0');
        Put<int32_t>(r, 0, p.x);
        Put<int32_t>(r, 4, p.y);
        Put<int32_t>(r, 8, p.z);
        Put<uint16_t>(r, 12, p.intensity);
        // Something in every other field, so that a wrong offset shows.
        for (size_t i = 14; i < r.size(); ++i)
            r[i] = static_cast<char>(0xA5);
        if (colourAt >= 0) {
            Put<uint16_t>(r, colourAt, p.r);
            Put<uint16_t>(r, colourAt + 2, p.g);
            Put<uint16_t>(r, colourAt + 4, p.b);
        }
        b += r;
    }
    return b;
}

