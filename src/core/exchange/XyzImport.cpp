#include "core/exchange/XyzImport.h"
#include "core/exchange/ParallelDeflate.h"
#include "core/exchange/Base64Stream.h"

#include "core/exchange/XyzFormat.h"
#include "core/exchange/XyzReader.h"
#include "core/common/CheckedFile.h"
#include "core/common/LargeBuffer.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/model/ProgressSink.h"
#include "core/model/VtkErrorCatcher.h"
#include "core/model/vtkListener.h"

#include <vtkCellArray.h>
#include <vtkCellTypes.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkTypeInt32Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

namespace fs = std::filesystem;

#include <algorithm>
#include <thread>

namespace xyz {

namespace {

// The XML writer with a stream of ours, whose every write is checked.
class vtkCheckedXMLPolyDataWriter : public vtkXMLPolyDataWriter {
public:
    static vtkCheckedXMLPolyDataWriter* New();
    vtkTypeMacro(vtkCheckedXMLPolyDataWriter, vtkXMLPolyDataWriter);
    void SetOutputStream(std::ostream* stream) { this->Stream = stream; }
    void SetEncoder(vtkOutputStream* encoder) { this->SetDataStream(encoder); }
};
vtkStandardNewMacro(vtkCheckedXMLPolyDataWriter);

// Vertex cells only. The writer asks for the set of cell types, which the
// general answer finds by building the cell map and visiting every cell: a
// twelfth of the whole conversion for a cloud.
class vtkVertexCloudData : public vtkPolyData {
public:
    static vtkVertexCloudData* New();
    vtkTypeMacro(vtkVertexCloudData, vtkPolyData);
    void GetCellTypes(vtkCellTypes* types) override
    {
        types->Reset();
        if (this->GetNumberOfCells() > 0)
            types->InsertNextType(VTK_VERTEX);
    }
};
vtkStandardNewMacro(vtkVertexCloudData);

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// What the offset file's reader takes of a value.
constexpr size_t kMaxOffsetText = 63;

std::string Fixed(double v)
{
    char text[512];
    std::snprintf(text, sizeof text, "%lf", v);
    return text;
}

// The cloud's arrays become the poly data's without being copied.
vtkSmartPointer<vtkPolyData> BuildPolyData(Cloud& cloud)
{
    const vtkIdType n = static_cast<vtkIdType>(cloud.Count());
    const int code = cloud.Code();
    vtkSmartPointer<vtkPolyData> poly = vtkSmartPointer<vtkVertexCloudData>::New();

    vtkNew<vtkDoubleArray> coords;
    coords->SetNumberOfComponents(3);
    coords->SetArray(cloud.ReleasePoints(), n * 3, 0, vtkDoubleArray::VTK_DATA_ARRAY_FREE);
    vtkNew<vtkPoints> points;
    points->SetData(coords);
    poly->SetPoints(points);

    // One vertex cell per point, 32-bit ids as older readers expect.
    vtkNew<vtkTypeInt32Array> offsets, connectivity;
    int* off = static_cast<int*>(largebuf::Allocate(sizeof(int) * static_cast<size_t>(n + 1)));
    int* conn = static_cast<int*>(largebuf::Allocate(sizeof(int) * static_cast<size_t>(n > 0 ? n : 1)));
    if (!off || !conn) {
        std::free(off);
        std::free(conn);
        throw std::bad_alloc();
    }
    offsets->SetArray(off, n + 1, 0, vtkTypeInt32Array::VTK_DATA_ARRAY_FREE);
    connectivity->SetArray(conn, n, 0, vtkTypeInt32Array::VTK_DATA_ARRAY_FREE);
    for (vtkIdType i = 0; i < n; ++i) {
        off[i] = static_cast<int>(i);
        conn[i] = static_cast<int>(i);
    }
    off[n] = static_cast<int>(n);
    vtkNew<vtkCellArray> verts;
    verts->SetData(offsets, connectivity);
    poly->SetVerts(verts);

    if (HasColour(code)) {
        vtkNew<vtkUnsignedCharArray> rgb;
        rgb->SetName("RGB");
        rgb->SetNumberOfComponents(3);
        rgb->SetArray(cloud.ReleaseColours(), n * 3, 0, vtkUnsignedCharArray::VTK_DATA_ARRAY_FREE);
        poly->GetPointData()->SetScalars(rgb);
    }
    if (HasIntensity(code)) {
        vtkNew<vtkFloatArray> intensity;
        intensity->SetName("Intensity");
        intensity->SetArray(cloud.ReleaseIntensities(), n, 0, vtkFloatArray::VTK_DATA_ARRAY_FREE);
        if (HasColour(code))
            poly->GetPointData()->AddArray(intensity);
        else
            poly->GetPointData()->SetScalars(intensity);
    }
    return poly;
}

// The arrays' bytes in the order the XML writer puts them inline: point
// data, then the points, then the vertex cells' connectivity and end
// offsets (the first offset, 0, is implied).
std::vector<vtkParallelZLibCompressor::Segment> PlannedSegments(vtkPolyData* poly)
{
    std::vector<vtkParallelZLibCompressor::Segment> segments;
    auto add = [&](vtkDataArray* a, vtkIdType skip = 0) {
        if (!a || a->GetNumberOfTuples() <= skip)
            return;
        const size_t item = static_cast<size_t>(a->GetDataTypeSize()) * static_cast<size_t>(a->GetNumberOfComponents());
        segments.push_back({static_cast<const unsigned char*>(a->GetVoidPointer(0)) + item * static_cast<size_t>(skip),
                            item * static_cast<size_t>(a->GetNumberOfTuples() - skip)});
    };
    vtkPointData* pd = poly->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i)
        add(pd->GetArray(i));
    add(poly->GetPoints()->GetData());
    add(poly->GetVerts()->GetConnectivityArray());
    add(poly->GetVerts()->GetOffsetsArray(), 1);
    return segments;
}

zblock::Method& DeflaterChoice()
{
    static zblock::Method method = zblock::Method::Isal;
    return method;
}

zblock::Method Deflater() { return DeflaterChoice(); }

BlockCounts& Counts()
{
    static BlockCounts counts;
    return counts;
}

} // namespace

