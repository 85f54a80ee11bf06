// quarlon-cli: the viewer's model and document code for scripts and batch work.
#include "core/common/Json.h"
#include "core/common/Paths.h"
#include "core/common/SafeFile.h"
#include "core/exchange/AsciiExport.h"
#include "core/exchange/MergeExport.h"
#include "core/exchange/XyzImport.h"
#include "core/formats/ForeignModel.h"
#include "core/measure/MeasureFile.h"
#include "core/measure/MeasureGeometry.h"
#include "core/common/ProgressSink.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/model/ModelSummary.h"
#include "core/model/SceneBounds.h"
#include "core/common/VtkErrorCatcher.h"

#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

// What a file or a reason quotes, made safe for a terminal and kept short.
std::string Shown(const std::string& text) { return safefile::Printable(text, 1000); }

const char* const kUsage =
    "Usage: quarlon-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  info FILE...   Load each model (.vtp, .pvtp, .vtk; also LAS, PLY, PTS, OBJ\n"
    "                 and STL files) or project file (.mvtp) as the viewer does and print one JSON object per model and\n"
    "                 line: path (the stored lower-cased path), points, cells,\n"
    "                 arrays (name, components, type), offset (document offset\n"
    "                 plus model offset), representation (index 0-17),\n"
    "                 active_array, color_map (0 direct, 1 GrayScale, 2 RedBlue,\n"
    "                 3 BlueRed), scalar_range and textured.\n"
    "                 Nothing is written beside the models.\n"
    "                 Exit status 0 when every model loaded, 1 otherwise; each\n"
    "                 failure is named on standard error with the reason.\n"
    "  import FILE... [--overwrite]\n"
    "                 Convert plain-text XYZ point clouds (X Y Z, optionally\n"
    "                 intensity and/or R G B columns) and LAS (.las), PLY, PTS,\n"
    "                 OBJ and STL files into models: FILE's folder\n"
    "                 gets NAME.vtp and its offset file NAME.vtw. An existing\n"
    "                 NAME.vtp is replaced only with --overwrite, and only after\n"
    "                 the conversion succeeded. Prints each written model's path;\n"
    "                 shows progress on standard error when it is a terminal.\n"
    "                 Exit status 0 when every file converted, 1 otherwise.\n"
    "  export --format FORMAT -o OUTPUT [--definition FILE.ini] FILE...\n"
    "                 Write the models of FILE... (one document, as the viewer\n"
    "                 opens the first and adds the others) into OUTPUT. FORMAT:\n"
    "                 obj (OUTPUT.obj and its .mtl) or vrml: the scene as the\n"
    "                 viewer draws it, visible models only;\n"
    "                 ply (ASCII) or ply-binary: all models in one PLY, each at\n"
    "                 its place, the document offset as \"comment offset\";\n"
    "                 xyzrgb: one line \"X Y Z R G B [TexX TexY Img]\" per point\n"
    "                 in the models' own coordinates;\n"
    "                 ascii: the columns of an export definition (--definition,\n"
    "                 else the one the viewer's ASCII Export stored), one model.\n"
    "                 OUTPUT is replaced only\n"
    "                 by a complete file. Exit status 0, or 1 with the reason.\n"
    "  measures PATH  Print the stored measures of a measure file (.msr), or of\n"
    "                 the measure file of a model or project file (site.mvtp ->\n"
    "                 site.msr; the model need not load): one JSON object per\n"
    "                 measure and line with name, points, length, perimeter,\n"
    "                 area_plane (on the fitted plane), area_xy and flatness_rms\n"
    "                 (RMS distance of the points from the fitted plane), as the\n"
    "                 measure dialog shows them after \"Open Measures\".\n"
    "                 A damaged measure is named on standard error and left out.\n"
    "                 Exit status 0, or 1 when a measure was refused or the file\n"
    "                 cannot be read.\n"
    "  --help         Show this text.\n";

