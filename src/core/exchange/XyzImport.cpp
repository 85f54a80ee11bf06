#include "core/exchange/XyzImport.h"

#include "core/exchange/Base64Stream.h"
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/exchange/ParallelDeflate.h"
#include "core/formats/XyzFormat.h"
#include "core/formats/XyzReader.h"
#include "core/common/CheckedFile.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/common/SafeFile.h"
#include "core/common/ProgressSink.h"
#include "core/common/VtkErrorCatcher.h"
#include "core/common/vtkListener.h"

#include <vtkCellArray.h>
#include <vtkCellTypes.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <new>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

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

// Single-point vertex cells only. The writer asks for the set of cell types, which the
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
    const size_t n = cloud.Count();
    const int code = cloud.Code();
    clouddata::Arrays arrays;
    arrays.points = cloud.ReleasePoints();
    arrays.rgb = HasColour(code) ? cloud.ReleaseColours() : nullptr;
    arrays.intensity = HasIntensity(code) ? cloud.ReleaseIntensities() : nullptr;
    vtkSmartPointer<vtkPolyData> poly = clouddata::Adopt(n, arrays);
    if (!poly || !clouddata::AddVertexCells(poly))
        throw std::bad_alloc();
    return poly;
}

// A cloud of single-point vertex cells and nothing else.
bool IsVertexCloud(vtkPolyData* poly)
{
    vtkCellArray* verts = poly->GetVerts();
    return poly->GetNumberOfLines() == 0 && poly->GetNumberOfPolys() == 0 && poly->GetNumberOfStrips() == 0 &&
           verts && verts->GetNumberOfConnectivityIds() == verts->GetNumberOfCells();
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
    // An empty model has no points object; its blocks are all unplanned.
    if (poly->GetPoints())
        add(poly->GetPoints()->GetData());
    if (vtkCellArray* verts = poly->GetVerts()) {
        add(verts->GetConnectivityArray());
        add(verts->GetOffsetsArray(), 1);
    }
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

namespace {

ConvertResult Failure(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return ConvertResult::Failed;
}

// The offset file beside `output`, in the form its reader takes.
bool WriteOffsetFile(const std::string& output, const double offset[3], std::string* why)
{
    for (int k = 0; k < 3; ++k)
        if (!std::isfinite(offset[k]) || Fixed(offset[k]).size() > kMaxOffsetText)
            return Failure(why, "the coordinates are too large for a model's offset file"), false;
    const std::string offsetFile = qpath::ReplaceExtension(output, ".vtw");
    std::error_code ec;
    fs::remove(offsetFile, ec);
    const char* const axes[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k)
        if (!profile::WriteString(offsetFile, "PolyData Offset", axes[k], Fixed(offset[k])))
            return Failure(why, "cannot write " + offsetFile), false;
    return true;
}

// A pipe or device would block or never end; only files are read. The
// output must be writable before any work is done.
bool CheckEnds(const std::string& source, const std::string& output, std::string* why)
{
    const std::string problem = safefile::SourceProblem(source);
    if (!problem.empty())
        return Failure(why, source + ": " + problem), false;
    std::ofstream probe(output, std::ios::binary | std::ios::trunc);
    if (!probe)
        return Failure(why, "cannot create " + output), false;
    return true;
}

} // namespace

// The model file: VTK's XML layout, binary inline, blocks deflated on
// every core ahead of the writer, every write checked, synced at the end.
ConvertResult WriteModelFile(vtkPolyData* poly, const std::string& output, IProgressSink* sink, std::string* why)
{
    CSilentProgress silent;
    IProgressSink* progress = sink ? sink : &silent;
    CheckedOutputFile file;
    if (!file.Open(output))
        return Failure(why, "cannot create " + output + ": " + file.Error());
    vtkNew<vtkCheckedXMLPolyDataWriter> writer;
    if (IsVertexCloud(poly)) {
        vtkNew<vtkVertexCloudData> cloud;
        cloud->ShallowCopy(poly);
        writer->SetInputData(cloud);
    } else {
        writer->SetInputData(poly);
    }
    writer->SetOutputStream(&file.Stream());
    writer->SetDataModeToBinary();
    vtkNew<vtkFastBase64OutputStream> encoder;
    writer->SetEncoder(encoder);
    // Fastest level and 32-bit header and ids: the files stay readable by
    // older readers.
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
        return Failure(why, "cannot write " + output + ": " +
                                (!committed ? file.Error() : errors.HasError() ? errors.GetMessage() : std::string("write failed")));
    return ConvertResult::Ok;
}

ConvertResult ConvertXyzFile(const std::string& source, const std::string& output, IProgressSink* sink,
                             std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failure(why, reason); };
    CSilentProgress silent;
    IProgressSink* progress = sink ? sink : &silent;
    progress->SetText("Converting Data...");
    if (!CheckEnds(source, output, why))
        return ConvertResult::Failed;

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
    // A model cannot carry nan or inf, nor what its offset file cannot hold.
    const size_t n = cloud.Count();
    double centre[3];
    if (!clouddata::BoundsCentre(cloud.Points(), n, centre))
        return fail("the file holds coordinates that are not finite numbers (nan or inf)");
    if (!WriteOffsetFile(output, centre, why))
        return ConvertResult::Failed;
    // In place, as a translation filter would compute it, without a copy.
    clouddata::Subtract(cloud.MutablePoints(), n, centre);

    vtkSmartPointer<vtkPolyData> poly;
    try {
        poly = BuildPolyData(cloud);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory");
    }
    return WriteModelFile(poly, output, progress, why);
}

