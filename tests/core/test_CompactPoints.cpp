// Coordinates that are floats' values are kept as floats: the same values,
// half the memory; anything else stays as it is.
#include "Fixtures.h"
#include "core/measure/ScaleFactor.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/model/CompactPoints.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPolyDataWriter.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

vtkSmartPointer<vtkPoints> DoublePoints(const std::vector<double>& values)
{
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToDouble();
    points->GetData()->SetName("Points");
    points->SetNumberOfPoints(static_cast<vtkIdType>(values.size() / 3));
    for (size_t i = 0; i < values.size(); ++i)
        points->GetData()->SetComponent(static_cast<vtkIdType>(i / 3), static_cast<int>(i % 3), values[i]);
    return points;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Coordinates of floats over a site of 600 m, far from the model's origin in
// height, with signed zeros, a float's smallest step and its largest value.
std::vector<double> FloatValues()
{
    std::vector<double> v;
    for (int i = 0; i < 3000; ++i)
        v.push_back(static_cast<double>(static_cast<float>(std::sin(i * 0.37) * 300.0 + (i % 3 == 2 ? 1200.0 : 0.0))));
    v.insert(v.end(), {-0.0, 0.0, static_cast<double>(std::numeric_limits<float>::denorm_min()),
                       static_cast<double>(std::numeric_limits<float>::max()), -1.5, 1e-3f});
    return v;
}

} // namespace

TEST(CompactPoints, FloatValuesBecomeFloatsWithTheirBitsAndName)
{
    const std::vector<double> values = FloatValues();
    vtkSmartPointer<vtkPoints> points = DoublePoints(values);
    ASSERT_TRUE(compact::FloatsWhereExact(points));
    EXPECT_EQ(points->GetDataType(), VTK_FLOAT);
    EXPECT_STREQ(points->GetData()->GetName(), "Points");
    ASSERT_EQ(points->GetNumberOfPoints(), static_cast<vtkIdType>(values.size() / 3));
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(SameBits(points->GetData()->GetComponent(static_cast<vtkIdType>(i / 3), static_cast<int>(i % 3)),
                             values[i]))
            << "value " << i;
    // Floats already: nothing to do.
    EXPECT_FALSE(compact::FloatsWhereExact(points));
}

TEST(CompactPoints, AnythingElseIsLeftAsItIs)
{
    std::vector<double> values = FloatValues();
    struct Case {
        const char* name;
        double value;
    };
    // One value of a finer step than a float has, at either end or inside.
    for (const Case& c : {Case{"a centimetre", 0.01}, Case{"a millimetre on a site", 612345.678},
                          Case{"not a number", std::nan("")}, Case{"beyond a float's range", 1e39},
                          Case{"below a float's smallest step", 1e-50}}) {
        for (size_t at : {size_t{0}, values.size() / 2, values.size() - 1}) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at));
            std::vector<double> v = values;
            v[at] = c.value;
            vtkSmartPointer<vtkPoints> points = DoublePoints(v);
            vtkDataArray* before = points->GetData();
            EXPECT_FALSE(compact::FloatsWhereExact(points));
            EXPECT_EQ(points->GetData(), before);
            for (size_t i = 0; i < v.size(); ++i)
                ASSERT_TRUE(SameBits(before->GetComponent(static_cast<vtkIdType>(i / 3), static_cast<int>(i % 3)), v[i]));
        }
    }
    // An array someone else holds too would change under their feet.
    vtkSmartPointer<vtkPoints> points = DoublePoints(values);
    vtkSmartPointer<vtkDataArray> held = points->GetData();
    EXPECT_FALSE(compact::FloatsWhereExact(points));
    EXPECT_EQ(points->GetDataType(), VTK_DOUBLE);
    // No points, or none at all.
    vtkNew<vtkPoints> empty;
    empty->SetDataTypeToDouble();
    EXPECT_FALSE(compact::FloatsWhereExact(empty));
    EXPECT_FALSE(compact::FloatsWhereExact(nullptr));
}

TEST(CompactPoints, AModelOfFloatCoordinatesIsKeptAsFloatsAndMeasuresAsBefore)
{
    // A mesh file holding doubles whose values are floats (as saved from a
    // binary PLY), and its twin with one coordinate a millimetre finer.
    TempDir dir;
    std::vector<double> values;
    const int nx = 40, ny = 30;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            for (double v : {i * 0.37, j * 0.41 + 500.0, std::sin(i * 0.2) * std::cos(j * 0.3) * 12.0})
                values.push_back(static_cast<double>(static_cast<float>(v)));
    auto write = [&](const std::string& name, const std::vector<double>& v) {
        vtkNew<vtkPolyData> poly;
        poly->SetPoints(DoublePoints(v));
        vtkNew<vtkCellArray> cells;
        for (int j = 0; j + 1 < ny; ++j)
            for (int i = 0; i + 1 < nx; ++i) {
                const vtkIdType a = j * nx + i, t1[3] = {a, a + 1, a + nx + 1}, t2[3] = {a, a + nx + 1, a + nx};
                cells->InsertNextCell(3, t1);
                cells->InsertNextCell(3, t2);
            }
        poly->SetPolys(cells);
        vtkNew<vtkXMLPolyDataWriter> w;
        w->SetInputData(poly);
        w->SetFileName(dir.File(name).c_str());
        ASSERT_EQ(w->Write(), 1);
        WriteText(dir.File(name.substr(0, name.size() - 4) + ".vtw"), "[PolyData Offset]\nX=612000\nY=5100000\nZ=0\n");
    };
    write("floats.vtp", values);
    std::vector<double> finer = values;
    finer[1000] += 0.001;
    write("finer.vtp", finer);

    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    CScanPos* floats = doc.AddModel(dir.File("floats.vtp"));
    CScanPos* doubles = doc.AddModel(dir.File("finer.vtp"));
    ASSERT_NE(floats, nullptr);
    ASSERT_NE(doubles, nullptr);
    EXPECT_EQ(floats->GetPolyData()->GetPoints()->GetDataType(), VTK_FLOAT);
    EXPECT_EQ(doubles->GetPolyData()->GetPoints()->GetDataType(), VTK_DOUBLE);
    for (CScanPos* m : {floats, doubles}) {
        const std::vector<double>& v = m == floats ? values : finer;
        for (vtkIdType i = 0; i < m->GetPolyData()->GetNumberOfPoints(); ++i) {
            double p[3];
            m->GetPolyData()->GetPoint(i, p);
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(SameBits(p[k], v[static_cast<size_t>(3 * i + k)])) << "point " << i;
        }
    }
    // Scaling works on the doubles the floats stand for, as before.
    ASSERT_TRUE(measure::ScaleModel(floats, 1.1));
    vtkPolyData* scaled = vtkPolyData::SafeDownCast(floats->GetMapper(kFullLevel)->GetInput());
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->GetPoints()->GetDataType(), VTK_DOUBLE);
    for (vtkIdType i = 0; i < scaled->GetNumberOfPoints(); ++i) {
        double p[3];
        scaled->GetPoint(i, p);
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(p[k], values[static_cast<size_t>(3 * i + k)] * 1.1) << "point " << i;
    }
}