std::string ModelJson(CScanPos* model)
{
    const model::Summary summary = model::Summarize(*model);
    std::string out = "{\"path\":" + json::Quote(model->GetPath());
    if (const CScanPos::Scan* scan = model->GetScan()) {
        out += ",\"scan\":" + json::Quote(scan->name);
        out += ",\"guid\":" + json::Quote(scan->guid);
        out += ",\"images\":" + std::to_string(scan->images);
    }
    out += ",\"points\":" + std::to_string(summary.points);
    out += ",\"cells\":" + std::to_string(summary.cells);
    out += ",\"arrays\":[";
    for (size_t i = 0; i < summary.arrays.size(); ++i) {
        const model::ArrayInfo& a = summary.arrays[i];
        out += (i ? ",{\"name\":" : "{\"name\":") + json::Quote(a.name);
        out += ",\"components\":" + std::to_string(a.components);
        out += ",\"type\":" + json::Quote(a.type) + "}";
    }
    out += "]";
    double docOffset[3], modelOffset[3], range[2];
    model->GetDocument()->GetOffset(docOffset);
    model->GetOffset(modelOffset);
    out += ",\"offset\":[" + json::Number(docOffset[0] + modelOffset[0]) + "," +
           json::Number(docOffset[1] + modelOffset[1]) + "," + json::Number(docOffset[2] + modelOffset[2]) + "]";
    out += ",\"representation\":" + std::to_string(model->GetRepresentation());
    out += ",\"active_array\":" + json::Quote(model->GetActiveArrayName());
    out += ",\"color_map\":" + std::to_string(model->GetColorMap());
    model->GetScalarRange(range);
    out += ",\"scalar_range\":[" + json::Number(range[0]) + "," + json::Number(range[1]) + "]";
    out += std::string(",\"textured\":") + (model->GetTexture() ? "true" : "false") + "}";
    return out;
}

int Info(const std::vector<std::string>& files)
{
    if (files.empty()) {
        std::cerr << "quarlon-cli info: no file given\n";
        return 2;
    }
    bool allLoaded = true;
    for (const std::string& file : files) {
        CRendererView view;
        CQuarlonDoc doc;
        doc.SetView(&view);
        doc.SetSettingsReadOnly(true);
        const bool opened = doc.OnOpenDocument(file);
        for (const std::string& line : doc.GetLoadFailureLines()) {
            std::cerr << "quarlon-cli: " << line << "\n";
            allLoaded = false;
        }
        for (const auto& note : doc.GetLoadNotes())
            std::cerr << "quarlon-cli: " << Shown(note.first) << ": " << Shown(note.second) << "\n";
        if (!opened) {
            allLoaded = false;
            continue;
        }
        CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
        while (pos) {
            CScanPos* model = doc.GetNextModel(pos);
            std::cout << ModelJson(model) << "\n";
        }
        std::cout.flush();
        doc.OnCloseDocument();
    }
    return allLoaded ? 0 : 1;
}

// Progress as a percentage on one terminal line.
class TerminalProgress : public IProgressSink {
public:
    explicit TerminalProgress(std::string name) : m_name(std::move(name)) {}
    ~TerminalProgress() override
    {
        if (m_shown)
            std::fputs("\r\033[K", stderr);
    }
    bool SetText(const std::string& text) override
    {
        m_text = text;
        return true;
    }
    void SetFraction(double fraction) override
    {
        std::fprintf(stderr, "\r%s: %s %d%%", m_name.c_str(), m_text.c_str(), ProgressPercent(fraction));
        m_shown = true;
    }
    bool IsAborted() const override { return false; }

private:
    std::string m_name, m_text;
    bool m_shown = false;
};

// One model of an import: reserved, converted by `convert`, put in place.
template <class Convert>
bool ImportModel(const std::string& file, xyz::ImportNames names, bool overwrite, bool terminal, Convert convert)
{
    std::error_code ec;
    if (std::filesystem::exists(names.finalModel, ec) && !overwrite && !safefile::SameFile(names.finalModel, names.source)) {
        std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(names.finalModel)
                  << " already exists (use --overwrite to replace it)\n";
        return false;
    }
    std::string why;
    if (!xyz::ReserveImport(names, &why)) {
        std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(why) << "\n";
        return false;
    }
    std::unique_ptr<IProgressSink> progress;
    if (terminal)
        progress = std::make_unique<TerminalProgress>(file);
    const xyz::ConvertResult result = convert(names.tempModel, progress.get(), &why);
    progress.reset();
    if (result != xyz::ConvertResult::Ok || !xyz::FinishImport(names, &why, overwrite)) {
        xyz::DiscardImport(names);
        std::cerr << "Error converting the file. Please check input format.\n"
                  << "quarlon-cli: " << Shown(file) << (why.empty() ? std::string() : ": " + Shown(why)) << "\n";
        return false;
    }
    std::cout << names.finalModel << std::endl;
    return true;
}

