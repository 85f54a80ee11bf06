#pragma once
// Picks that snap to the models' own geometry instead of the depth buffer:
// an actual point of a cloud (of the front-most surface near the cursor),
// the exact intersection of the view ray with a mesh's triangles, or a
// mesh's corner or edge. Computed in double precision on the model's
// arrays; the depth buffer only says what is visible.
#include <vector>

class vtkPolyData;

namespace snap {

enum class Mode { Off = 0, Points = 1, CornersAndEdges = 2 };
enum class Kind { None, Depth, Point, Vertex, Edge, Surface };

// "depth", "point", "vertex", "edge", "surface" ("" for none).
const char* KindName(Kind kind);

// Search radii, in device pixels.
constexpr double kPointRing = 16.0;
constexpr double kVertexRing = 12.0;
constexpr double kEdgeRing = 8.0;

struct View {
    double worldToClip[16] = {}; // row-major: render coordinates to clip space
    int width = 0, height = 0;   // device pixels
    double cursor[2] = {0, 0};   // device pixels, y upwards, at the pixel's centre
    // The models' depth (width x height, 0 near .. 1 far; 1 where nothing
    // is drawn): what is visible. None: everything counts as visible.
    const float* depth = nullptr;
};

struct Model {
    vtkPolyData* data = nullptr;
    double toRender[16] = {}; // row-major: model to render coordinates
};

struct Result {
    Kind kind = Kind::None;
    double point[3] = {0, 0, 0}; // render coordinates
};

// The snapped pick among `models` for `mode` (Off gives None).
Result Snap(const std::vector<Model>& models, const View& view, Mode mode);

} // namespace snap
