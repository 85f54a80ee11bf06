// How a model is shown: its representation, the array that colours it,
// the colour map and the solid colour, on both levels of detail.
#include "core/model/CScanPos.h"

#include "core/common/Paths.h"

#include <vtkDataArray.h>
#include <vtkLODProp3D.h>
#include <vtkLookupTable.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkTexture.h>

#include <string>

namespace {

int VtkStyle(representation::Style style)
{
    switch (style) {
    case representation::Style::Points: return VTK_POINTS;
    case representation::Style::Wireframe: return VTK_WIREFRAME;
    case representation::Style::Surface: break;
    }
    return VTK_SURFACE;
}

} // namespace

bool CScanPos::SetRepresentation(int index)
{
    if (!m_pActor || !m_pFullMapper || !m_pReducedMapper)
        return false;
    bool hasRgb = false, hasIntensity = false, hasTexture = false;
    vtkPolyData* data = GetPolyData();
    if (data) {
        vtkPointData* pd = data->GetPointData();
        for (int i = 0; i < pd->GetNumberOfArrays(); ++i) {
            const char* name = pd->GetArrayName(i);
            const std::string lower = qpath::ToLower(name ? name : "");
            hasRgb = hasRgb || lower == "rgb";
            hasIntensity = hasIntensity || lower == "intensity";
            hasTexture = hasTexture || lower == "texture";
        }
    }
    const bool hasPolygons = data && data->GetPolys() != nullptr;
    vtkProperty* full = LevelProperty(kFullLevel);
    vtkProperty* reduced = LevelProperty(kReducedLevel);
    if (!full || !reduced)
        return false;

    m_nRepresentation = index;
    if (!representation::IsValid(index))
        return true;
    const representation::Row& row = representation::At(index);
    bool ok = true;
    switch (row.colouring) {
    case representation::Colouring::Rgb: ok = hasRgb; break;
    case representation::Colouring::Intensity: ok = hasIntensity; break;
    case representation::Colouring::Texture: ok = hasTexture && m_pTexture != nullptr; break;
    case representation::Colouring::OneColor: break;
    }
    if (row.style != representation::Style::Points && !hasPolygons)
        ok = false;
    if (!ok)
        return false;

    full->SetRepresentation(VtkStyle(row.style));
    reduced->SetRepresentation(VtkStyle(row.style));
    m_nColorMap = row.colorMap;
    SetColorArray(row.array);
    return true;
}

void CScanPos::SetColorArray(const char* name, const double* range, const int* component)
{
    vtkPolyDataMapper* mappers[2] = {m_pFullMapper, m_pReducedMapper};
    if (!name || !*name) {
        for (vtkPolyDataMapper* mapper : mappers) {
            if (!mapper)
                continue;
            if (vtkPolyData* input = vtkPolyData::SafeDownCast(mapper->GetInput())) {
                input->GetPointData()->SetActiveAttribute(-1, vtkDataSetAttributes::SCALARS);
                input->GetPointData()->SetActiveAttribute(-1, vtkDataSetAttributes::TCOORDS);
            }
            mapper->ScalarVisibilityOff();
        }
        m_strActiveArray.clear();
        SetColor(m_nColor);
        return;
    }

    SetColor(0xFFFFFF);
    vtkPolyData* data = GetPolyData();
    vtkDataArray* array = data ? data->GetPointData()->GetArray(name) : nullptr;
    if (!m_pFullMapper || !array)
        return;
    m_strActiveArray = std::string(name).substr(0, 511);
    const std::string lower = qpath::ToLower(m_strActiveArray);

    if (lower == "texture") {
        for (vtkPolyDataMapper* mapper : mappers) {
            if (!mapper)
                continue;
            if (vtkPolyData* input = vtkPolyData::SafeDownCast(mapper->GetInput())) {
                input->GetPointData()->SetActiveAttribute(-1, vtkDataSetAttributes::SCALARS);
                input->GetPointData()->SetActiveTCoords(name);
            }
            mapper->ScalarVisibilityOff();
        }
        if (m_pActor) {
            m_pActor->SetLODTexture(kFullLevel, m_pTexture);
            m_pActor->SetLODTexture(kReducedLevel, m_pTexture);
        }
    } else {
        if (lower != "rgb" && lower != "gray" && lower != "albedo") {
            if (range) {
                m_dScalarRange[0] = range[0];
                m_dScalarRange[1] = range[1];
            } else {
                const int c = component ? *component : -1;
                if (c < -1 || c >= array->GetNumberOfComponents() || array->GetNumberOfTuples() == 0) {
                    m_dScalarRange[0] = 0.0;
                    m_dScalarRange[1] = 1.0;
                } else {
                    array->GetRange(m_dScalarRange, c);
                }
            }
        }
        if (m_pActor) {
            m_pActor->SetLODTexture(kFullLevel, nullptr);
            m_pActor->SetLODTexture(kReducedLevel, nullptr);
        }
        if (m_pLookupTable)
            m_pLookupTable->SetTableRange(m_dScalarRange);
        for (vtkPolyDataMapper* mapper : mappers) {
            if (!mapper)
                continue;
            if (vtkPolyData* input = vtkPolyData::SafeDownCast(mapper->GetInput())) {
                input->GetPointData()->SetActiveScalars(name);
                input->GetPointData()->SetActiveAttribute(-1, vtkDataSetAttributes::TCOORDS);
            }
            mapper->SetScalarModeToUsePointData();
            mapper->SetScalarRange(m_dScalarRange);
            mapper->ScalarVisibilityOn();
        }
    }
    SetColorMap(m_nColorMap);
}

