#include "core/exchange/MergeExport.h"
#include "core/formats/CloudData.h"
#include "core/exchange/ExportSupport.h"

#include "core/common/CheckedFile.h"
#include "core/common/NumberFormat.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/common/SafeFile.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/IDocumentView.h"
#include "core/common/ProgressSink.h"
#include "core/common/VtkErrorCatcher.h"

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkLODProp3D.h>
#include <vtkExporter.h>
#include <vtkOBJExporter.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkTexture.h>
#include <vtkVRMLExporter.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkCellArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace exchange {

using namespace detail;

namespace {

// What one model contributes to the listing.
struct ListedModel {
    vtkPolyData* data = nullptr;
    vtkDataArray* rgb = nullptr;
    vtkDataArray* texture = nullptr;
    vtkDataArray* intensity = nullptr;
    double offset[3] = {0, 0, 0}; // document offset + the model's own
    double own[3] = {0, 0, 0};    // the model's own: its place in the view
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
        m.intensity = data->GetPointData()->GetArray("Intensity");
        if (m.intensity && m.intensity->GetNumberOfTuples() < data->GetNumberOfPoints())
            m.intensity = nullptr;
        double own[3];
        model->GetOffset(own);
        for (int i = 0; i < 3; ++i)
            m.offset[i] = docOffset[i] + own[i], m.own[i] = own[i];
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

// The names of the plain files in `folder`.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// Colours of one actor's vertices as drawn (RGBA), or none.
struct DrawnColours {
    vtkIdType points = 0;
    vtkSmartPointer<vtkUnsignedCharArray> rgba;
};

// VTK's OBJ exporter writes no vertex colours; appends "r g b" (0..1) to the
// "v" lines of each coloured actor. The exporter writes every actor's
// vertices as one run of "v" lines, so runs are matched to the actors in
// order by their length.
bool AddVertexColours(const std::string& obj, const std::vector<DrawnColours>& actors, std::string* error)
{
    bool any = false;
    for (const DrawnColours& a : actors)
        any = any || a.rgba;
    if (!any)
        return true;
    const std::string coloured = obj + ".colours";
    std::FILE* in = std::fopen(obj.c_str(), "rb");
    std::FILE* out = in ? std::fopen(coloured.c_str(), "wbx") : nullptr;
    if (!in || !out) {
        *error = std::strerror(errno);
        if (in)
            std::fclose(in);
        return false;
    }
    size_t actor = 0;
    vtkIdType vertex = 0;     // within the current run of "v" lines
    bool inRun = false;
    const DrawnColours* current = nullptr;
    std::vector<char> line;
    bool ok = true;
    for (int c = 0; ok && c != EOF;) {
        line.clear();
        while ((c = std::fgetc(in)) != EOF && c != '\n')
            line.push_back(static_cast<char>(c));
        if (line.empty() && c == EOF)
            break;
        const bool isVertex = line.size() > 2 && line[0] == 'v' && line[1] == ' ';
        if (isVertex && !inRun) {
            // A new run: count its lines to find its actor.
            const long at = std::ftell(in);
            vtkIdType count = 1;
            std::vector<char> next;
            for (int d = 0; d != EOF;) {
                int first = std::fgetc(in), second = first == EOF ? EOF : std::fgetc(in);
                if (first != 'v' || second != ' ')
                    break;
                ++count;
                while ((d = std::fgetc(in)) != EOF && d != '\n') {
                }
            }
            std::fseek(in, at, SEEK_SET);
            current = nullptr;
            while (actor < actors.size() && actors[actor].points != count)
                ++actor;
            if (actor < actors.size())
                current = &actors[actor++];
            vertex = 0;
        }
        inRun = isVertex;
        ok = std::fwrite(line.data(), 1, line.size(), out) == line.size();
        if (ok && isVertex && current && current->rgba) {
            const unsigned char* rgba = current->rgba->GetPointer(4 * vertex);
            ok = std::fprintf(out, " %.6g %.6g %.6g", rgba[0] / 255.0, rgba[1] / 255.0, rgba[2] / 255.0) > 0;
        }
        if (isVertex)
            ++vertex;
        if (ok && c == '\n')
            ok = std::fputc('\n', out) != EOF;
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    ok = std::fflush(out) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (ok && std::rename(coloured.c_str(), obj.c_str()) != 0)
        ok = false;
    if (!ok) {
        *error = std::string("the file could not be completed (is the disk full?): ") + std::strerror(errno);
        std::remove(coloured.c_str());
    }
    return ok;
}

// "%d" of a colour component: truncation toward zero, as the cast does.
int Component(vtkDataArray* a, vtkIdType i, int c) { return detail::TruncateToInt(a->GetComponent(i, c)); }

} // namespace

ExportResult WriteXyzRgbListing(const CQuarlonDoc& doc, const std::string& path, IProgressSink* sink,
                                std::string* why)
{
    ExportProgress progress(sink);
    const std::vector<ListedModel> models = ModelsOf(doc);
    vtkIdType total = 0;
    for (const ListedModel& m : models)
        total += m.data->GetNumberOfPoints();

    const std::string same = safefile::InputAsOutput(path, doc.GetSourceFiles());
    if (!same.empty())
        return Fail(why, same);
    CheckedOutputFile file;
    const std::string temp = OpenTemp(file, path, why);
    if (temp.empty())
        return ExportResult::Failed;
    LineWriter out(file.Stream());
    vtkIdType done = 0;
    for (const ListedModel& m : models) {
        vtkPoints* points = m.data->GetPoints();
        const vtkIdType n = file.HasFailed() ? 0 : m.data->GetNumberOfPoints();
        for (vtkIdType i = 0; i < n; ++i, ++done) {
            // Progress and abort every few thousand lines cost nothing.
            if ((done & 8191) == 0) {
                if (progress.Checkpoint(static_cast<double>(done), static_cast<double>(total)))
                    return Abandon(file, temp);
                if (file.HasFailed())
                    break; // a full disk: no need to format the rest
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
            out.EndLine();
        }
    }
    out.Flush();
    progress->SetFraction(1.0);
    return Complete(file, temp, path, why);
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

namespace {

// The faces of a model as PLY lists of at most 255 indexes: polygons as
// they are (larger ones as fans), strips as their triangles.
template <typename Face> void ForEachFace(vtkPolyData* data, Face&& face)
{
    const vtkIdType* ids = nullptr;
    vtkIdType n = 0;
    vtkCellArray* polys = data->GetPolys();
    for (polys->InitTraversal(); polys->GetNextCell(n, ids);) {
        if (n < 3)
            continue;
        if (n <= 255) {
            face(ids, n);
            continue;
        }
        for (vtkIdType k = 1; k + 1 < n; ++k) {
            const vtkIdType tri[3] = {ids[0], ids[k], ids[k + 1]};
            face(tri, 3);
        }
    }
    vtkCellArray* strips = data->GetStrips();
    for (strips->InitTraversal(); strips->GetNextCell(n, ids);)
        for (vtkIdType k = 0; k + 2 < n; ++k) {
            // Every other triangle of a strip turns the other way.
            const vtkIdType tri[3] = {ids[k], ids[k % 2 ? k + 2 : k + 1], ids[k % 2 ? k + 1 : k + 2]};
            face(tri, 3);
        }
}

unsigned char Byte(double v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v)); }

void PutLittle(LineWriter& out, const void* value, size_t size)
{
    unsigned char bytes[8];
    std::memcpy(bytes, value, size);
    const unsigned int probe = 1;
    if (*reinterpret_cast<const unsigned char*>(&probe) == 0)
        std::reverse(bytes, bytes + size);
    out.Bytes(bytes, size);
}

} // namespace

ExportResult WriteMergedPly(const CQuarlonDoc& doc, const std::string& path, bool binary, IProgressSink* sink,
                            std::string* why)
{
    ExportProgress progress(sink);
    const std::vector<ListedModel> models = ModelsOf(doc);
    if (models.empty())
        return Fail(why, "the document holds no model");
    vtkIdType vertices = 0, faces = 0;
    bool intensity = false; // other scan programs read it as a scalar field
    for (const ListedModel& m : models) {
        intensity = intensity || m.intensity;
        vertices += m.data->GetNumberOfPoints();
        ForEachFace(m.data, [&](const vtkIdType*, vtkIdType) { ++faces; });
    }
    if (vertices > INT_MAX)
        return Fail(why, "more points than a PLY index can number");

    double docOffset[3];
    doc.GetOffset(docOffset);
    char line[256];
    std::string header = std::string("ply\nformat ") + (binary ? "binary_little_endian" : "ascii") + " 1.0\n";
    std::snprintf(line, sizeof line, "comment offset %.6f %.6f %.6f\n", docOffset[0], docOffset[1], docOffset[2]);
    header += line;
    header += "element vertex " + std::to_string(vertices) + "\n";
    header += "property float x\nproperty float y\nproperty float z\n";
    header += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (intensity)
        header += "property float intensity\n";
    header += "element face " + std::to_string(faces) + "\n";
    header += "property list uchar int vertex_indices\nend_header\n";

    const std::string same = safefile::InputAsOutput(path, doc.GetSourceFiles());
    if (!same.empty())
        return Fail(why, same);
    CheckedOutputFile file;
    const std::string temp = OpenTemp(file, path, why);
    if (temp.empty())
        return ExportResult::Failed;
    LineWriter out(file.Stream());
    out.Text(header);
    auto aborted = [&](vtkIdType done) {
        if ((done & 8191) != 0)
            return false;
        return progress.Checkpoint(static_cast<double>(done), static_cast<double>(vertices + faces + 1)) ||
               file.HasFailed();
    };
    vtkIdType done = 0;
    bool stop = false;
    for (const ListedModel& m : models) {
        const vtkIdType n = m.data->GetNumberOfPoints();
        for (vtkIdType i = 0; i < n && !stop; ++i, ++done) {
            if ((stop = aborted(done)))
                break;
            double p[3];
            m.data->GetPoints()->GetPoint(i, p);
            // Each model where the view draws it, relative to the document offset.
            const float xyz[3] = {static_cast<float>(p[0] + m.own[0]), static_cast<float>(p[1] + m.own[1]),
                                  static_cast<float>(p[2] + m.own[2])};
            unsigned char rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = m.rgb ? Byte(m.rgb->GetComponent(i, c)) : static_cast<unsigned char>(m.solid[c]);
            // A model without "Intensity" among models with it gets 0.
            const float level = m.intensity ? static_cast<float>(m.intensity->GetComponent(i, 0)) : 0.0f;
            if (binary) {
                for (float v : xyz)
                    PutLittle(out, &v, sizeof v);
                out.Bytes(rgb, 3);
                if (intensity)
                    PutLittle(out, &level, sizeof level);
                out.FlushIfFull();
            } else {
                for (float v : xyz) {
                    char text[32];
                    out.Bytes(text, static_cast<size_t>(std::to_chars(text, text + sizeof text, v).ptr - text));
                    out.Char(' ');
                }
                out.Int(rgb[0]), out.Char(' '), out.Int(rgb[1]), out.Char(' '), out.Int(rgb[2]);
                if (intensity) {
                    char text[32];
                    out.Char(' ');
                    out.Bytes(text, static_cast<size_t>(std::to_chars(text, text + sizeof text, level).ptr - text));
                }
                out.EndLine();
            }
        }
    }
    vtkIdType base = 0;
    for (const ListedModel& m : models) {
        if (stop)
            break;
        ForEachFace(m.data, [&](const vtkIdType* ids, vtkIdType n) {
            if (stop || (stop = aborted(done++)))
                return;
            if (binary) {
                out.Char(static_cast<char>(n));
                for (vtkIdType k = 0; k < n; ++k) {
                    const int index = static_cast<int>(base + ids[k]);
                    PutLittle(out, &index, sizeof index);
                }
                out.FlushIfFull();
            } else {
                out.Int(n);
                for (vtkIdType k = 0; k < n; ++k)
                    out.Char(' '), out.Int(base + ids[k]);
                out.EndLine();
            }
        });
        base += m.data->GetNumberOfPoints();
    }
    out.Flush();
    if (stop && !file.HasFailed())
        return Abandon(file, temp);
    progress->SetFraction(1.0);
    return Complete(file, temp, path, why);
}

ExportResult WriteScene(const CQuarlonDoc& doc, const std::string& path, SceneFormat format, IProgressSink* sink,
                        std::string* why)
{
    ExportProgress progress(sink);
    // The exporters take vtkActors only; each model's two-level prop stands
    // in as an actor of its full level, drawn the same way.
    vtkNew<vtkRenderer> renderer;
    int actors = 0;
    std::vector<DrawnColours> colours;
    CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
    while (pos) {
        CScanPos* model = doc.GetNextModel(pos);
        vtkPolyDataMapper* level = model ? model->GetMapper(kFullLevel) : nullptr;
        vtkLODProp3D* prop = model ? model->GetActor() : nullptr;
        if (!level || !prop || !model->GetPolyData() || !model->IsVisible())
            continue;
        vtkNew<vtkPolyDataMapper> mapper;
        mapper->ShallowCopy(level);
        // The exporters write cells: a cloud drawn without its vertex cells
        // gets them back for the export.
        vtkSmartPointer<vtkPolyData> data = model->GetPolyData();
        if (model->HasImplicitVertices()) {
            data = vtkSmartPointer<vtkPolyData>::New();
            data->ShallowCopy(model->GetPolyData());
            if (!clouddata::AddVertexCells(data))
                return Fail(why, "the cloud's vertex cells cannot be made (not enough memory)");
        }
        mapper->SetInputData(data);
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
        // The colours the user sees, for formats whose exporter drops them.
        DrawnColours drawn;
        drawn.points = model->GetPolyData()->GetNumberOfPoints();
        if (!texture && mapper->GetScalarVisibility()) {
            int cellFlag = 0;
            vtkDataArray* scalars = vtkAbstractMapper::GetScalars(
                model->GetPolyData(), mapper->GetScalarMode(), mapper->GetArrayAccessMode(), mapper->GetArrayId(),
                mapper->GetArrayName(), cellFlag);
            if (scalars && cellFlag == 0 && format == SceneFormat::Obj) {
                vtkUnsignedCharArray* rgba = mapper->MapScalars(1.0);
                if (rgba && rgba->GetNumberOfComponents() == 4 && rgba->GetNumberOfTuples() == drawn.points)
                    drawn.rgba = rgba;
            }
        }
        colours.push_back(std::move(drawn));
    }
    if (actors == 0)
        return Fail(why, "the document holds no visible model");
    vtkNew<vtkRenderWindow> window; // never drawn: the exporters only read it
    window->AddRenderer(renderer);
    // The VRML viewpoint is the camera of the view the scene is shown in.
    if (IDocumentView* view = doc.GetView())
        if (vtkRenderer* shown = view->GetRenderer())
            renderer->GetActiveCamera()->DeepCopy(shown->GetActiveCamera());

    // A folder of our own beside the target keeps the names the files refer to.
    const qpath::Parts parts = qpath::Split(path);
    std::string folder = parts.folder + ".quarlon-export-XXXXXX";
    if (!::mkdtemp(&folder[0]))
        return Fail(why, "cannot write in " + (parts.folder.empty() ? std::string(".") : parts.folder) + ": " +
                             std::strerror(errno));
    std::vector<std::pair<std::string, std::string>> moves; // temporary -> final
    std::string error;
    bool written = false;
    auto run = [&](vtkExporter* exporter) {
        exporter->SetRenderWindow(window);
        VtkErrorCatcher errors(exporter);
        exporter->Write();
        written = !errors.HasError();
        error = errors.GetMessage();
    };
    if (format == SceneFormat::Obj) {
        const std::string prefix = folder + "/" + parts.base;
        vtkNew<vtkOBJExporter> exporter;
        exporter->SetFilePrefix(prefix.c_str());
        run(exporter);
        if (written)
            written = AddVertexColours(prefix + ".obj", colours, &error);
        moves = {{prefix + ".obj", parts.folder + parts.base + ".obj"}, {prefix + ".mtl", parts.folder + parts.base + ".mtl"}};
        // The textures: named after the target by the exporter, referred to
        // by the material file by their bare names, so they go beside it.
        for (const std::string& name : FilesIn(folder))
            if (name != parts.base + ".obj" && name != parts.base + ".mtl")
                moves.emplace_back(folder + "/" + name, parts.folder + name);
    } else {
        const std::string file = folder + "/" + parts.base + parts.extension;
        vtkNew<vtkVRMLExporter> exporter;
        exporter->SetFileName(file.c_str());
        run(exporter);
        moves = {{file, path}};
    }
    const std::vector<std::string> sources = doc.GetSourceFiles();
    for (const auto& move : moves)
        if (written && !(error = safefile::InputAsOutput(move.second, sources)).empty())
            written = false;
    for (const auto& move : moves)
        if (written && !Synced(move.first)) {
            written = false;
            error = "the file could not be completed (is the disk full?)";
        }
    bool moved = written;
    for (const auto& move : moves)
        if (moved && std::rename(move.first.c_str(), move.second.c_str()) != 0) {
            error = move.second + ": " + std::strerror(errno);
            moved = false;
        }
    for (const std::string& name : FilesIn(folder))
        std::remove((folder + "/" + name).c_str());
    ::rmdir(folder.c_str());
    if (!moved)
        return Fail(why, "cannot write " + path + (error.empty() ? std::string() : ": " + error));
    return ExportResult::Ok;
}

} // namespace exchange
