// The parallel model file reader against VTK's own reader: the same files
// (VTK's writer in every layout it has, our import's output, block
// boundaries, every array type, empty models) give the same arrays bit for
// bit; what it does not take goes back to VTK; damage fails with a reason.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/formats/XmlPolyData.h"
#include "core/formats/vtkModelFileReader.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPolyDataReader.h>
#include <vtkXMLPolyDataWriter.h>
#include <vtkIntArray.h>
#include <vtkLongLongArray.h>
#include <vtkShortArray.h>
#include <vtkSignedCharArray.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnsignedIntArray.h>
#include <vtkUnsignedLongLongArray.h>
#include <vtkUnsignedShortArray.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Every component of every tuple of `a` and `b` byte for byte, with name,
// type and components.
::testing::AssertionResult SameArray(vtkDataArray* a, vtkDataArray* b)
{
    if (!a || !b)
        return ::testing::AssertionFailure() << "missing array";
    std::ostringstream what;
    what << (a->GetName() ? a->GetName() : "(unnamed)") << ": ";
    if (a->GetDataType() != b->GetDataType() || a->GetNumberOfComponents() != b->GetNumberOfComponents() ||
        a->GetNumberOfTuples() != b->GetNumberOfTuples())
        return ::testing::AssertionFailure()
               << what.str() << a->GetClassName() << "x" << a->GetNumberOfComponents() << "x" << a->GetNumberOfTuples()
               << " against " << b->GetClassName() << "x" << b->GetNumberOfComponents() << "x"
               << b->GetNumberOfTuples();
    if (std::string(a->GetName() ? a->GetName() : "") != (b->GetName() ? b->GetName() : ""))
        return ::testing::AssertionFailure() << what.str() << "names differ";
    for (int c = 0; c < a->GetNumberOfComponents(); ++c) {
        const char* ca = a->GetComponentName(c);
        const char* cb = b->GetComponentName(c);
        if (std::string(ca ? ca : "") != (cb ? cb : ""))
            return ::testing::AssertionFailure() << what.str() << "component " << c << " names differ";
    }
    const size_t bytes = static_cast<size_t>(a->GetNumberOfValues()) * static_cast<size_t>(a->GetDataTypeSize());
    if (bytes && std::memcmp(a->GetVoidPointer(0), b->GetVoidPointer(0), bytes) != 0)
        return ::testing::AssertionFailure() << what.str() << "values differ";
    return ::testing::AssertionSuccess();
}