namespace {

// Reads with `read` (a reader of other programs' files) and writes the
// model and its offset file.
template <class Read>
ConvertResult ConvertRead(const std::string& source, const std::string& output, IProgressSink* sink, std::string* why,
                          Read read)
{
    CSilentProgress silent;
    IProgressSink* progress = sink ? sink : &silent;
    progress->SetText("Converting Data...");
    if (!CheckEnds(source, output, why))
        return ConvertResult::Failed;
    foreign::Model model;
    try {
        switch (read(model, progress)) {
        case foreign::Result::Ok: break;
        case foreign::Result::Failed: return ConvertResult::Failed;
        case foreign::Result::Aborted: return ConvertResult::Aborted;
        }
    } catch (const std::bad_alloc&) {
        return Failure(why, "not enough memory");
    } catch (const std::exception& e) {
        return Failure(why, std::string("cannot read ") + source + ": " + e.what());
    }
    if (!WriteOffsetFile(output, model.offset, why))
        return ConvertResult::Failed;
    return WriteModelFile(model.data, output, progress, why);
}

} // namespace

ConvertResult ConvertForeignFile(const std::string& source, const std::string& output, IProgressSink* sink,
                                 std::string* why)
{
    return ConvertRead(source, output, sink, why, [&](foreign::Model& model, IProgressSink* progress) {
        return foreign::Read(source, model, progress, why);
    });
}

ConvertResult ConvertScan(const std::string& source, size_t index, const std::string& output, IProgressSink* sink,
                          std::string* why)
{
    return ConvertRead(source, output, sink, why, [&](foreign::Model& model, IProgressSink* progress) {
        return foreign::ReadScan(source, index, model, progress, why);
    });
}

ConvertResult ConvertFile(const std::string& source, const std::string& output, IProgressSink* sink, std::string* why)
{
    if (foreign::IsForeignExtension(qpath::ToLower(qpath::Split(source).extension)))
        return ConvertForeignFile(source, output, sink, why);
    return ConvertXyzFile(source, output, sink, why);
}

bool WriteProjectFile(const std::string& path, const std::vector<std::string>& models, bool replace, std::string* why)
{
    std::string text = std::to_string(models.size()) + "\n";
    for (const std::string& m : models)
        text += m + "\n";
    std::string reason;
    const std::string temp = safefile::CreateTemp(path, &reason);
    if (temp.empty() || !WriteWholeFile(temp, text, &reason)) {
        if (!temp.empty())
            ::unlink(temp.c_str());
        return Failure(why, "cannot write " + path + ": " + reason), false;
    }
    return safefile::Publish(temp, path, replace, why);
}

ImportNames PlanImport(const std::string& source, int scan)
{
    const qpath::Parts parts = qpath::Split(source);
    ImportNames names;
    names.source = source;
    names.baseName = scan > 0 ? parts.base + "_" + std::to_string(scan) : parts.base;
    const std::string stem = parts.folder + names.baseName;
    names.finalModel = stem + ".vtp";
    names.finalOffset = stem + ".vtw";
    return names;
}

bool ReserveImport(ImportNames& names, std::string* why)
{
    auto fail = [&](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    // The source itself under a final name ("pts.vtw", "m.vtp") would be
    // overwritten by its own conversion.
    const std::string same = safefile::InputAsOutput(names.finalModel, {names.source});
    if (!same.empty())
        return fail(same);
    const std::string sameOffset = safefile::InputAsOutput(names.finalOffset, {names.source});
    if (!sameOffset.empty())
        return fail(sameOffset);
    // Both temporary names exclusively ours: imports of x.xyz and x.txt at
    // once work side by side until one of them claims x.vtp.
    const std::string stem = qpath::Split(names.finalModel).folder + names.baseName + "_Z";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string reason;
        const std::string model = safefile::CreateTemp(stem, &reason, ".vtp");
        if (model.empty())
            return fail(reason);
        const std::string offset = qpath::ReplaceExtension(model, ".vtw");
        const int fd = ::open(offset.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            names.tempModel = model;
            names.tempOffset = offset;
            return true;
        }
        const int error = errno;
        ::unlink(model.c_str());
        if (error != EEXIST)
            return fail("cannot create " + offset + ": " + std::strerror(error));
    }
    return fail("cannot find a free temporary name beside " + names.finalModel);
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

bool FinishImport(const ImportNames& names, std::string* why, bool replace)
{
    std::string reason;
    auto fail = [&](const std::string& r) {
        if (why)
            *why = r;
        return false;
    };
    if (!Replaceable(names.finalModel, &reason) || !Replaceable(names.finalOffset, &reason))
        return fail(reason);
    if (!replace) {
        // Claimed at the rename, not at a check before: a model another
        // import wrote meanwhile is kept.
        if (!safefile::Publish(names.tempModel, names.finalModel, false, &reason))
            return fail(reason + " (use --overwrite to replace it)");
        if (::rename(names.tempOffset.c_str(), names.finalOffset.c_str()) != 0) {
            reason = names.finalOffset + ": " + std::strerror(errno);
            ::unlink(names.finalModel.c_str());
            return fail(reason);
        }
        return true;
    }
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
    if (!names.tempModel.empty())
        ::unlink(names.tempModel.c_str());
    if (!names.tempOffset.empty())
        ::unlink(names.tempOffset.c_str());
}

} // namespace xyz
