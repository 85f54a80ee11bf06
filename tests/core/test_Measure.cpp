// Measure figures checked against arithmetic done here by hand, the measure
// file byte for byte, and the scale factor's refusals.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/measure/MeasureFile.h"
#include "core/measure/MeasureGeometry.h"
#include "core/measure/ScaleFactor.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>

#include <cmath>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace measure;

namespace {

const double kPi = 3.14159265358979323846;

std::vector<Point3d> UnitSquare() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }

// Rotation about the x axis by `degrees`.
Point3d TiltX(const Point3d& p, double degrees)
{
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    return {p.x, p.y * c - p.z * s, p.y * s + p.z * c};
}

} // namespace

TEST(MeasureGeometry, LengthsOfOneTwoAndFourPoints)
{
    EXPECT_EQ(PolylineLength({}), 0.0);
    EXPECT_EQ(PolylineLength({{1, 2, 3}}), 0.0);
    EXPECT_EQ(PolygonPerimeter({{1, 2, 3}}), 0.0);
    // Two points 3-4-12 apart: 13, and twice that round the "polygon".
    const std::vector<Point3d> two = {{1, 1, 1}, {4, 5, 13}};
    EXPECT_DOUBLE_EQ(PolylineLength(two), 13.0);
    EXPECT_DOUBLE_EQ(PolygonPerimeter(two), 26.0);
    EXPECT_DOUBLE_EQ(PolylineLength(UnitSquare()), 3.0);
    EXPECT_DOUBLE_EQ(PolygonPerimeter(UnitSquare()), 4.0);
    // As the list holds them: 0.0004 apart reads as the same point.
    EXPECT_EQ(PolylineLength({{AsListed(10.0001), 0, 0}, {AsListed(10.0004), 0, 0}}), 0.0);
    EXPECT_EQ(AsListed(-80.0024), -80.002);
}

TEST(MeasureGeometry, AreasOfASquareFlatTiltedAndOnEdge)
{
    const double down[3] = {0, 0, 1};
    Figures f = Compute(UnitSquare(), down);
    ASSERT_TRUE(f.hasPlane);
    EXPECT_NEAR(f.areaPlane, 1.0, 1e-12);
    EXPECT_NEAR(f.areaView, 1.0, 1e-12);
    EXPECT_NEAR(f.areaXY, 1.0, 1e-12);
    EXPECT_NEAR(std::fabs(f.planeNormal[2]), 1.0, 1e-12);
    EXPECT_NEAR(f.flatnessRms, 0.0, 1e-12);

    // Tilted by 30 degrees about x: still 1 on its own plane, cos 30 on XY.
    std::vector<Point3d> tilted;
    for (const Point3d& p : UnitSquare())
        tilted.push_back(TiltX(p, 30));
    f = Compute(tilted, down);
    EXPECT_NEAR(f.areaPlane, 1.0, 1e-12);
    EXPECT_NEAR(f.areaXY, std::sqrt(3.0) / 2, 1e-12);
    EXPECT_NEAR(f.areaView, std::sqrt(3.0) / 2, 1e-12);

    // A square standing in the YZ plane: its normal is the x axis, where the
    // plain construction of the first in-plane axis divides by zero.
    const std::vector<Point3d> wall = {{5, 0, 0}, {5, 2, 0}, {5, 2, 2}, {5, 0, 2}};
    f = Compute(wall, down);
    EXPECT_NEAR(std::fabs(f.planeNormal[0]), 1.0, 1e-12);
    EXPECT_NEAR(f.areaPlane, 4.0, 1e-12);
    EXPECT_FALSE(std::isnan(f.areaPlane));
    EXPECT_NEAR(f.areaXY, 0.0, 1e-12);
    const double side[3] = {1, 0, 0};
    EXPECT_NEAR(AreaOnPlane(wall, side), 4.0, 1e-12);
}

