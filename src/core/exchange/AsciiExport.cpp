#include "core/exchange/AsciiExport.h"

#include "core/common/CheckedFile.h"
#include "core/common/SafeFile.h"
#include "core/common/AppSettings.h"
#include "core/common/NumberChecks.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"
#include "core/exchange/ExportSupport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"

#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace exchange {

using namespace detail;

namespace {

constexpr vtkIdType kSimulatedLines = 5;

// The array of the point data whose lower-cased name is `name`; the last
// one when several match. Null without one.
vtkDataArray* NamedArray(vtkPolyData* data, const char* name, int components)
{
    vtkDataArray* found = nullptr;
    vtkPointData* pd = data->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i) {
        vtkDataArray* a = pd->GetArray(i);
        if (a && a->GetName() && qpath::ToLower(a->GetName()) == name)
            found = a;
    }
    // Too few components or tuples would be read past the end.
    if (found && (found->GetNumberOfComponents() < components || found->GetNumberOfTuples() < data->GetNumberOfPoints()))
        return nullptr;
    return found;
}

// Builds the lines of one definition over one model.
class Composer {
public:
    Composer(const AsciiSource& source, const AsciiDefinition& def) : m_points(source.data->GetPoints())
    {
        for (int c = 0; c < 3; ++c)
            m_offset[c] = source.offset[c];
        static const char separators[kAsciiSeparators] = {' ', '\t', ',', ';', ':'};
        m_separator = separators[Clamp(def.separator, kAsciiSeparators, 0)];
        m_decimals = Clamp(def.doubleFormat, kAsciiDoubleFormats, 3); // "Eng" is seven decimals
        m_integerColours = Clamp(def.colorFormat, kAsciiColorFormats, 0) == 0;
        for (int v = 0; v < kAsciiVariables; ++v) {
            m_operator[v] = Clamp(def.formula[v], kAsciiOperators, 0);
            m_constant[v] = LeadingDouble(def.value[v]);
        }
        m_rgb = NamedArray(source.data, "rgb", 3);
        m_intensity = NamedArray(source.data, "intensity", 1);
        bool pruned[kAsciiColumns];
        PruneColumns(def.composition, pruned);
        for (int c = 0; c < kAsciiColumns; ++c) {
            if (pruned[c])
                continue;
            const int item = def.composition[c] >= 0 && def.composition[c] < kAsciiItems ? def.composition[c] : kItemBlank;
            m_items.push_back(item);
            m_needPoint = m_needPoint || (item >= kItemX && item <= kItemZ);
            if (item == kItemEndln)
                break; // nothing after the first line end is ever written
        }
    }

    // The variable whose division by zero stops the run at point i, or -1.
    int DivisionAt(vtkIdType i) const
    {
        for (int item : m_items) {
            const int v = VariableOf(item);
            if (v < 0 || !(m_operator[v] == 1 && m_constant[v] == 0.0))
                continue;
            // Empty colour and intensity columns compute nothing.
            if (v >= kAsciiR && v <= kAsciiB && !m_rgb)
                continue;
            if (v == kAsciiIntensity && Intensity(i) < 0.0)
                continue;
            return v;
        }
        return -1;
    }

    // Whether any point can stop the run; the intensity varies by point.
    bool MayDivideByZero() const
    {
        for (int item : m_items) {
            const int v = VariableOf(item);
            if (v >= 0 && m_operator[v] == 1 && m_constant[v] == 0.0)
                return true;
        }
        return false;
    }

