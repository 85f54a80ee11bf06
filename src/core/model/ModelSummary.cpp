#include "core/model/ModelSummary.h"

#include "core/common/Paths.h"
#include "core/model/CScanPos.h"

#include <vtkAbstractArray.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>

namespace model {

namespace {
vtkPolyData* FullLevel(const CScanPos& model)
{
    vtkPolyDataMapper* mapper = model.GetMapper(kFullLevel);
    return mapper ? vtkPolyData::SafeDownCast(mapper->GetInput()) : nullptr;
}
} // namespace

Summary Summarize(const CScanPos& model)
{
    Summary s;
    vtkPolyData* data = FullLevel(model);
    if (!data)
        return s;
    s.points = data->GetNumberOfPoints();
    s.cells = data->GetNumberOfCells() + (model.HasImplicitVertices() ? data->GetNumberOfPoints() : 0);
    vtkPointData* pd = data->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i)
        if (vtkAbstractArray* a = pd->GetAbstractArray(i))
            s.arrays.push_back({a->GetName() ? a->GetName() : "", a->GetNumberOfComponents(), a->GetDataTypeAsString()});
    return s;
}

bool AttributeRange(const CScanPos& model, const std::string& name, double range[2])
{
    vtkPolyData* data = FullLevel(model);
    vtkDataArray* array = data ? data->GetPointData()->GetArray(name.c_str()) : nullptr;
    if (!array || array->GetNumberOfTuples() == 0)
        return false;
    array->GetRange(range, 0);
    return true;
}

AttributeClass ClassOf(const std::string& attribute)
{
    const std::string lower = qpath::ToLower(attribute);
    if (lower == "rgb" || lower == "gray" || lower == "albedo")
        return AttributeClass::Direct;
    if (lower == "user defined")
        return AttributeClass::Solid;
    if (lower == "scanpos" || lower == "texture")
        return AttributeClass::Special;
    return AttributeClass::Scalar;
}

} // namespace model
