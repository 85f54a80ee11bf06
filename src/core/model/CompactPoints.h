#pragma once
// Coordinates kept no wider than their values need. A model whose every
// coordinate is a 32-bit float already (binary PLY, STL and most meshes of
// photogrammetry; model files saved from them) gains nothing from doubles:
// its coordinates are kept as floats, the very same values, so everything
// listed, measured, exported or picked stays as it was, at half the memory.
class vtkPoints;

namespace compact {

// Turns `points`' double coordinates into floats in their own memory when
// every one of them is a float's value exactly; false (and nothing
// changed) when one is not, the array is shared, or not of doubles.
bool FloatsWhereExact(vtkPoints* points);

} // namespace compact