// A file of several scans: NAME_1.vtp ... NAME_N.vtp and the project
// NAME.mvtp that opens them under one offset.
bool ImportScans(const std::string& file, const std::string& source, size_t scans, bool overwrite, bool terminal)
{
    const qpath::Parts parts = qpath::Split(source);
    const std::string project = parts.folder + parts.base + ".mvtp";
    std::error_code ec;
    if (std::filesystem::exists(project, ec) && !overwrite) {
        std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(project)
                  << " already exists (use --overwrite to replace it)\n";
        return false;
    }
    std::vector<std::string> models;
    for (size_t i = 0; i < scans; ++i) {
        const xyz::ImportNames names = xyz::PlanImport(source, static_cast<int>(i + 1));
        const bool ok = ImportModel(file, names, overwrite, terminal,
                                    [&](const std::string& out, IProgressSink* progress, std::string* why) {
                                        return xyz::ConvertScan(file, i, out, progress, why);
                                    });
        if (!ok)
            return false;
        models.push_back(names.baseName + ".vtp");
    }
    std::string why;
    if (!xyz::WriteProjectFile(project, models, overwrite, &why)) {
        std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(why) << "\n";
        return false;
    }
    std::cout << project << std::endl;
    return true;
}

int Import(const std::vector<std::string>& args)
{
    bool overwrite = false;
    std::vector<std::string> files;
    for (const std::string& a : args) {
        if (a == "--overwrite")
            overwrite = true;
        else
            files.push_back(a);
    }
    if (files.empty()) {
        std::cerr << "quarlon-cli import: no file given\n";
        return 2;
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool allConverted = true;
    for (const std::string& file : files) {
        const std::string source = std::filesystem::absolute(file).string();
        if (foreign::HoldsScans(qpath::ToLower(qpath::Split(source).extension))) {
            std::vector<foreign::ScanEntry> scans;
            std::string why;
            if (foreign::ListScans(source, scans, &why) != foreign::Result::Ok || scans.empty()) {
                std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(scans.empty() && why.empty() ? "the file holds no scans" : why) << "\n";
                allConverted = false;
                continue;
            }
            if (scans.size() > 1) {
                allConverted = ImportScans(file, source, scans.size(), overwrite, terminal) && allConverted;
                continue;
            }
        }
        allConverted = ImportModel(file, xyz::PlanImport(source), overwrite, terminal,
                                   [&](const std::string& out, IProgressSink* progress, std::string* why) {
                                       return xyz::ConvertFile(file, out, progress, why);
                                   }) &&
                       allConverted;
    }
    return allConverted ? 0 : 1;
}

int Export(const std::vector<std::string>& args)
{
    std::string format, output, definition;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format" && i + 1 < args.size())
            format = args[++i];
        else if (args[i] == "--definition" && i + 1 < args.size())
            definition = args[++i];
        else if (args[i] == "-o" && i + 1 < args.size())
            output = args[++i];
        else
            inputs.push_back(args[i]);
    }
    const bool known = format == "ply" || format == "ply-binary" || format == "xyzrgb" || format == "obj" ||
                       format == "vrml" || format == "ascii";
    if (!known || output.empty() || inputs.empty() || (!definition.empty() && format != "ascii")) {
        std::cerr << "quarlon-cli export: give --format obj|ply|ply-binary|vrml|xyzrgb|ascii, -o OUTPUT and at least "
                     "one file (--definition FILE.ini only with ascii)\n";
        return 2;
    }
    if (format == "ascii" && !definition.empty() && !qpath::IsExistingFile(definition)) {
        std::cerr << "quarlon-cli: " << definition << ": no such definition file\n";
        return 1;
    }
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    doc.SetSettingsReadOnly(true);
    bool ok = doc.OnOpenDocument(inputs[0]);
    for (size_t i = 1; ok && i < inputs.size(); ++i)
        ok = doc.AddModel(std::filesystem::absolute(inputs[i]).string()) != nullptr;
    for (const std::string& line : doc.GetLoadFailureLines())
        std::cerr << "quarlon-cli: " << line << "\n";
    if (!ok || doc.GetModelCount() == 0) {
        std::cerr << "quarlon-cli: nothing written\n";
        return 1;
    }
    // The scene as the viewer first shows it: from the top.
    SetTopView(view.GetRenderer());
    std::string why;
    exchange::ExportResult result;
    if (format == "ascii") {
        if (doc.GetModelCount() != 1) {
            std::cerr << "quarlon-cli: the ascii format exports one model; the document holds "
                      << doc.GetModelCount() << "\n";
            return 1;
        }
        const exchange::AsciiDefinition def = exchange::ReadAsciiDefinition(
            definition.empty() ? exchange::AsciiDefinitionFileToRead() : definition);
        CQuarlonDoc::Position pos = doc.GetFirstModelPosition();
        exchange::AsciiSource source = exchange::AsciiSourceOf(*doc.GetNextModel(pos));
        if (!definition.empty())
            source.files.push_back(definition);
        result = exchange::WriteAsciiExport(source, def, output, nullptr, &why);
    } else if (format == "xyzrgb")
        result = exchange::WriteXyzRgbListing(doc, output, nullptr, &why);
    else if (format == "obj" || format == "vrml")
        result = exchange::WriteScene(doc, std::filesystem::absolute(output).string(),
                                      format == "obj" ? exchange::SceneFormat::Obj : exchange::SceneFormat::Vrml,
                                      nullptr, &why);
    else
        result = exchange::WriteMergedPly(doc, output, format == "ply-binary", nullptr, &why);
    doc.OnCloseDocument();
    if (result != exchange::ExportResult::Ok) {
        std::cerr << "quarlon-cli: " << Shown(why) << "\n";
        return 1;
    }
    return 0;
}