TEST(MeasureGeometry, DegenerateAndSelfIntersectingPolygons)
{
    // Fewer than three points: no plane, no areas.
    Figures f = Compute({{0, 0, 0}, {1, 0, 0}}, nullptr);
    EXPECT_FALSE(f.hasPlane);
    EXPECT_EQ(f.areaPlane, 0.0);
    EXPECT_EQ(f.areaXY, 0.0);
    // Collinear: zero area everywhere.
    f = Compute({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, nullptr);
    EXPECT_NEAR(f.areaXY, 0.0, 1e-12);
    EXPECT_NEAR(f.areaPlane, 0.0, 1e-12);
    EXPECT_EQ(f.areaView, 0.0) << "no camera, no view-plane area";
    // Corners in the order 1-3-2-4: the signed shoelace sum cancels.
    const std::vector<Point3d> bowtie = {{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}};
    EXPECT_NEAR(AreaXY(bowtie), 0.0, 1e-12);
    EXPECT_EQ(PolygonArea({{0, 0}, {1, 0}}), 0.0);
}

TEST(MeasureGeometry, AGeoreferencedPentagonOnATiltedPlane)
{
    // A regular pentagon of circumradius 10 around (500000.123, 4500000.456,
    // 100), tilted by 20 degrees about x; its area is 5/2 r^2 sin 72 degrees.
    const double r = 10;
    std::vector<Point3d> pentagon;
    for (int i = 0; i < 5; ++i) {
        const double a = 2 * kPi * i / 5;
        const Point3d local = TiltX({r * std::cos(a), r * std::sin(a), 0}, 20);
        pentagon.push_back({500000.123 + local.x, 4500000.456 + local.y, 100 + local.z});
    }
    const double expected = 2.5 * r * r * std::sin(72 * kPi / 180);
    const Figures f = Compute(pentagon, nullptr);
    // Far from the origin the arithmetic keeps about 1e-9 relative.
    EXPECT_NEAR(f.areaPlane, expected, 1e-6);
    EXPECT_NEAR(f.areaXY, expected * std::cos(20 * kPi / 180), 1e-6);
    EXPECT_NEAR(f.perimeter, 5 * 2 * r * std::sin(kPi / 5), 1e-9);
    EXPECT_NEAR(f.flatnessRms, 0.0, 1e-6);
}

TEST(MeasureGeometry, FlatnessIsTheRmsDistanceFromTheFittedPlane)
{
    // Points alternately 0.1 above and below z = 0 on a symmetric grid:
    // the fitted plane is z = 0 and every point is 0.1 from it.
    std::vector<Point3d> rough;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            rough.push_back({double(i), double(j), (i + j) % 2 ? 0.1 : -0.1});
    double normal[3], rms = -1;
    ASSERT_TRUE(FitPlane(rough, normal, &rms));
    EXPECT_NEAR(std::fabs(normal[2]), 1.0, 1e-9);
    EXPECT_NEAR(rms, 0.1, 1e-12);
}

TEST(MeasureFile, WritesTheFormatByteForByteAndReadsItBack)
{
    TempDir dir;
    EXPECT_EQ(MeasureFilePath(dir.File("site4.mvtp")), dir.File("site4.msr"));
    EXPECT_EQ(MeasureFilePath(dir.File("Scan.Part.VTP")), dir.File("Scan.Part.msr"));
    EXPECT_EQ(MeasureFilePath(""), ".msr");

    MeasureMap measures;
    measures["wall"] = PointLine("3", "1523.250", "-80.002", "12.410") + "\n" + PointLine("5", "1.000", "2.000", "3.000") + "\n";
    const std::string file = dir.File("site4.msr");
    ASSERT_TRUE(WriteMeasureFile(file, measures));
    EXPECT_EQ(ReadText(file), "1\r\nwall\r\n2\r\n3;1523.250;-80.002;12.410\r\n5;1.000;2.000;3.000\r\n");

    // Names are case-sensitive; a second save writes both.
    measures["Wall"] = PointLine("1", "0.000", "0.000", "0.000") + "\n";
    ASSERT_TRUE(WriteMeasureFile(file, measures));
    MeasureMap back;
    back["kept"] = "9;9.000;9.000;9.000\n"; // entries absent from the file stay
    ASSERT_TRUE(ReadMeasureFile(file, back));
    EXPECT_EQ(back.size(), 3u);
    EXPECT_EQ(back["wall"], measures["wall"]);
    EXPECT_EQ(back["Wall"], measures["Wall"]);
    EXPECT_EQ(PointCount(back["wall"]), 2);
    EXPECT_FALSE(HasTemporary(dir.Path()));
}

TEST(MeasureFile, DamagedFilesReadWhatTheyHoldAndLoseNothing)
{
    TempDir dir;
    MeasureMap measures;
    // Missing file: nothing, no failure.
    EXPECT_TRUE(ReadMeasureFile(dir.File("none.msr"), measures));
    EXPECT_TRUE(measures.empty());
    // LF line ends, a count larger than the lines, a name over 1024 bytes.
    const std::string longName(3000, 'n');
    WriteText(dir.File("odd.msr"), "5\n" + longName + "\n1\n0;1.000;2.000;3.000\nshort\n9\n1;1.000;1.000;1.000\n");
    ASSERT_TRUE(ReadMeasureFile(dir.File("odd.msr"), measures));
    ASSERT_EQ(measures.size(), 2u);
    EXPECT_EQ(measures[longName], "0;1.000;2.000;3.000\n");
    EXPECT_EQ(measures["short"], "1;1.000;1.000;1.000\n");

    // A hand-edited point line that fails the number checks refuses the measure.
    std::vector<MeasurePointsData> points;
    std::string why;
    EXPECT_FALSE(ParseMeasure("0;1.000;2.000;3.000\n1;abc;2.000;3.000\n", points, &why));
    EXPECT_NE(why.find("point line 2"), std::string::npos) << why;
    EXPECT_TRUE(points.empty());
    EXPECT_FALSE(ParseMeasure("0;1.000;2.000\n", points));
    EXPECT_FALSE(ParseMeasure("x;1;2;3\n", points));
    // Sorted by Id, CR LF tolerated, z to the end of the line.
    ASSERT_TRUE(ParseMeasure("7;1.000;2.000;3.500\r\n-2;0.000;0.000;0.000\n3;1;1;1\n", points));
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].nId, -2);
    EXPECT_EQ(points[1].nId, 3);
    EXPECT_EQ(points[2].nId, 7);
    EXPECT_EQ(points[2].z, 3.5);

    // A write that cannot complete leaves the stored measures as they were.
    const std::string file = dir.File("keep.msr");
    MeasureMap one;
    one["a"] = "0;0.000;0.000;0.000\n";
    ASSERT_TRUE(WriteMeasureFile(file, one));
    const std::string before = ReadText(file);
    one["b"] = "1;1.000;1.000;1.000\n";
    {
        const FileSizeLimit limit(16); // the new file cannot be completed
        EXPECT_FALSE(WriteMeasureFile(file, one, &why));
    }
    EXPECT_FALSE(HasTemporary(dir.Path()));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ReadText(file), before);
}