BlockCounts LastBlockCounts() { return Counts(); }

void SetDeflater(zblock::Method method) { DeflaterChoice() = method; }

ConvertResult ConvertXyzFile(const std::string& source, const std::string& output, IProgressSink* sink,
                             std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return ConvertResult::Failed;
    };
    CSilentProgress silent;
    IProgressSink* progress = sink ? sink : &silent;
    progress->SetText("Converting Data...");

    // A pipe or device would block or never end; only files are read.
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        return fail("cannot read " + source + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail(source + " is not a regular file");

    // The output must be writable before any work is done.
    {
        std::ofstream probe(output, std::ios::binary | std::ios::trunc);
        if (!probe)
            return fail("cannot create " + output);
    }

    Cloud cloud;
    ReadInfo info;
    switch (ReadCloud(source, cloud, progress, &info)) {
    case ReadResult::Ok: break;
    case ReadResult::CannotOpen: return fail("cannot read " + source);
    case ReadResult::BadFirstLine: return fail("the first data line has none of the XYZ layouts");
    case ReadResult::OutOfMemory: return fail("not enough memory");
    case ReadResult::Aborted: return ConvertResult::Aborted;
    }

    // Bounding-box centre: the offset file keeps it, the points lose it.
    const size_t n = cloud.Count();
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    const double* p = cloud.Points();
    bool finite = true;
    if (n > 0) {
        for (int k = 0; k < 3; ++k)
            lo[k] = hi[k] = p[k];
        for (size_t i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k) {
                const double v = p[3 * i + k];
                finite = finite && std::isfinite(v);
                lo[k] = std::min(lo[k], v);
                hi[k] = std::max(hi[k], v);
            }
    }
    // A model cannot carry nan or inf, nor what its offset file cannot hold.
    if (!finite)
        return fail("the file holds coordinates that are not finite numbers (nan or inf)");
    double centre[3];
    for (int k = 0; k < 3; ++k) {
        centre[k] = (lo[k] + hi[k]) / 2.0;
        if (!std::isfinite(centre[k]) || Fixed(centre[k]).size() > kMaxOffsetText)
            return fail("the coordinates are too large for a model's offset file");
    }
    const std::string offsetFile = qpath::ReplaceExtension(output, ".vtw");
    std::error_code ec;
    fs::remove(offsetFile, ec);
    const char* const axes[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k)
        if (!profile::WriteString(offsetFile, "PolyData Offset", axes[k], Fixed(centre[k])))
            return fail("cannot write " + offsetFile);
    // In place, as a translation filter would compute it, without a copy.
    double* q = cloud.MutablePoints();
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            q[3 * i + k] = q[3 * i + k] - centre[k];

    vtkSmartPointer<vtkPolyData> poly;
    try {
        poly = BuildPolyData(cloud);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }

    CheckedOutputFile file;
    if (!file.Open(output))
        return fail("cannot create " + output + ": " + file.Error());
    vtkNew<vtkCheckedXMLPolyDataWriter> writer;
    writer->SetInputData(poly);
    writer->SetOutputStream(&file.Stream());
    writer->SetDataModeToBinary();
    vtkNew<vtkFastBase64OutputStream> encoder;
    writer->SetEncoder(encoder);
    // zlib streams deflated on every core ahead of the writer; fastest
    // level and 32-bit header and ids: the files stay readable by older
    // readers.
    vtkNew<vtkParallelZLibCompressor> compressor;
    writer->SetCompressor(compressor);
    writer->SetCompressionLevel(1);
    writer->SetHeaderTypeToUInt32();
    writer->SetIdTypeToInt32();
    compressor->Start(PlannedSegments(poly), writer->GetBlockSize(), Deflater(),
                      std::max(1u, std::thread::hardware_concurrency()));
    vtkNew<vtkListener> listener;
    listener->SetSink(progress);
    VtkErrorCatcher errors(writer);
    const unsigned long tag = writer->AddObserver(vtkCommand::ProgressEvent, listener, 0.0f);
    listener->SetCurrentAlgorithm(writer);
    const int written = writer->Write();
    compressor->Stop();
    Counts() = {compressor->PlannedBlocks(), compressor->Served(), compressor->Unplanned()};
    writer->RemoveObserver(tag);
    listener->SetSink(nullptr);
    if (progress->IsAborted())
        return ConvertResult::Aborted;
    // A full disk may show only when the last bytes are flushed or synced.
    const bool committed = file.Commit();
    if (!written || errors.HasError() || !committed)
        return fail("cannot write " + output + ": " +
                    (!committed ? file.Error() : errors.HasError() ? errors.GetMessage() : std::string("write failed")));
    return ConvertResult::Ok;
}

