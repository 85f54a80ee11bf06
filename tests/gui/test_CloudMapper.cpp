// The cloud mapper draws what VTK's mapper draws: the same pixels for every
// colouring the program uses (RGB, grey, intensity through each colour map,
// one colour, larger points) and for textured meshes (lit by the headlight
// on facet or point normals, or unlit), in slices or at once; what it does
// not draw itself it leaves to VTK's mapper.
#include "core/model/vtkCloudMapper.h"

#include <gtest/gtest.h>

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkLookupTable.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkImageData.h>
#include <vtkPolyDataNormals.h>
#include <vtkTexture.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A grid of 60 x 40 points, 2 units apart, with colours, a grey byte and an
// intensity ramp with a NaN; `vertices` adds one vertex cell per point.
vtkSmartPointer<vtkPolyData> Cloud(bool vertices)
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    vtkNew<vtkUnsignedCharArray> rgb, grey;
    rgb->SetName("RGB");
    rgb->SetNumberOfComponents(3);
    grey->SetName("gray");
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("Intensity");
    vtkNew<vtkCellArray> verts;
    for (int j = 0; j < 40; ++j)
        for (int i = 0; i < 60; ++i) {
            const vtkIdType id = points->InsertNextPoint(2.0 * i - 59.0, 2.0 * j - 39.0, 0.1 * ((i * 7 + j) % 5));
            rgb->InsertNextTuple3((i * 37) % 256, (j * 59) % 256, (i * j) % 256);
            grey->InsertNextValue(static_cast<unsigned char>((i * 11 + j * 3) % 256));
            intensity->InsertNextValue(i == 5 && j == 5 ? std::nanf("") : static_cast<float>(i * 40 + j * 3));
            verts->InsertNextCell(1, &id);
        }
    data->SetPoints(points);
    if (vertices)
        data->SetVerts(verts);
    data->GetPointData()->AddArray(rgb);
    data->GetPointData()->AddArray(grey);
    data->GetPointData()->AddArray(intensity);
    return data;
}

struct Colouring {
    const char* name;
    const char* array;      // null: one colour
    int colourMap;          // lookup table hue range: 0 grey, 1 red-blue, 2 blue-red
    float pointSize;
};

void Setup(vtkPolyDataMapper* mapper, vtkActor* actor, const Colouring& c, vtkLookupTable* table)
{
    if (!c.array) {
        mapper->ScalarVisibilityOff();
        actor->GetProperty()->SetColor(0.9, 0.4, 0.1);
    } else {
        mapper->ScalarVisibilityOn();
        mapper->SetScalarModeToUsePointFieldData();
        mapper->SelectColorArray(c.array);
        mapper->SetScalarRange(100.0, 2000.0);
        mapper->SetLookupTable(table);
    }
    actor->GetProperty()->SetRepresentationToPoints();
    actor->GetProperty()->SetPointSize(c.pointSize);
}

// `actor` drawn off screen in a window of its own, the camera fitted and
// zoomed: RGB bytes.
std::vector<unsigned char> Snapshot(vtkActor* actor, double zoom, bool parallel = false)
{
    vtkNew<vtkRenderWindow> window;
    window->SetOffScreenRendering(1);
    window->SetSize(200, 150);
    window->SetMultiSamples(0);
    vtkNew<vtkRenderer> renderer;
    renderer->SetBackground(0, 0, 0);
    window->AddRenderer(renderer);
    renderer->AddActor(actor);
    renderer->ResetCamera();
    renderer->GetActiveCamera()->SetParallelProjection(parallel);
    renderer->GetActiveCamera()->Zoom(zoom);
    window->Render();
    std::vector<unsigned char> pixels(200 * 150 * 3);
    unsigned char* read = window->GetPixelData(0, 0, 199, 149, 1);
    std::copy(read, read + pixels.size(), pixels.begin());
    delete[] read;
    return pixels;
}

// How two pictures differ: pixels lit in the expected one, bytes off by
// more than `tolerance`, and the largest difference.
struct Difference {
    size_t lit = 0, differ = 0;
    int worst = 0;
};