// The cells as values: offsets and connectivity of each kind (our reader
// may keep 32-bit ids where VTK's widens them).
::testing::AssertionResult SameCells(vtkCellArray* a, vtkCellArray* b, const char* kind)
{
    if (a->GetNumberOfCells() != b->GetNumberOfCells() ||
        a->GetNumberOfConnectivityIds() != b->GetNumberOfConnectivityIds())
        return ::testing::AssertionFailure() << kind << ": " << a->GetNumberOfCells() << " cells against "
                                             << b->GetNumberOfCells();
    for (vtkIdType i = 0; i <= a->GetNumberOfCells(); ++i)
        if (a->GetOffsetsArray()->GetComponent(i, 0) != b->GetOffsetsArray()->GetComponent(i, 0))
            return ::testing::AssertionFailure() << kind << ": offset " << i << " differs";
    for (vtkIdType i = 0; i < a->GetNumberOfConnectivityIds(); ++i)
        if (a->GetConnectivityArray()->GetComponent(i, 0) != b->GetConnectivityArray()->GetComponent(i, 0))
            return ::testing::AssertionFailure() << kind << ": id " << i << " differs";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameAttributes(vtkDataSetAttributes* a, vtkDataSetAttributes* b)
{
    if (a->GetNumberOfArrays() != b->GetNumberOfArrays())
        return ::testing::AssertionFailure() << a->GetNumberOfArrays() << " arrays against " << b->GetNumberOfArrays();
    for (int i = 0; i < a->GetNumberOfArrays(); ++i) {
        const auto same = SameArray(a->GetArray(i), b->GetArray(i));
        if (!same)
            return same;
    }
    for (int k = 0; k < vtkDataSetAttributes::NUM_ATTRIBUTES; ++k) {
        vtkAbstractArray* x = a->GetAbstractAttribute(k);
        vtkAbstractArray* y = b->GetAbstractAttribute(k);
        if ((x == nullptr) != (y == nullptr) || (x && std::string(x->GetName()) != y->GetName()))
            return ::testing::AssertionFailure() << "active " << vtkDataSetAttributes::GetAttributeTypeAsString(k)
                                                 << " differs";
    }
    return ::testing::AssertionSuccess();
}

// Reads `path` with both readers and compares everything the model keeps.
void ExpectSameAsVtk(const std::string& path, const std::string& label)
{
    SCOPED_TRACE(label);
    vtkNew<vtkXMLPolyDataReader> vtk;
    vtk->SetFileName(path.c_str());
    vtk->Update();
    vtkPolyData* expected = vtk->GetOutput();
    vtkNew<vtkPolyData> ours;
    std::string why;
    ASSERT_EQ(xmlpoly::Read(path, ours, &why), xmlpoly::Outcome::Read) << why;
    ASSERT_EQ(ours->GetNumberOfPoints(), expected->GetNumberOfPoints());
    if (expected->GetNumberOfPoints() > 0) {
        EXPECT_TRUE(SameArray(ours->GetPoints()->GetData(), expected->GetPoints()->GetData()));
    }
    EXPECT_TRUE(SameAttributes(ours->GetPointData(), expected->GetPointData())) << "point data";
    EXPECT_TRUE(SameAttributes(ours->GetCellData(), expected->GetCellData())) << "cell data";
    EXPECT_TRUE(SameCells(ours->GetVerts(), expected->GetVerts(), "verts"));
    EXPECT_TRUE(SameCells(ours->GetLines(), expected->GetLines(), "lines"));
    EXPECT_TRUE(SameCells(ours->GetStrips(), expected->GetStrips(), "strips"));
    EXPECT_TRUE(SameCells(ours->GetPolys(), expected->GetPolys(), "polys"));
}

template <class Array>
vtkSmartPointer<vtkDataArray> Ramp(const char* name, int components, vtkIdType tuples, double scale)
{
    auto a = vtkSmartPointer<Array>::New();
    a->SetName(name);
    a->SetNumberOfComponents(components);
    a->SetNumberOfTuples(tuples);
    for (vtkIdType i = 0; i < tuples * components; ++i)
        a->SetComponent(i / components, static_cast<int>(i % components), std::fmod(i * scale, 100.0) - 20.0);
    return a;
}

// `points` points with every array type, a few kinds of cells, cell data
// and active attributes.
vtkSmartPointer<vtkPolyData> Model(vtkIdType points, bool floatPoints)
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> pts;
    pts->SetDataType(floatPoints ? VTK_FLOAT : VTK_DOUBLE);
    pts->SetNumberOfPoints(points);
    for (vtkIdType i = 0; i < points; ++i)
        pts->SetPoint(i, 500000.0 + i * 0.001, 4500000.0 - i * 0.0017, std::sin(i * 0.1));
    data->SetPoints(pts);
    vtkPointData* pd = data->GetPointData();
    pd->AddArray(Ramp<vtkUnsignedCharArray>("RGB", 3, points, 7.0));
    pd->AddArray(Ramp<vtkFloatArray>("Intensity", 1, points, 0.37));
    pd->AddArray(Ramp<vtkDoubleArray>("Normals", 3, points, 0.11));
    pd->AddArray(Ramp<vtkFloatArray>("Texture", 2, points, 0.013));
    pd->AddArray(Ramp<vtkSignedCharArray>("i8", 1, points, 1.0));
    pd->AddArray(Ramp<vtkShortArray>("i16", 2, points, 3.0));
    pd->AddArray(Ramp<vtkUnsignedShortArray>("u16", 1, points, 3.0));
    pd->AddArray(Ramp<vtkIntArray>("i32", 1, points, 5.0));
    pd->AddArray(Ramp<vtkUnsignedIntArray>("u32", 4, points, 5.0));
    pd->AddArray(Ramp<vtkLongLongArray>("i64", 1, points, 9.0));
    pd->AddArray(Ramp<vtkUnsignedLongLongArray>("u64", 1, points, 9.0));
    pd->AddArray(Ramp<vtkIdTypeArray>("ids here", 1, points, 1.0));
    pd->GetArray("RGB")->SetComponentName(1, "green");
    pd->SetActiveScalars("RGB");
    pd->SetActiveNormals("Normals");
    pd->SetActiveTCoords("Texture");
    // Vertices for the first half, triangles and strips over the rest, a
    // line: cells of every kind.
    vtkNew<vtkCellArray> verts, lines, strips, polys;
    for (vtkIdType i = 0; i < points / 2; ++i)
        verts->InsertNextCell(1, &i);
    for (vtkIdType i = points / 2; i + 2 < points; i += 3) {
        const vtkIdType tri[3] = {i, i + 1, i + 2};
        polys->InsertNextCell(3, tri);
    }
    if (points >= 4) {
        const vtkIdType strip[4] = {0, 1, 2, 3};
        strips->InsertNextCell(4, strip);
        const vtkIdType line[2] = {points - 1, 0};
        lines->InsertNextCell(2, line);
    }
    data->SetVerts(verts);
    data->SetLines(lines);
    data->SetStrips(strips);
    data->SetPolys(polys);
    data->GetCellData()->AddArray(Ramp<vtkFloatArray>("CellValue", 1, data->GetNumberOfCells(), 0.5));
    data->GetCellData()->SetActiveScalars("CellValue");
    return data;
}

