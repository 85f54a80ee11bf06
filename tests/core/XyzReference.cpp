#include "XyzReference.h"

#include "core/formats/XyzFormat.h"

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkTransform.h>
#include <vtkTransformPolyDataFilter.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The file as a text-mode stream reads it.
std::string TextModeContents(const std::string& path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string raw = s.str();
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text += raw[i];
    }
    return text;
}

void Lower(char* s)
{
    for (; *s; ++s)
        *s = static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
}

} // namespace

bool ReferenceRead(const std::string& path, ReferenceCloud& cloud)
{
    bool ok = false;
    std::string text = TextModeContents(path, ok);
    if (!ok || text.empty())
        return false;
    FILE* f = fmemopen(text.data(), text.size(), "r");
    if (!f)
        return false;
    char line[512];
    bool header = false;
    if (!std::fgets(line, sizeof line, f)) {
        std::fclose(f);
        return false;
    }
    Lower(line);
    if (std::strstr(line, "_3dpoly")) {
        header = true;
        if (!std::fgets(line, sizeof line, f)) {
            std::fclose(f);
            return false;
        }
    }
    char separator = 0;
    const int code = xyz::DetectXyzLineFormat(line, &separator);
    if (code < 0) {
        std::fclose(f);
        return false;
    }
    cloud.code = code;
    const std::string format = xyz::ScanFormat(code, separator);
    std::rewind(f);
    if (header)
        std::fgets(line, sizeof line, f);
    const int want = xyz::ValuesPerLine(code);
    while (std::fgets(line, sizeof line, f)) {
        double x = 0, y = 0, z = 0, d[4] = {0, 0, 0, 0};
        int i[4] = {0, 0, 0, 0};
        int n = 0;
        switch (code) {
        case 0: n = std::sscanf(line, format.c_str(), &x, &y, &z); break;
        case 1: n = std::sscanf(line, format.c_str(), &x, &y, &z, &i[3]); break;
        case 2: n = std::sscanf(line, format.c_str(), &x, &y, &z, &d[3]); break;
        case 3: n = std::sscanf(line, format.c_str(), &x, &y, &z, &i[0], &i[1], &i[2]); break;
        case 4: n = std::sscanf(line, format.c_str(), &x, &y, &z, &d[0], &d[1], &d[2]); break;
        case 5: n = std::sscanf(line, format.c_str(), &x, &y, &z, &i[0], &i[1], &i[2], &i[3]); break;
        case 6: n = std::sscanf(line, format.c_str(), &x, &y, &z, &i[0], &i[1], &i[2], &d[3]); break;
        case 7: n = std::sscanf(line, format.c_str(), &x, &y, &z, &d[0], &d[1], &d[2], &i[3]); break;
        case 8: n = std::sscanf(line, format.c_str(), &x, &y, &z, &d[0], &d[1], &d[2], &d[3]); break;
        }
        if (n != want) {
            Lower(line);
            if (std::strchr(line, 's'))
                continue;
            break;
        }
        cloud.points.insert(cloud.points.end(), {x, y, z});
        if (xyz::HasColour(code))
            for (int k = 0; k < 3; ++k)
                cloud.rgb.push_back(xyz::IntegerColour(code) ? xyz::ColourFromInteger(i[k]) : xyz::ColourFromReal(d[k]));
        if (xyz::HasIntensity(code))
            cloud.intensity.push_back(xyz::IntegerIntensity(code) ? xyz::IntensityFromInteger(i[3])
                                                                  : xyz::IntensityFromReal(d[3]));
    }
    std::fclose(f);
    return true;
}

bool ReferenceConvert(const std::string& source, const std::string& output)
{
    ReferenceCloud cloud;
    if (!ReferenceRead(source, cloud))
        return false;
    const vtkIdType n = static_cast<vtkIdType>(cloud.points.size() / 3);
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    vtkNew<vtkCellArray> verts;
    vtkNew<vtkUnsignedCharArray> rgb;
    rgb->SetName("RGB");
    rgb->SetNumberOfComponents(3);
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("Intensity");
    for (vtkIdType p = 0; p < n; ++p) {
        const vtkIdType id = points->InsertNextPoint(&cloud.points[3 * p]);
        verts->InsertNextCell(1, &id);
        if (!cloud.rgb.empty())
            rgb->InsertNextTypedTuple(&cloud.rgb[3 * p]);
        if (!cloud.intensity.empty())
            intensity->InsertNextValue(cloud.intensity[p]);
    }
    vtkNew<vtkPolyData> poly;
    poly->SetPoints(points);
    poly->SetVerts(verts);
    if (!cloud.rgb.empty())
        poly->GetPointData()->SetScalars(rgb);
    if (!cloud.intensity.empty()) {
        if (cloud.rgb.empty())
            poly->GetPointData()->SetScalars(intensity);
        else
            poly->GetPointData()->AddArray(intensity);
    }
    double b[6];
    poly->GetBounds(b);
    const double c[3] = {(b[0] + b[1]) / 2, (b[2] + b[3]) / 2, (b[4] + b[5]) / 2};
    {
        const std::string vtw = output.substr(0, output.rfind('.')) + ".vtw";
        FILE* f = std::fopen(vtw.c_str(), "wb");
        if (!f)
            return false;
        std::fprintf(f, "[PolyData Offset]\r\nX=%lf\r\nY=%lf\r\nZ=%lf\r\n", c[0], c[1], c[2]);
        std::fclose(f);
    }
    vtkNew<vtkTransform> t;
    t->Translate(-c[0], -c[1], -c[2]);
    vtkNew<vtkTransformPolyDataFilter> filter;
    filter->SetTransform(t);
    filter->SetInputData(poly);
    filter->SetOutputPointsPrecision(vtkAlgorithm::DOUBLE_PRECISION);
    filter->Update();
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputConnection(filter->GetOutputPort());
    writer->SetFileName(output.c_str());
    writer->SetDataModeToBinary();
    return writer->Write() == 1;
}