Difference Compare(const std::vector<unsigned char>& got, const std::vector<unsigned char>& expected, int tolerance)
{
    Difference d;
    for (size_t i = 0; i < got.size(); ++i) {
        d.lit += expected[i] != 0;
        const int off = std::abs(int(got[i]) - int(expected[i]));
        d.differ += off > tolerance;
        d.worst = std::max(d.worst, off);
    }
    return d;
}

// The picture of `data` drawn by `mapper` from above: RGB bytes.
std::vector<unsigned char> Draw(vtkPolyDataMapper* mapper, vtkPolyData* data, const Colouring& c, vtkLookupTable* table)
{
    mapper->SetInputData(data);
    vtkNew<vtkActor> actor;
    actor->SetMapper(mapper);
    actor->SetPosition(3.0, -2.0, 0.0); // a model offset: the actor's matrix counts
    Setup(mapper, actor, c, table);
    return Snapshot(actor, 1.3);
}

vtkSmartPointer<vtkLookupTable> Table(int colourMap)
{
    auto table = vtkSmartPointer<vtkLookupTable>::New();
    table->SetNumberOfColors(256);
    if (colourMap == 0) {
        table->SetHueRange(0, 0);
        table->SetSaturationRange(0, 0);
        table->SetValueRange(0, 1);
    } else if (colourMap == 1) {
        table->SetHueRange(0, 0.667);
    } else {
        table->SetHueRange(0.667, 0);
    }
    table->SetNanColor(1, 0, 1, 1);
    table->Build();
    return table;
}

} // namespace

TEST(CloudMapper, DrawsThePixelsVtksMapperDraws)
{
    const Colouring colourings[] = {
        {"RGB", "RGB", 0, 1}, {"grey bytes", "gray", 0, 1}, {"intensity grey", "Intensity", 0, 1},
        {"intensity red-blue", "Intensity", 1, 2}, {"intensity blue-red", "Intensity", 2, 1},
        {"one colour", nullptr, 0, 3},
    };
    vtkSmartPointer<vtkPolyData> withCells = Cloud(true);
    vtkSmartPointer<vtkPolyData> bare = Cloud(false);
    for (const Colouring& c : colourings) {
        SCOPED_TRACE(c.name);
        vtkSmartPointer<vtkLookupTable> table = Table(c.colourMap);
        vtkNew<vtkPolyDataMapper> vtk;
        const std::vector<unsigned char> expected = Draw(vtk, withCells, c, table);
        for (int streaming : {0, 1})
        for (long long slice : {1LL << 20, 7LL}) {
            vtkNew<vtkCloudMapper> ours;
            ours->SetSliceSize(slice);
            ours->SetStreaming(streaming);
            // Our mapper needs no vertex cells.
            const std::vector<unsigned char> got = Draw(ours, bare, c, table);
            EXPECT_FALSE(ours->LastDrawnByVtk());
            const Difference d = Compare(got, expected, 2);
            EXPECT_GT(d.lit, 2000u) << "the points are drawn";
            EXPECT_EQ(d.differ, 0u) << "slice " << slice << ", streaming " << streaming << ", largest difference "
                                    << d.worst;
        }
    }
}

TEST(CloudMapper, LeavesWhatItDoesNotDrawToVtksMapper)
{
    vtkSmartPointer<vtkPolyData> data = Cloud(true);
    vtkSmartPointer<vtkLookupTable> table = Table(0);
    // Translucent points: VTK's mapper, with its blending.
    {
        vtkNew<vtkCloudMapper> ours;
        vtkNew<vtkRenderWindow> window;
        window->SetOffScreenRendering(1);
        window->SetSize(100, 80);
        vtkNew<vtkRenderer> renderer;
        window->AddRenderer(renderer);
        ours->SetInputData(data);
        vtkNew<vtkActor> actor;
        actor->SetMapper(ours);
        actor->GetProperty()->SetOpacity(0.5);
        renderer->AddActor(actor);
        renderer->ResetCamera();
        window->Render();
        EXPECT_TRUE(ours->LastDrawnByVtk());
        actor->GetProperty()->SetOpacity(1.0);
        window->Render();
        EXPECT_FALSE(ours->LastDrawnByVtk());
    }
    // A mesh among the points: VTK's mapper draws it, the same pixels.
    vtkNew<vtkCellArray> polys;
    const vtkIdType triangle[3] = {0, 59, 2399};
    polys->InsertNextCell(3, triangle);
    data->SetPolys(polys);
    const Colouring rgb{"RGB", "RGB", 0, 1};
    vtkNew<vtkPolyDataMapper> vtk;
    vtkNew<vtkCloudMapper> ours;
    const std::vector<unsigned char> expected = Draw(vtk, data, rgb, table);
    EXPECT_EQ(Draw(ours, data, rgb, table), expected);
    EXPECT_TRUE(ours->LastDrawnByVtk());
}