struct Layout {
    const char* name;
    int mode;       // 0 inline binary, 1 appended raw, 2 appended base64
    bool compressed;
    bool header64;
    bool ids64;
    int blockSize;
};

void Write(vtkPolyData* data, const std::string& path, const Layout& layout)
{
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(data);
    writer->SetFileName(path.c_str());
    if (layout.mode == 0)
        writer->SetDataModeToBinary();
    else {
        writer->SetDataModeToAppended();
        writer->SetEncodeAppendedData(layout.mode == 2);
    }
    if (layout.compressed)
        writer->SetCompressorTypeToZLib();
    else
        writer->SetCompressorTypeToNone();
    if (layout.header64)
        writer->SetHeaderTypeToUInt64();
    else
        writer->SetHeaderTypeToUInt32();
    if (layout.ids64)
        writer->SetIdTypeToInt64();
    else
        writer->SetIdTypeToInt32();
    writer->SetBlockSize(static_cast<size_t>(layout.blockSize));
    ASSERT_EQ(writer->Write(), 1);
}

std::string Bytes(const std::string& path) { return ReadText(path); }

void Put(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace

TEST(XmlPolyData, EveryLayoutVtkWritesReadsAsVtkReadsIt)
{
    TempDir dir;
    const Layout layouts[] = {
        {"inline zlib", 0, true, false, false, 32768},   {"inline raw", 0, false, false, true, 32768},
        {"appended zlib", 1, true, true, true, 32768},   {"appended", 1, false, true, false, 32768},
        {"base64 zlib", 2, true, false, true, 32768},    {"base64", 2, false, true, true, 32768},
        {"small blocks", 0, true, true, false, 1000},    {"tiny blocks", 2, true, false, false, 7},
        {"appended tiny", 1, true, false, false, 64},
    };
    // Sizes around the block size: 1365 doubles of three fill 32760 bytes,
    // 1366 cross it; none and one point; a few thousand.
    for (vtkIdType points : {0, 1, 2, 4, 1365, 1366, 5461}) {
        for (bool floatPoints : {false, true}) {
            vtkSmartPointer<vtkPolyData> model = Model(points, floatPoints);
            for (const Layout& layout : layouts) {
                const std::string path = dir.File("m.vtp");
                Write(model, path, layout);
                ExpectSameAsVtk(path, std::string(layout.name) + ", " + std::to_string(points) + " points" +
                                          (floatPoints ? ", float" : ", double"));
            }
        }
    }
}

TEST(XmlPolyData, TheImportsOwnFilesAndTheSampleReadAsVtkReadsThem)
{
    TempDir dir;
    std::string cloud;
    for (int i = 0; i < 70000; ++i)
        cloud += std::to_string(600000 + i * 0.013) + " " + std::to_string(5100000 - i * 0.007) + " " +
                 std::to_string(i % 97 * 0.25) + " " + std::to_string(i % 4096) + " " + std::to_string(i % 256) +
                 " 17 " + std::to_string(255 - i % 256) + "\n";
    WriteText(dir.File("cloud.xyz"), cloud);
    const CliRun r = RunCli(dir, "import " + Q(dir.File("cloud.xyz")));
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameAsVtk(dir.File("cloud.vtp"), "import");
    ExpectSameAsVtk(std::string(QUARLON_SAMPLE_DIR) + "/sampleModel.vtp", "sample");
    // The import's cloud keeps 32-bit cells: half the memory of VTK's ids.
    vtkNew<vtkPolyData> ours;
    ASSERT_EQ(xmlpoly::Read(dir.File("cloud.vtp"), ours, nullptr), xmlpoly::Outcome::Read);
    EXPECT_EQ(ours->GetVerts()->GetConnectivityArray()->GetDataTypeSize(), 4);

    // Asked to, it reads the cloud without its vertex cells, once it has
    // checked they are one per point, in order.
    xmlpoly::Options drop;
    bool implicit = false;
    drop.dropOneVertexPerPoint = true;
    drop.implicitVertices = &implicit;
    vtkNew<vtkPolyData> bare;
    ASSERT_EQ(xmlpoly::Read(dir.File("cloud.vtp"), bare, nullptr, drop), xmlpoly::Outcome::Read);
    EXPECT_TRUE(implicit);
    EXPECT_EQ(bare->GetNumberOfCells(), 0);
    EXPECT_TRUE(SameArray(bare->GetPoints()->GetData(), ours->GetPoints()->GetData()));
}

TEST(XmlPolyData, VertexCellsOfAnotherOrderAreKept)
{
    TempDir dir;
    for (bool reversed : {false, true}) {
        vtkSmartPointer<vtkPolyData> model = Model(5000, true);
        vtkNew<vtkCellArray> verts;
        for (vtkIdType i = 0; i < 5000; ++i) {
            // One per point, but the last two swapped (or all reversed).
            vtkIdType id = reversed ? 4999 - i : i == 4998 ? 4999 : i == 4999 ? 4998 : i;
            verts->InsertNextCell(1, &id);
        }
        model->SetVerts(verts);
        model->SetPolys(vtkNew<vtkCellArray>());
        model->SetLines(vtkNew<vtkCellArray>());
        model->SetStrips(vtkNew<vtkCellArray>());
        model->GetCellData()->Initialize();
        for (const Layout& layout : {Layout{"inline", 0, true, false, false, 1000}, Layout{"plain", 1, false, false, true, 1000}}) {
            SCOPED_TRACE(layout.name);
            Write(model, dir.File("m.vtp"), layout);
            xmlpoly::Options drop;
            bool implicit = true;
            drop.dropOneVertexPerPoint = true;
            drop.implicitVertices = &implicit;
            vtkNew<vtkPolyData> ours;
            ASSERT_EQ(xmlpoly::Read(dir.File("m.vtp"), ours, nullptr, drop), xmlpoly::Outcome::Read);
            EXPECT_FALSE(implicit);
            vtkNew<vtkXMLPolyDataReader> vtk;
            vtk->SetFileName(dir.File("m.vtp").c_str());
            vtk->Update();
            EXPECT_TRUE(SameCells(ours->GetVerts(), vtk->GetOutput()->GetVerts(), "verts"));
        }
    }
}

TEST(XmlPolyData, LayoutsItDoesNotTakeGoToVtksReader)
{
    TempDir dir;
    vtkSmartPointer<vtkPolyData> model = Model(300, false);
    struct Case {
        const char* name;
        void (*setup)(vtkXMLPolyDataWriter*);
    } cases[] = {
        {"ascii", [](vtkXMLPolyDataWriter* w) { w->SetDataModeToAscii(); }},
        {"lz4", [](vtkXMLPolyDataWriter* w) { w->SetCompressorTypeToLZ4(); }},
        {"lzma", [](vtkXMLPolyDataWriter* w) { w->SetCompressorTypeToLZMA(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vtkNew<vtkXMLPolyDataWriter> writer;
        writer->SetInputData(model);
        writer->SetFileName(dir.File("m.vtp").c_str());
        c.setup(writer);
        ASSERT_EQ(writer->Write(), 1);
        vtkNew<vtkPolyData> ours;
        std::string why;
        EXPECT_EQ(xmlpoly::Read(dir.File("m.vtp"), ours, &why), xmlpoly::Outcome::Unsupported);
        EXPECT_FALSE(why.empty());
        // The model reader still reads it, with VTK's reader.
        vtkNew<vtkModelFileReader> reader;
        reader->SetFileName(dir.File("m.vtp"), ".vtp");
        reader->Update();
        EXPECT_EQ(reader->GetError(), "");
        EXPECT_FALSE(reader->ReadInParallel());
        EXPECT_EQ(reader->GetOutput()->GetNumberOfPoints(), 300);
        EXPECT_TRUE(SameArray(reader->GetOutput()->GetPointData()->GetArray("Intensity"),
                              model->GetPointData()->GetArray("Intensity")));
    }
    // Our own layout is read in parallel.
    Write(model, dir.File("m.vtp"), {"inline zlib", 0, true, false, false, 32768});
    vtkNew<vtkModelFileReader> reader;
    reader->SetFileName(dir.File("m.vtp"), ".vtp");
    reader->Update();
    EXPECT_TRUE(reader->ReadInParallel());
}

TEST(XmlPolyData, DamageFailsWithAReasonAndAbortStops)
{
    TempDir dir;
    vtkSmartPointer<vtkPolyData> model = Model(20000, false);
    for (const Layout& layout : {Layout{"inline", 0, true, false, false, 4096}, Layout{"raw", 1, true, false, false, 4096},
                                 Layout{"plain", 1, false, false, false, 4096}}) {
        SCOPED_TRACE(layout.name);
        Write(model, dir.File("m.vtp"), layout);
        const std::string whole = Bytes(dir.File("m.vtp"));
        std::string why;
        vtkNew<vtkPolyData> ours;
        // Cut at several places: never a crash, never a model.
        for (size_t cut : {whole.size() / 5, whole.size() / 2, whole.size() - 40, whole.size() - 3}) {
            Put(dir.File("cut.vtp"), whole.substr(0, cut));
            const xmlpoly::Outcome o = xmlpoly::Read(dir.File("cut.vtp"), ours, &why);
            EXPECT_NE(o, xmlpoly::Outcome::Read) << cut;
            if (o == xmlpoly::Outcome::Failed)
                EXPECT_FALSE(why.empty());
        }
        // Bytes changed in the middle of the data.
        std::string damaged = whole;
        // Past the points' block header, in the data itself.
        const size_t data = layout.mode == 1 ? whole.find("_", whole.find("<AppendedData")) + 1
                                             : whole.find("<DataArray type=\"Float64\" Name=\"Points\"") + 3000;
        ASSERT_NE(data, std::string::npos);
        for (size_t i = data + 300; i < data + 340 && i < damaged.size(); ++i)
            damaged[i] = layout.mode == 1 ? static_cast<char>(damaged[i] ^ 0x5a) : 'A';
        Put(dir.File("bad.vtp"), damaged);
        const xmlpoly::Outcome o = xmlpoly::Read(dir.File("bad.vtp"), ours, &why);
        if (layout.compressed)
            EXPECT_EQ(o, xmlpoly::Outcome::Failed) << "a damaged block does not inflate";
        else
            EXPECT_NE(o, xmlpoly::Outcome::Aborted);
    }
    // A block count of a billion in a small file.
    Write(model, dir.File("m.vtp"), {"raw", 1, true, false, false, 4096});
    std::string huge = Bytes(dir.File("m.vtp"));
    const size_t start = huge.find('_', huge.find("<AppendedData")) + 1;
    const uint32_t billion = 1000000000u;
    std::memcpy(&huge[start], &billion, 4);
    Put(dir.File("huge.vtp"), huge);
    vtkNew<vtkPolyData> ours;
    std::string why;
    EXPECT_EQ(xmlpoly::Read(dir.File("huge.vtp"), ours, &why), xmlpoly::Outcome::Failed);
    EXPECT_NE(why.find("more data than it holds"), std::string::npos) << why;

    // An uncompressed array declaring 4 GB in a small file.
    Write(model, dir.File("m.vtp"), {"plain", 1, false, false, false, 4096});
    std::string plain = Bytes(dir.File("m.vtp"));
    const uint32_t most = 0xfffffff0u;
    std::memcpy(&plain[plain.find('_', plain.find("<AppendedData")) + 1], &most, 4);
    Put(dir.File("plain.vtp"), plain);
    EXPECT_EQ(xmlpoly::Read(dir.File("plain.vtp"), ours, &why), xmlpoly::Outcome::Failed);
    EXPECT_NE(why.find("more data than it holds"), std::string::npos) << why;

    // Abort: the first progress report stops the work.
    Write(Model(300000, false), dir.File("big.vtp"), {"inline", 0, true, false, false, 4096});
    xmlpoly::Options options;
    options.threads = 2;
    options.progress = [](double) { return false; };
    EXPECT_EQ(xmlpoly::Read(dir.File("big.vtp"), ours, &why, options), xmlpoly::Outcome::Aborted);
}

TEST(XmlPolyData, CellOffsetsThatRunBackwardsAreRefused)
{
    TempDir dir;
    vtkNew<vtkPolyData> model;
    vtkNew<vtkPoints> pts;
    for (int i = 0; i < 6; ++i)
        pts->InsertNextPoint(i, 0, 0);
    model->SetPoints(pts);
    vtkNew<vtkCellArray> polys;
    const vtkIdType a[3] = {0, 1, 2}, b[3] = {3, 4, 5};
    polys->InsertNextCell(3, a);
    polys->InsertNextCell(3, b);
    model->SetPolys(polys);
    Write(model, dir.File("m.vtp"), {"inline raw", 0, false, false, false, 32768});
    std::string text = Bytes(dir.File("m.vtp"));
    vtkNew<vtkPolyData> check;
    ASSERT_EQ(xmlpoly::Read(dir.File("m.vtp"), check, nullptr), xmlpoly::Outcome::Read);
    const size_t polysAt = text.find("<Polys>");
    const size_t offsetsAt = text.find("Name=\"offsets\"", polysAt);
    const size_t dataAt = text.find('>', offsetsAt) + 1;
    const size_t textAt = text.find_first_not_of(" \n", dataAt);
    // VTK writes the cells as 64-bit: size 16, then the offsets 3 and 6,
    // here made 7 and 6.
    const std::string original = "EAAAAAMAAAAAAAAABgAAAAAAAAA=";
    ASSERT_EQ(text.substr(textAt, original.size()), original);
    text.replace(textAt, original.size(), "EAAAAAcAAAAAAAAABgAAAAAAAAA=");
    Put(dir.File("bad.vtp"), text);
    std::string why;
    EXPECT_EQ(xmlpoly::Read(dir.File("bad.vtp"), check, &why), xmlpoly::Outcome::Failed);
    EXPECT_NE(why.find("offsets"), std::string::npos) << why;
}