ImportNames PlanImport(const std::string& source)
{
    const qpath::Parts parts = qpath::Split(source);
    ImportNames names;
    names.baseName = parts.base;
    const std::string stem = parts.folder + parts.base;
    names.finalModel = stem + ".vtp";
    names.finalOffset = stem + ".vtw";
    names.tempModel = stem + "_Z.vtp";
    for (int i = 0; Exists(names.tempModel); ++i)
        names.tempModel = stem + "_Z" + std::to_string(i) + ".vtp";
    names.tempOffset = qpath::ReplaceExtension(names.tempModel, ".vtw");
    return names;
}

namespace {

// A final name is replaceable when nothing or a plain file (or a link) is there.
bool Replaceable(const std::string& path, std::string* why)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? true : (*why = path + ": " + std::strerror(errno), false);
    if (S_ISDIR(st.st_mode))
        return *why = path + " is a folder", false;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return *why = path + " is not a regular file", false;
    return true;
}

std::string FreeName(const std::string& base)
{
    std::string name = base;
    for (int i = 0; Exists(name); ++i)
        name = base + std::to_string(i);
    return name;
}

} // namespace

bool FinishImport(const ImportNames& names, std::string* why)
{
    std::string reason;
    auto fail = [&](const std::string& r) {
        if (why)
            *why = r;
        return false;
    };
    if (!Replaceable(names.finalModel, &reason) || !Replaceable(names.finalOffset, &reason))
        return fail(reason);
    // The old model is kept under a second name until both new files are in
    // place, so that a failure half-way puts the old pair back.
    const bool hadModel = Exists(names.finalModel);
    const std::string keep = FreeName(names.finalModel + ".old~");
    // A second link keeps the old model in place; where the file system has
    // no links it moves aside for the moment of the swap.
    if (hadModel && ::link(names.finalModel.c_str(), keep.c_str()) != 0 &&
        ::rename(names.finalModel.c_str(), keep.c_str()) != 0)
        return fail("cannot keep " + names.finalModel + ": " + std::strerror(errno));
    auto dropKeep = [&] {
        if (hadModel)
            ::unlink(keep.c_str());
    };
    if (::rename(names.tempModel.c_str(), names.finalModel.c_str()) != 0) {
        reason = names.finalModel + ": " + std::strerror(errno);
        if (hadModel)
            ::rename(keep.c_str(), names.finalModel.c_str());
        return fail(reason);
    }
    if (::rename(names.tempOffset.c_str(), names.finalOffset.c_str()) != 0) {
        reason = names.finalOffset + ": " + std::strerror(errno);
        if (hadModel)
            ::rename(keep.c_str(), names.finalModel.c_str());
        else
            ::unlink(names.finalModel.c_str());
        return fail(reason);
    }
    dropKeep();
    return true;
}

void DiscardImport(const ImportNames& names)
{
    std::error_code ec;
    fs::remove(names.tempModel, ec);
    fs::remove(names.tempOffset, ec);
}

} // namespace xyz