    // Appends the line of point i.
    void Line(vtkIdType i, LineWriter& out) const
    {
        const size_t start = out.Pending(); // lines go out only at their ends
        double p[3] = {0, 0, 0};
        if (m_needPoint)
            m_points->GetPoint(i, p);
        for (int item : m_items) {
            switch (item) {
            case kItemId:
                out.Int(i + 1);
                break;
            case kItemX:
            case kItemY:
            case kItemZ: {
                const int c = item - kItemX;
                out.Fixed(Apply(c, p[c] + m_offset[c]), m_decimals);
                break;
            }
            case kItemR:
            case kItemG:
            case kItemB:
                if (m_rgb)
                    Colour(out, Apply(item - kItemX, m_rgb->GetComponent(i, item - kItemR)));
                else
                    out.Char(' ');
                break;
            case kItemIntensity: {
                const double v = Intensity(i);
                if (v < 0.0)
                    out.Char(' ');
                else
                    Colour(out, Apply(kAsciiIntensity, v) * 255.0); // the stored intensity is the value / 255
                break;
            }
            case kItemEndln:
                if (out.Pending() > start)
                    out.Unput(); // the separator after the previous column
                out.EndLine();
                return;
            default:
                out.Char(' ');
                break;
            }
            out.Char(m_separator);
        }
        out.FlushIfFull();
    }

private:
    static int Clamp(int index, int count, int fallback) { return index >= 0 && index < count ? index : fallback; }
    static int VariableOf(int item) { return item >= kItemX && item <= kItemIntensity ? item - kItemX : -1; }

    double Intensity(vtkIdType i) const { return m_intensity ? m_intensity->GetComponent(i, 0) : -1.0; }

    double Apply(int v, double x) const
    {
        const double k = m_constant[v];
        switch (m_operator[v]) {
        case 1:
            return x / k;
        case 2:
            return k + x;
        case 3:
            return x - k;
        default:
            return k * x;
        }
    }

    void Colour(LineWriter& out, double value) const
    {
        if (m_integerColours)
            out.Int(TruncateToInt(value));
        else
            out.Fixed(value, m_decimals);
    }

    vtkPoints* m_points;
    bool m_needPoint = false; // whether any column reads the coordinates
    double m_offset[3];
    char m_separator = ' ';
    int m_decimals = 3;
    bool m_integerColours = true;
    int m_operator[kAsciiVariables];
    double m_constant[kAsciiVariables];
    vtkDataArray* m_rgb = nullptr;
    vtkDataArray* m_intensity = nullptr;
    std::vector<int> m_items;
};

ExportResult Refuse(std::string* why, int variable)
{
    if (why)
        *why = DivisionByZeroMessage(variable);
    return ExportResult::Refused;
}

} // namespace

AsciiSource AsciiSourceOf(const CScanPos& model)
{
    AsciiSource source;
    vtkPolyDataMapper* mapper = model.GetMapper(kFullLevel);
    source.data = mapper ? vtkPolyData::SafeDownCast(mapper->GetInput()) : nullptr;
    if (source.data && !source.data->GetPoints())
        source.data = nullptr;
    double own[3] = {0, 0, 0}, doc[3] = {0, 0, 0};
    model.GetOffset(own);
    if (model.GetDocument())
        model.GetDocument()->GetOffset(doc);
    for (int c = 0; c < 3; ++c)
        source.offset[c] = doc[c] + own[c];
    source.files = model.GetDocument() ? model.GetDocument()->GetSourceFiles() : model.GetSourceFiles();
    return source;
}

const char* DivisionByZeroMessage(int variable)
{
    static const char* const messages[kAsciiVariables] = {
        "Division by 0 impossible for X coordinate", "Division by 0 impossible for Y coordinate",
        "Division by 0 impossible for Z coordinate", "Division by 0 impossible for R channel",
        "Division by 0 impossible for G channel",    "Division by 0 impossible for B channel",
        "Division by 0 impossible for Intensity"};
    return variable >= 0 && variable < kAsciiVariables ? messages[variable] : "";
}