namespace {

enum class Layout { Rows, Shuffled, Narrow };

// A wavy grid of 31 x 21 corners in triangles with texture coordinates;
// `normals` adds point normals. The triangles go row by row with 64-bit
// indices, or in a shuffled order, or row by row with 32-bit indices.
vtkSmartPointer<vtkPolyData> Mesh(bool normals, Layout layout = Layout::Rows)
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    vtkNew<vtkFloatArray> tcoords;
    tcoords->SetName("Texture");
    tcoords->SetNumberOfComponents(2);
    vtkNew<vtkCellArray> polys;
    for (int j = 0; j <= 20; ++j)
        for (int i = 0; i <= 30; ++i) {
            points->InsertNextPoint(4.0 * i - 60.0, 4.0 * j - 40.0, 6.0 * std::sin(0.3 * i) * std::cos(0.25 * j));
            tcoords->InsertNextTuple2(i / 30.0, j / 20.0);
        }
    std::vector<std::array<vtkIdType, 3>> triangles;
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 30; ++i) {
            const vtkIdType a = j * 31 + i, b = a + 1, c = a + 31, d = c + 1;
            triangles.push_back({a, b, d});
            triangles.push_back({a, d, c});
        }
    if (layout == Layout::Shuffled) {
        std::mt19937 random(7);
        std::shuffle(triangles.begin(), triangles.end(), random);
    }
    for (const auto& t : triangles)
        polys->InsertNextCell(3, t.data());
    if (layout == Layout::Narrow)
        polys->ConvertTo32BitStorage();
    vtkNew<vtkUnsignedCharArray> rgb;
    rgb->SetName("RGB");
    rgb->SetNumberOfComponents(3);
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("Intensity");
    for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i) {
        rgb->InsertNextTuple3((i * 37) % 256, (i * 59) % 256, 200);
        intensity->InsertNextValue(i == 40 ? std::nanf("") : static_cast<float>((i * 13) % 2000));
    }
    data->SetPoints(points);
    data->SetPolys(polys);
    data->GetPointData()->SetTCoords(tcoords);
    data->GetPointData()->AddArray(rgb);
    data->GetPointData()->AddArray(intensity);
    if (!normals)
        return data;
    vtkNew<vtkPolyDataNormals> smooth;
    smooth->SetInputData(data);
    smooth->SplittingOff();
    smooth->Update();
    data->DeepCopy(smooth->GetOutput());
    return data;
}

// A 64 x 64 picture of coloured squares.
vtkSmartPointer<vtkTexture> Picture()
{
    vtkNew<vtkImageData> image;
    image->SetDimensions(64, 64, 1);
    image->AllocateScalars(VTK_UNSIGNED_CHAR, 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            auto* p = static_cast<unsigned char*>(image->GetScalarPointer(x, y, 0));
            p[0] = static_cast<unsigned char>(((x / 8 + y / 8) % 2) ? 230 : 40);
            p[1] = static_cast<unsigned char>(x * 4);
            p[2] = static_cast<unsigned char>(y * 4);
        }
    auto texture = vtkSmartPointer<vtkTexture>::New();
    texture->SetInputData(image);
    texture->InterpolateOn();
    return texture;
}

struct Lighting {
    const char* name;
    bool normals;
    bool lit;
    bool parallel;
    const char* colours; // "texture", an array, or null: one colour
    double ambient = 0.0;
    bool points = false; // the points representation
};

