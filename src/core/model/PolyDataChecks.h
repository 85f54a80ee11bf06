#pragma once
// What the model asks of poly data before drawing it, whichever reader made
// it.
#include <string>

class vtkPolyData;

namespace polycheck {

// Readers trust the counts a file declares; a damaged file can announce
// more points than it holds, or cells that name points that do not exist.
// Such data would be drawn from memory past its arrays: the reason to
// refuse it, or nothing.
std::string CheckConsistency(vtkPolyData* data, const std::string& file);

// Whether the vertex cells are exactly one per point, in the points' order.
bool HasOneVertexPerPoint(vtkPolyData* data);

} // namespace polycheck