ExportResult WriteAsciiExport(const AsciiSource& source, const AsciiDefinition& definition, const std::string& path,
                              IProgressSink* sink, std::string* why)
{
    if (!source.data)
        return Fail(why, "An error occurred while retrieving model points coordinates!");
    ExportProgress progress(sink);
    Composer composer(source, definition);
    const vtkIdType n = source.data->GetNumberOfPoints();
    // A division by zero stops the run before its line: find it first, so
    // that nothing is created for a run that cannot finish.
    if (composer.MayDivideByZero())
        for (vtkIdType i = 0; i < n; ++i)
            if (const int v = composer.DivisionAt(i); v >= 0)
                return Refuse(why, v);

    const std::string same = safefile::InputAsOutput(path, source.files);
    if (!same.empty())
        return Fail(why, same);
    CheckedOutputFile file;
    const std::string temp = OpenTemp(file, path, why);
    if (temp.empty())
        return ExportResult::Failed;
    LineWriter out(file.Stream());
    for (vtkIdType i = 0; i < n; ++i) {
        // Progress and abort every few thousand lines cost nothing.
        if ((i & 8191) == 0) {
            if (progress.Checkpoint(static_cast<double>(i), static_cast<double>(n)))
                return Abandon(file, temp);
            if (file.HasFailed())
                break; // a full disk: no need to format the rest
        }
        composer.Line(i, out);
    }
    out.Flush();
    progress->SetFraction(1.0);
    return Complete(file, temp, path, why);
}

bool SimulateAsciiExport(const AsciiSource& source, const AsciiDefinition& definition, std::string* text,
                         std::string* why)
{
    if (!source.data) {
        if (why)
            *why = "An error occurred while retrieving model points coordinates!";
        return false;
    }
    Composer composer(source, definition);
    const vtkIdType n = std::min<vtkIdType>(source.data->GetNumberOfPoints(), kSimulatedLines);
    std::ostringstream lines;
    LineWriter out(lines);
    for (vtkIdType i = 0; i < n; ++i) {
        if (const int v = composer.DivisionAt(i); v >= 0) {
            Refuse(why, v);
            return false;
        }
        composer.Line(i, out);
    }
    out.Flush();
    if (text)
        *text = lines.str();
    return true;
}

bool WriteAsciiExportPlain(const AsciiSource& source, const AsciiDefinition& def, const std::string& path)
{
    if (!source.data)
        return false;
    bool pruned[kAsciiColumns];
    PruneColumns(def.composition, pruned);
    static const char separators[] = {' ', '\t', ',', ';', ':'};
    const char separator = separators[def.separator];
    const int decimals = def.doubleFormat;
    vtkDataArray* rgb = NamedArray(source.data, "rgb", 3);
    vtkDataArray* intensity = NamedArray(source.data, "intensity", 1);
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    char field[512];
    auto apply = [&](int v, double x) {
        const double k = std::atof(def.value[v].c_str());
        const int op = def.formula[v];
        return op == 0 ? k * x : op == 1 ? x / k : op == 2 ? k + x : x - k;
    };
    auto colour = [&](double value) {
        if (def.colorFormat == 0)
            std::snprintf(field, sizeof field, "%d", TruncateToInt(value));
        else
            std::snprintf(field, sizeof field, "%.*f", decimals, value);
    };
    for (vtkIdType i = 0; i < source.data->GetNumberOfPoints(); ++i) {
        std::string line;
        double p[3];
        source.data->GetPoint(i, p);
        for (int c = 0; c < kAsciiColumns; ++c) {
            if (pruned[c])
                continue;
            const int item = def.composition[c] < 0 ? kItemBlank : def.composition[c];
            if (item == kItemEndln) {
                if (!line.empty())
                    line.pop_back();
                line += '\n';
                break;
            }
            if (item == kItemId) {
                std::snprintf(field, sizeof field, "%d", static_cast<int>(i + 1));
            } else if (item >= kItemX && item <= kItemZ) {
                const int k = item - kItemX;
                std::snprintf(field, sizeof field, "%.*f", decimals, apply(k, p[k] + source.offset[k]));
            } else if (item >= kItemR && item <= kItemB) {
                if (rgb)
                    colour(apply(item - kItemX, rgb->GetComponent(i, item - kItemR)));
                else
                    std::snprintf(field, sizeof field, " ");
            } else if (item == kItemIntensity) {
                const double v = intensity ? intensity->GetComponent(i, 0) : -1.0;
                if (v < 0.0)
                    std::snprintf(field, sizeof field, " ");
                else
                    colour(apply(kAsciiIntensity, v) * 255.0);
            } else {
                std::snprintf(field, sizeof field, " ");
            }
            line += field;
            line += separator;
        }
        std::fputs(line.c_str(), f);
    }
    return std::fclose(f) == 0;
}

} // namespace exchange