void CScanPos::SetColorMap(int index)
{
    static const double kHsv[4][6] = {
        {0, 0, 0, 0, 0, 0},
        {0.0, 0.0, 0.0, 0.0, 0.0, 1.0},       // GrayScale
        {0.0, 0.6667, 1.0, 1.0, 1.0, 1.0},    // RedBlue
        {0.6667, 0.0, 1.0, 1.0, 1.0, 1.0},    // BlueRed
    };
    if (index == ColorMapDirect) {
        if (qpath::ToLower(m_strActiveArray) != "texture") {
            if (m_pFullMapper)
                m_pFullMapper->SetLookupTable(nullptr);
            if (m_pReducedMapper)
                m_pReducedMapper->SetLookupTable(nullptr);
        }
        m_nColorMap = ColorMapDirect;
        return;
    }
    if (index < ColorMapGrayScale || index > ColorMapBlueRed || !m_pLookupTable)
        return;
    const double* hsv = kHsv[index];
    m_pLookupTable->SetHueRange(hsv[0], hsv[1]);
    m_pLookupTable->SetSaturationRange(hsv[2], hsv[3]);
    m_pLookupTable->SetValueRange(hsv[4], hsv[5]);
    m_pLookupTable->ForceBuild();
    if (m_pFullMapper)
        m_pFullMapper->SetLookupTable(m_pLookupTable);
    if (m_pReducedMapper)
        m_pReducedMapper->SetLookupTable(m_pLookupTable);
    m_nColorMap = index;
}

void CScanPos::SetColor(unsigned int colour)
{
    if (!m_pActor)
        return;
    m_nColor = colour & 0xFFFFFF;
    const double r = (colour & 0xFF) / 255.0;
    const double g = ((colour >> 8) & 0xFF) / 255.0;
    const double b = ((colour >> 16) & 0xFF) / 255.0;
    for (int level : {kFullLevel, kReducedLevel})
        if (vtkProperty* p = LevelProperty(level))
            p->SetColor(r, g, b);
}

void CScanPos::UpdateRepresentationIndex()
{
    vtkProperty* full = LevelProperty(kFullLevel);
    if (!full)
        return;
    using representation::Colouring;
    const representation::Style style = full->GetRepresentation() == VTK_POINTS      ? representation::Style::Points
                                        : full->GetRepresentation() == VTK_WIREFRAME ? representation::Style::Wireframe
                                                                                     : representation::Style::Surface;
    const std::string lower = qpath::ToLower(m_strActiveArray);
    int index;
    if (lower == "rgb") {
        index = representation::IndexOf(style, Colouring::Rgb);
    } else if (lower == "texture" && m_nColorMap == ColorMapDirect) {
        // Texture colouring has indices of its own (surface 15, points 16, wireframe 17).
        index = representation::IndexOf(style, Colouring::Texture);
    } else if (m_nColorMap >= ColorMapGrayScale && m_nColorMap <= ColorMapBlueRed) {
        index = representation::IndexOf(style, Colouring::Intensity, m_nColorMap);
    } else {
        index = representation::IndexOf(style, Colouring::OneColor);
    }
    m_nRepresentation = index;
}
