#include "core/exchange/MergeExport.h"

#include "core/common/CheckedFile.h"
#include "core/common/NumberFormat.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/ProgressSink.h"
#include "core/model/VtkErrorCatcher.h"

#include <vtkActor.h>
#include <vtkAppendPolyData.h>
#include <vtkLODProp3D.h>
#include <vtkOBJExporter.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkTexture.h>
#include <vtkVRMLExporter.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkPLYWriter.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkTransform.h>
#include <vtkTransformPolyDataFilter.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace exchange {

namespace {

// What one model contributes to the listing.
struct ListedModel {
    vtkPolyData* data = nullptr;
    vtkDataArray* rgb = nullptr;
    vtkDataArray* texture = nullptr;
    double offset[3] = {0, 0, 0};
    int solid[3] = {255, 255, 255};
    std::string image;
};

std::vector<ListedModel> ModelsOf(const CQuarlonDoc& doc)
{
    std::vector<ListedModel> models;
    double docOffset[3];
    doc.GetOffset(docOffset);
    CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
    while (pos) {
        CScanPos* model = doc.GetNextModel(pos);
        vtkPolyData* data = model ? model->GetPolyData() : nullptr;
        if (!data || !data->GetPoints())
            continue;
        ListedModel m;
        m.data = data;
        m.rgb = data->GetPointData()->GetArray("RGB");
        m.texture = data->GetPointData()->GetArray("Texture");
        if (m.rgb && m.rgb->GetNumberOfComponents() < 3)
            m.rgb = nullptr;
        if (m.texture && m.texture->GetNumberOfComponents() < 2)
            m.texture = nullptr;
        double own[3];
        model->GetOffset(own);
        for (int i = 0; i < 3; ++i)
            m.offset[i] = docOffset[i] + own[i];
        // Without "RGB" the model's solid colour stands in (0x00BBGGRR).
        const unsigned int c = model->GetColor();
        m.solid[0] = static_cast<int>(c & 0xFF), m.solid[1] = static_cast<int>((c >> 8) & 0xFF);
        m.solid[2] = static_cast<int>((c >> 16) & 0xFF);
        if (m.texture)
            m.image = profile::GetString(model->GetTextureFilePath(), "Texture", "File", "", 1024);
        models.push_back(std::move(m));
    }
    return models;
}

// A line buffer that formats as printf's "%lf" and "%d" do, byte for byte.
class LineWriter {
public:
    explicit LineWriter(std::ostream& out) : m_out(out) { m_buffer.reserve(kFlushAt + 4096); }
    void Fixed6(double v)
    {
        char text[kFixed6Capacity];
        m_buffer.append(text, FormatFixed6(v, text));
    }
    void Int(int v)
    {
        char text[16];
        const auto r = std::to_chars(text, text + sizeof text, v);
        m_buffer.append(text, r.ptr);
    }
    void Text(const std::string& s) { m_buffer += s; }
    void Char(char c)
    {
        m_buffer += c;
        if (c == '\n' && m_buffer.size() >= kFlushAt)
            Flush();
    }
    void Flush()
    {
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_buffer.clear();
    }

private:
    static constexpr size_t kFlushAt = 1 << 20;
    std::ostream& m_out;
    std::string m_buffer;
};

// "%d" of a colour component: truncation toward zero, as the cast does.
int Component(vtkDataArray* a, vtkIdType i, int c) { return static_cast<int>(a->GetComponent(i, c)); }

ExportResult Fail(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return ExportResult::Failed;
}

// The file under a temporary name beside the target; renamed on success.
std::string TempName(const std::string& path) { return path + ".part~"; }

// A file written by a library that checks none of its writes: at least it
// must be there, not empty, and on the disk before it replaces anything.
bool Synced(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && st.st_size > 0 && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The sink every export reports to: the caller's, or a silent one.
class ExportProgress {
public:
    explicit ExportProgress(IProgressSink* sink) : m_sink(sink ? sink : &m_silent)
    {
        m_sink->SetText("Saving Data...");
        m_sink->PumpMessages();
    }
    IProgressSink* operator->() const { return m_sink; }

private:
    CSilentProgress m_silent;
    IProgressSink* m_sink;
};

bool Replace(const std::string& temp, const std::string& path, std::string* why)
{
    if (std::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    if (why)
        *why = "cannot replace " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
}

} // namespace

ExportResult WriteXyzRgbListing(const CQuarlonDoc& doc, const std::string& path, IProgressSink* sink,
                                std::string* why)
{
    ExportProgress progress(sink);
    const std::vector<ListedModel> models = ModelsOf(doc);
    vtkIdType total = 0;
    for (const ListedModel& m : models)
        total += m.data->GetNumberOfPoints();

    const std::string temp = TempName(path);
    CheckedOutputFile file;
    if (!file.Open(temp))
        return Fail(why, "cannot write " + path + ": " + file.Error());
    LineWriter out(file.Stream());
    vtkIdType done = 0;
    for (const ListedModel& m : models) {
        vtkPoints* points = m.data->GetPoints();
        const vtkIdType n = m.data->GetNumberOfPoints();
        for (vtkIdType i = 0; i < n; ++i, ++done) {
            // Progress and abort every few thousand lines cost nothing.
            if ((done & 8191) == 0) {
                progress->SetFraction(total ? static_cast<double>(done) / static_cast<double>(total) : 0.0);
                progress->PumpMessages();
                if (progress->IsAborted()) {
                    file.Commit();
                    std::remove(temp.c_str());
                    return ExportResult::Aborted;
                }
            }
            double p[3];
            points->GetPoint(i, p);
            out.Fixed6(p[0] + m.offset[0]), out.Char(' ');
            out.Fixed6(p[1] + m.offset[1]), out.Char(' ');
            out.Fixed6(p[2] + m.offset[2]), out.Char(' ');
            for (int c = 0; c < 3; ++c) {
                out.Int(m.rgb ? Component(m.rgb, i, c) : m.solid[c]);
                if (c < 2 || m.texture)
                    out.Char(' ');
            }
            if (m.texture) {
                out.Fixed6(m.texture->GetComponent(i, 0)), out.Char(' ');
                out.Fixed6(m.texture->GetComponent(i, 1)), out.Char(' ');
                out.Text(m.image);
            }
            out.Char('\n');
        }
    }
    out.Flush();
    progress->SetFraction(1.0);
    if (!file.Commit()) {
        std::remove(temp.c_str());
        return Fail(why, "cannot write " + path + ": " + file.Error());
    }
    return Replace(temp, path, why) ? ExportResult::Ok : ExportResult::Failed;
}

bool WriteXyzRgbListingPlain(const CQuarlonDoc& doc, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    for (const ListedModel& m : ModelsOf(doc)) {
        const vtkIdType n = m.data->GetNumberOfPoints();
        for (vtkIdType i = 0; i < n; ++i) {
            double p[3];
            m.data->GetPoints()->GetPoint(i, p);
            const int r = m.rgb ? Component(m.rgb, i, 0) : m.solid[0];
            const int g = m.rgb ? Component(m.rgb, i, 1) : m.solid[1];
            const int b = m.rgb ? Component(m.rgb, i, 2) : m.solid[2];
            if (m.texture)
                std::fprintf(f, "%lf %lf %lf %d %d %d %lf %lf %s\n", p[0] + m.offset[0], p[1] + m.offset[1],
                             p[2] + m.offset[2], r, g, b, m.texture->GetComponent(i, 0), m.texture->GetComponent(i, 1),
                             m.image.c_str());
            else
                std::fprintf(f, "%lf %lf %lf %d %d %d\n", p[0] + m.offset[0], p[1] + m.offset[1], p[2] + m.offset[2],
                             r, g, b);
        }
    }
    return std::fclose(f) == 0;
}

ExportResult WriteMergedPly(const CQuarlonDoc& doc, const std::string& path, bool binary, IProgressSink* sink,
                            std::string* why)
{
    ExportProgress progress(sink);
    vtkNew<vtkAppendPolyData> append;
    int parts = 0;
    CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
    while (pos) {
        CScanPos* model = doc.GetNextModel(pos);
        vtkPolyData* data = model ? model->GetPolyData() : nullptr;
        if (!data)
            continue;
        // Each model where the view draws it, relative to the document offset.
        double offset[3];
        model->GetOffset(offset);
        vtkNew<vtkTransform> place;
        place->Translate(offset);
        vtkNew<vtkTransformPolyDataFilter> placed;
        placed->SetTransform(place);
        placed->SetInputData(data);
        placed->Update();
        vtkNew<vtkPolyData> copy;
        copy->ShallowCopy(placed->GetOutput());
        append->AddInputData(copy);
        ++parts;
    }
    if (parts == 0)
        return Fail(why, "the document holds no model");
    append->Update();
    if (progress->IsAborted())
        return ExportResult::Aborted;

    // Ends in ".ply": the library's PLY code adds that ending to any name
    // that lacks it.
    const std::string temp = TempName(path) + ".ply";
    double docOffset[3];
    doc.GetOffset(docOffset);
    char comment[256];
    std::snprintf(comment, sizeof comment, "offset %.6f %.6f %.6f", docOffset[0], docOffset[1], docOffset[2]);
    vtkNew<vtkPLYWriter> writer;
    writer->SetFileName(temp.c_str());
    writer->SetInputData(append->GetOutput());
    writer->SetArrayName("RGB");
    writer->AddComment(comment);
    binary ? writer->SetFileTypeToBinary() : writer->SetFileTypeToASCII();
    VtkErrorCatcher errors(writer);
    const bool written = writer->Write() == 1 && !errors.HasError();
    // TODO: a PLY writer of our own through CheckedOutputFile, so that a
    // full disk is seen (VTK 9.1's output-string mode writes nothing).
    if (!written || !Synced(temp)) {
        std::remove(temp.c_str());
        return Fail(why, "cannot write " + path + ": " +
                             (errors.HasError() ? errors.GetMessage() : std::string("the file could not be synced")));
    }
    return Replace(temp, path, why) ? ExportResult::Ok : ExportResult::Failed;
}

ExportResult WriteScene(const CQuarlonDoc& doc, const std::string& path, SceneFormat format, IProgressSink* sink,
                        std::string* why)
{
    ExportProgress progress(sink);
    // The exporters take vtkActors only; each model's two-level prop stands
    // in as an actor of its full level, drawn the same way.
    vtkNew<vtkRenderer> renderer;
    int actors = 0;
    CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
    while (pos) {
        CScanPos* model = doc.GetNextModel(pos);
        vtkPolyDataMapper* level = model ? model->GetMapper(kFullLevel) : nullptr;
        vtkLODProp3D* prop = model ? model->GetActor() : nullptr;
        if (!level || !prop || !model->GetPolyData() || !model->IsVisible())
            continue;
        vtkNew<vtkPolyDataMapper> mapper;
        mapper->ShallowCopy(level);
        mapper->SetInputData(model->GetPolyData());
        vtkNew<vtkActor> actor;
        actor->SetMapper(mapper);
        vtkProperty* property = nullptr;
        prop->GetLODProperty(kFullLevel, &property);
        if (property)
            actor->GetProperty()->DeepCopy(property);
        vtkTexture* texture = nullptr;
        prop->GetLODTexture(kFullLevel, &texture);
        actor->SetTexture(texture);
        actor->SetPosition(prop->GetPosition());
        actor->SetOrigin(prop->GetOrigin());
        actor->SetScale(prop->GetScale());
        renderer->AddActor(actor);
        ++actors;
    }
    if (actors == 0)
        return Fail(why, "the document holds no visible model");
    vtkNew<vtkRenderWindow> window; // never drawn: the exporters only read it
    window->AddRenderer(renderer);

    // A folder of our own beside the target keeps the names the files refer to.
    const qpath::Parts parts = qpath::Split(path);
    std::string folder = parts.folder + ".quarlon-export-XXXXXX";
    if (!::mkdtemp(&folder[0]))
        return Fail(why, "cannot write in " + (parts.folder.empty() ? std::string(".") : parts.folder) + ": " +
                             std::strerror(errno));
    std::vector<std::pair<std::string, std::string>> moves; // temporary -> final
    std::string error;
    bool written = false;
    if (format == SceneFormat::Obj) {
        const std::string prefix = folder + "/" + parts.base;
        vtkNew<vtkOBJExporter> exporter;
        exporter->SetFilePrefix(prefix.c_str());
        exporter->SetRenderWindow(window);
        VtkErrorCatcher errors(exporter);
        exporter->Write();
        written = !errors.HasError();
        error = errors.GetMessage();
        moves = {{prefix + ".obj", parts.folder + parts.base + ".obj"}, {prefix + ".mtl", parts.folder + parts.base + ".mtl"}};
    } else {
        const std::string file = folder + "/" + parts.base + parts.extension;
        vtkNew<vtkVRMLExporter> exporter;
        exporter->SetFileName(file.c_str());
        exporter->SetRenderWindow(window);
        VtkErrorCatcher errors(exporter);
        exporter->Write();
        written = !errors.HasError();
        error = errors.GetMessage();
        moves = {{file, path}};
    }
    for (const auto& move : moves)
        written = written && Synced(move.first);
    bool moved = written;
    for (const auto& move : moves)
        if (moved && std::rename(move.first.c_str(), move.second.c_str()) != 0) {
            error = move.second + ": " + std::strerror(errno);
            moved = false;
        }
    for (const auto& move : moves)
        std::remove(move.first.c_str());
    ::rmdir(folder.c_str());
    if (!moved)
        return Fail(why, "cannot write " + path + (error.empty() ? std::string() : ": " + error));
    return ExportResult::Ok;
}

} // namespace exchange