TEST(MeasureFile, AFullDiskKeepsTheOldFile)
{
    TempDir dir;
    const std::string mnt = dir.File("small");
    ::mkdir(mnt.c_str(), 0755);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    MeasureMap m;
    m["old"] = "0;0.000;0.000;0.000\n";
    ASSERT_TRUE(WriteMeasureFile(mnt + "/site.msr", m));
    const std::string before = ReadText(mnt + "/site.msr");
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += std::to_string(i) + ";1000000.000;2000000.000;300.000\n";
    m["big"] = big;
    std::string why;
    EXPECT_FALSE(WriteMeasureFile(mnt + "/site.msr", m, &why));
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    EXPECT_EQ(ReadText(mnt + "/site.msr"), before);
    EXPECT_FALSE(HasTemporary(mnt));
    ::umount(mnt.c_str());
}

TEST(ScaleFactor, RefusesWhatGivesNoFiniteFactor)
{
    double factor = 0;
    EXPECT_EQ(CheckScale("2.000", "4", &factor), ScaleCheck::Ok);
    EXPECT_EQ(factor, 2.0);
    for (const char* bad : {"", "abc", "0", "-3", "inf"})
        EXPECT_EQ(CheckScale("2.000", bad, &factor), ScaleCheck::BadNewLength) << bad;
    EXPECT_EQ(CheckScale("2.000", "2.000", &factor), ScaleCheck::SameLength);
    EXPECT_EQ(CheckScale("2.000", "2", &factor), ScaleCheck::SameLength);
    EXPECT_EQ(CheckScale("", "5", &factor), ScaleCheck::NoCurrentLength);
    EXPECT_EQ(CheckScale("0.000", "5", &factor), ScaleCheck::NoCurrentLength);
}

