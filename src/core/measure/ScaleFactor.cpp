#include "core/measure/ScaleFactor.h"

#include "core/model/CScanPos.h"

#include <vtkNew.h>
#include <vtkPolyDataMapper.h>
#include <vtkTransform.h>
#include <vtkTransformPolyDataFilter.h>

#include <cmath>
#include <cstdlib>

namespace measure {

ScaleCheck CheckScale(const std::string& currentText, const std::string& newText, double* factor)
{
    const double current = std::atof(currentText.c_str());
    const double wanted = std::atof(newText.c_str());
    if (!(wanted > 0) || !std::isfinite(wanted))
        return ScaleCheck::BadNewLength;
    if (wanted == current)
        return ScaleCheck::SameLength;
    // A zero or missing current length gives no finite factor.
    if (!(current > 0) || !std::isfinite(current))
        return ScaleCheck::NoCurrentLength;
    if (factor)
        *factor = wanted / current;
    return ScaleCheck::Ok;
}

bool ScaleModel(CScanPos* model, double factor)
{
    if (!model)
        return false;
    vtkPolyDataMapper* levels[2] = {model->GetMapper(kFullLevel), model->GetMapper(kReducedLevel)};
    if (!levels[0] || !levels[1] || !levels[0]->GetInputConnection(0, 0) || !levels[1]->GetInputConnection(0, 0))
        return false;
    for (vtkPolyDataMapper* mapper : levels) {
        vtkNew<vtkTransform> transform;
        transform->Scale(factor, factor, factor);
        vtkNew<vtkTransformPolyDataFilter> filter;
        filter->SetTransform(transform);
        // Coordinates kept as floats are scaled as the doubles they stand for.
        filter->SetOutputPointsPrecision(vtkAlgorithm::DOUBLE_PRECISION);
        filter->SetInputConnection(mapper->GetInputConnection(0, 0));
        mapper->SetInputConnection(filter->GetOutputPort());
        mapper->Update();
    }
    return true;
}

} // namespace measure