std::vector<unsigned char> DrawMesh(vtkPolyDataMapper* mapper, vtkPolyData* data, const Lighting& l)
{
    mapper->SetInputData(data);
    vtkNew<vtkActor> actor;
    actor->SetMapper(mapper);
    const bool textured = l.colours && std::string(l.colours) == "texture";
    if (textured)
        actor->SetTexture(Picture());
    if (l.colours && !textured) {
        mapper->ScalarVisibilityOn();
        mapper->SetScalarModeToUsePointFieldData();
        mapper->SelectColorArray(l.colours);
        mapper->SetScalarRange(100.0, 1800.0);
        mapper->SetLookupTable(Table(1));
    } else {
        mapper->ScalarVisibilityOff();
    }
    actor->SetPosition(3.0, -2.0, 0.0);
    actor->RotateX(-35.0);
    actor->GetProperty()->SetLighting(l.lit);
    actor->GetProperty()->SetColor(textured ? 1.0 : 0.9, textured ? 1.0 : 0.6, textured ? 1.0 : 0.3);
    actor->GetProperty()->SetAmbient(l.ambient);
    if (l.points) {
        actor->GetProperty()->SetRepresentationToPoints();
        actor->GetProperty()->SetPointSize(2);
    }
    return Snapshot(actor, 1.2, l.parallel);
}

} // namespace

TEST(CloudMapper, DrawsMeshesAsVtksMapperDoes)
{
    const Lighting cases[] = {
        {"texture, facet normals", false, true, false, "texture"},
        {"texture, point normals", true, true, false, "texture"},
        {"texture, facet normals, parallel projection", false, true, true, "texture"},
        {"texture, unlit", false, false, false, "texture"},
        {"RGB, point normals", true, true, false, "RGB"},
        {"RGB with an ambient term", false, true, false, "RGB", 0.3},
        {"one colour, some ambient", true, true, false, nullptr, 0.4},
        {"intensity red-blue, facet normals", false, true, false, "Intensity"},
        {"one colour, point normals", true, true, false, nullptr},
        {"one colour, unlit", false, false, false, nullptr},
        {"a mesh as points, RGB", false, true, false, "RGB", 0.0, true},
        {"a mesh as points, intensity", false, true, false, "Intensity", 0.0, true},
        {"a mesh as points, one colour", false, true, false, nullptr, 0.0, true},
    };
    // Kept in buffers or streamed slice by slice; streamed slices of the
    // shuffled mesh are gathered corner by corner, the others go as ranges.
    struct Way {
        int streaming;
        long long slice;
        Layout layout;
    };
    const Way ways[] = {{0, 1LL << 20, Layout::Rows},    {0, 37, Layout::Rows},      {1, 1LL << 20, Layout::Rows},
                        {1, 37, Layout::Rows},           {1, 37, Layout::Shuffled},  {1, 1LL << 20, Layout::Shuffled},
                        {1, 37, Layout::Narrow},         {0, 37, Layout::Narrow}};
    for (const Lighting& l : cases) {
        SCOPED_TRACE(l.name);
        for (const Way& way : ways) {
            SCOPED_TRACE("streaming " + std::to_string(way.streaming) + ", slice " + std::to_string(way.slice) +
                         ", layout " + std::to_string(static_cast<int>(way.layout)));
            vtkSmartPointer<vtkPolyData> data = Mesh(l.normals, way.layout);
            vtkNew<vtkPolyDataMapper> vtk;
            const std::vector<unsigned char> expected = DrawMesh(vtk, data, l);
            const long long slice = way.slice;
            vtkNew<vtkCloudMapper> ours;
            ours->SetSliceSize(slice);
            ours->SetStreaming(way.streaming);
            const std::vector<unsigned char> got = DrawMesh(ours, data, l);
            // Points' colours with an ambient term are left to VTK's mapper.
            EXPECT_EQ(ours->LastDrawnByVtk(), l.colours && std::string(l.colours) != "texture" && l.ambient > 0.0);
            const Difference d = Compare(got, expected, 3);
            EXPECT_GT(d.lit, l.points ? 2000u : 20000u) << "the mesh is drawn";
            // Facet normals from derivatives may differ along a few edges.
            EXPECT_LE(d.differ, got.size() / 500) << "slice " << slice << ", largest difference " << d.worst;
        }
    }
}