TEST(Cli, MeasuresPrintsTheStoredMeasuresAsTheDialogShowsThem)
{
    TempDir dir;
    MeasureMap m;
    // The unit square, its corners stored out of order and with extra decimals.
    m["roof"] = "2;1.000;1.000;0.000\n0;0.000;0.000;0.000\n1;1.000;0.000;0.000\n3;0.000;1.000;0.000\n";
    m["pair"] = "0;0.000;0.000;0.000\n1;3.000;4.000;0.000\n";
    m["bad"] = "0;0.000;0.000;0.000\n1;x;4.000;0.000\n";
    ASSERT_TRUE(WriteMeasureFile(dir.File("site.msr"), m));
    // Asked through the project the measures belong to; it need not exist.
    CliRun r = RunCli(dir, "measures " + Q(dir.File("site.mvtp")));
    EXPECT_EQ(r.status, 1) << "one measure was refused";
    EXPECT_NE(r.err.find("measure \"bad\": point line 2 is damaged"), std::string::npos) << r.err;
    std::istringstream lines(r.out);
    std::string pair, roof, extra;
    ASSERT_TRUE(std::getline(lines, pair));
    ASSERT_TRUE(std::getline(lines, roof));
    EXPECT_FALSE(std::getline(lines, extra));
    EXPECT_EQ(pair, "{\"name\":\"pair\",\"points\":2,\"length\":5,\"perimeter\":10,\"area_plane\":0,\"area_xy\":0,"
                    "\"flatness_rms\":0}");
    EXPECT_EQ(roof, "{\"name\":\"roof\",\"points\":4,\"length\":3,\"perimeter\":4,\"area_plane\":1,\"area_xy\":1,"
                    "\"flatness_rms\":0}");

    m.erase("bad");
    ASSERT_TRUE(WriteMeasureFile(dir.File("site.msr"), m));
    EXPECT_EQ(RunCli(dir, "measures " + Q(dir.File("site.msr"))).status, 0);
    EXPECT_EQ(RunCli(dir, "measures " + Q(dir.File("other.vtp"))).status, 1);
    EXPECT_EQ(RunCli(dir, "measures").status, 2);
}

TEST(ScaleFactor, ScalingTheFirstModelAboutItsOwnOriginAndAgain)
{
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    WriteModel(dir.File("a.vtp"), {20, 15, true, {RgbArray()}}); // x 0..19, y 0..14
    CScanPos* model = doc.AddModel(dir.File("a.vtp"));
    ASSERT_NE(model, nullptr);
    auto reducedBounds = [model](double b[6]) {
        model->GetMapper(kReducedLevel)->Update();
        vtkPolyData::SafeDownCast(model->GetMapper(kReducedLevel)->GetInput())->GetBounds(b);
    };
    double before[6], after[6], reducedBefore[6], reduced[6];
    model->GetPolyData()->GetBounds(before);
    reducedBounds(reducedBefore);
    ASSERT_GT(reducedBefore[3], 0.0) << "the preview holds points beyond the origin";
    ASSERT_TRUE(ScaleModel(model, 2.0));
    model->GetPolyData()->GetBounds(after);
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(after[i], 2 * before[i]) << i;
    // The second update scales the scaled model once more; both levels follow.
    ASSERT_TRUE(ScaleModel(model, 2.0));
    model->GetPolyData()->GetBounds(after);
    EXPECT_DOUBLE_EQ(after[1], 4 * before[1]);
    reducedBounds(reduced);
    EXPECT_DOUBLE_EQ(reduced[3], 4 * reducedBefore[3]) << "the preview level is scaled too";
    // Colours travel with the points.
    EXPECT_NE(model->GetPolyData()->GetPointData()->GetArray("RGB"), nullptr);
    EXPECT_FALSE(ScaleModel(nullptr, 2.0));
}
