#include "core/measure/ScaleFactor.h"

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

} // namespace measure