int Measures(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::cerr << "quarlon-cli measures: give one measure, model or project file\n";
        return 2;
    }
    const std::string given = std::filesystem::absolute(args[0]).string();
    const std::string file = qpath::ToLower(qpath::Split(given).extension) == ".msr" ? given
                                                                                     : measure::MeasureFilePath(given);
    if (!qpath::IsExistingFile(file)) {
        std::cerr << "quarlon-cli: " << file << ": no such measure file\n";
        return 1;
    }
    measure::MeasureMap measures;
    std::string why;
    std::vector<measure::MeasureDamage> damaged;
    if (!measure::ReadMeasureFile(file, measures, &why, &damaged)) {
        std::cerr << "quarlon-cli: " << Shown(why) << "\n";
        return 1;
    }
    bool refused = !damaged.empty();
    std::set<std::string> partial;
    for (const measure::MeasureDamage& d : damaged) {
        if (d.name.empty()) {
            std::cerr << "quarlon-cli: " << Shown(file) << ": " << Shown(d.why) << "\n";
            continue;
        }
        std::cerr << "quarlon-cli: " << Shown(file) << ": measure \"" << Shown(d.name) << "\": " << Shown(d.why)
                  << "\n";
        partial.insert(d.name);
    }
    for (const auto& [name, text] : measures) {
        if (partial.count(name))
            continue; // its figures would be those of fewer points
        std::vector<measure::MeasurePointsData> records;
        if (!measure::ParseMeasure(text, records, &why)) {
            std::cerr << "quarlon-cli: " << Shown(file) << ": measure \"" << Shown(name) << "\": " << Shown(why) << "\n";
            refused = true;
            continue;
        }
        // As the dialog lists them: sorted by Id, three decimals.
        std::vector<measure::Point3d> points;
        for (const auto& r : records)
            points.push_back({measure::AsListed(r.x), measure::AsListed(r.y), measure::AsListed(r.z)});
        const measure::Figures f = measure::Compute(points, nullptr);
        std::cout << "{\"name\":" << json::Quote(name) << ",\"points\":" << points.size()
                  << ",\"length\":" << json::Number(f.length) << ",\"perimeter\":" << json::Number(f.perimeter)
                  << ",\"area_plane\":" << json::Number(f.areaPlane) << ",\"area_xy\":" << json::Number(f.areaXY)
                  << ",\"flatness_rms\":" << json::Number(f.flatnessRms) << "}\n";
    }
    std::cout.flush();
    return refused ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    SilenceVtkOutput();
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = argv[1];
    std::vector<std::string> rest(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "info")
        return Info(rest);
    if (command == "import")
        return Import(rest);
    if (command == "measures")
        return Measures(rest);
    if (command == "export")
        return Export(rest);
    std::cerr << "quarlon-cli: unknown command '" << command << "'\n\n" << kUsage;
    return 2;
}
