#include "Fixtures.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include <cmath>

#include <vtkDataArray.h>
#include <vtkLODProp3D.h>
#include <vtkLookupTable.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkTexture.h>

namespace {

struct Representation : ::testing::Test {
    TempDir dir;
    CRendererView view;
    CQuarlonDoc doc;
    Representation() { doc.SetView(&view); }

    CScanPos* Add(const std::string& name, const ModelShape& shape, bool textured = false)
    {
        WriteModel(dir.File(name), shape);
        if (textured) {
            WriteImage(dir.File(name + ".png"));
            WriteText(qpath(name, ".tex"), "[Texture]\nFile=" + name + ".png\n");
        }
        return doc.AddModel(dir.File(name));
    }
    std::string qpath(const std::string& name, const std::string& ext)
    {
        return dir.File(name.substr(0, name.rfind('.')) + ext);
    }
    static std::string ActiveScalars(CScanPos* m, int id)
    {
        vtkDataArray* a = vtkPolyData::SafeDownCast(m->GetMapper(id)->GetInput())->GetPointData()->GetScalars();
        return a && a->GetName() ? a->GetName() : "";
    }
};

} // namespace

TEST_F(Representation, AllEighteenIndicesOnAModelThatHasEverything)
{
    CScanPos* m = Add("all.vtp", {20, 10, true, {RgbArray(), IntensityArray(), TextureArray()}}, true);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->GetTexture(), nullptr);
    const int kRepr[18] = {VTK_POINTS, VTK_POINTS, VTK_POINTS, VTK_POINTS, VTK_POINTS,
                           VTK_WIREFRAME, VTK_WIREFRAME, VTK_WIREFRAME, VTK_WIREFRAME, VTK_WIREFRAME,
                           VTK_SURFACE, VTK_SURFACE, VTK_SURFACE, VTK_SURFACE, VTK_SURFACE,
                           VTK_SURFACE, VTK_POINTS, VTK_WIREFRAME};
    const int kMap[18] = {0, 1, 2, 3, 0, 0, 1, 2, 3, 0, 0, 1, 2, 3, 0, 0, 0, 0};
    const char* kArray[18] = {"RGB", "Intensity", "Intensity", "Intensity", "",
                              "RGB", "Intensity", "Intensity", "Intensity", "",
                              "RGB", "Intensity", "Intensity", "Intensity", "",
                              "Texture", "Texture", "Texture"};
    for (int i = 0; i < kRepresentationCount; ++i) {
        SCOPED_TRACE(RepresentationLabel(i));
        ASSERT_TRUE(m->SetRepresentation(i));
        EXPECT_EQ(m->GetRepresentation(), i);
        EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), kRepr[i]);
        EXPECT_EQ(Level(m, kReducedLevel)->GetRepresentation(), kRepr[i]);
        EXPECT_EQ(m->GetColorMap(), kMap[i]);
        EXPECT_EQ(m->GetActiveArrayName(), kArray[i]);
        const bool scalars = kArray[i][0] && std::string(kArray[i]) != "Texture";
        EXPECT_EQ(m->GetMapper(kFullLevel)->GetScalarVisibility() != 0, scalars);
        EXPECT_EQ(m->GetMapper(kReducedLevel)->GetScalarVisibility() != 0, scalars);
        if (scalars) {
            EXPECT_EQ(ActiveScalars(m, kReducedLevel), kArray[i]);
            // The lookup table matters only while scalars colour the model.
            EXPECT_EQ(m->GetMapper(kFullLevel)->GetLookupTable() == m->GetLookupTable(), kMap[i] != 0);
        }
        if (i >= 15) {
            EXPECT_EQ(LevelTexture(m, kFullLevel), m->GetTexture());
            EXPECT_EQ(LevelTexture(m, kReducedLevel), m->GetTexture());
        } else if (scalars) {
            EXPECT_EQ(LevelTexture(m, kFullLevel), nullptr);
        }
        // The index derived back from the state agrees with the one applied.
        m->SetRepresentation(99);
        m->UpdateRepresentationIndex();
        EXPECT_EQ(m->GetRepresentation(), i);
    }
}

TEST_F(Representation, RequirementsRefuseAndKeepTheColouringButRecordTheIndex)
{
    CScanPos* m = Add("i16.vtp", {20, 10, true, {IntensityArray("intensity_16")}});
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->GetActiveArrayName(), "intensity_16");
    for (int index : {0, 1, 2, 3, 5, 6, 10, 13, 15, 16, 17}) {
        EXPECT_FALSE(m->SetRepresentation(index)) << index;
        EXPECT_EQ(m->GetRepresentation(), index);
        EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_POINTS);
        EXPECT_EQ(m->GetActiveArrayName(), "intensity_16");
        EXPECT_EQ(m->GetColorMap(), ColorMapGrayScale);
    }
    EXPECT_TRUE(m->SetRepresentation(14));

    // A texture array without a texture image is refused too.
    CScanPos* t = Add("tex.vtp", {5, 5, true, {TextureArray()}});
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->SetRepresentation(15));
}

TEST_F(Representation, LowerCaseRgbIsAcceptedButNotRecoloured)
{
    CScanPos* m = Add("rgb.vtp", {5, 5, true, {RgbArray("rgb")}});
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(m->SetRepresentation(14));
    EXPECT_EQ(m->GetActiveArrayName(), "");
    ASSERT_TRUE(m->SetRepresentation(10));
    // "RGB" is asked for with exact case: nothing is coloured by it.
    EXPECT_EQ(m->GetActiveArrayName(), "");
    EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_SURFACE);
    EXPECT_FALSE(m->GetMapper(kFullLevel)->GetScalarVisibility());
}

TEST_F(Representation, IndicesOutsideTheTableAreStoredAndChangeNothing)
{
    CScanPos* m = Add("m.vtp", {5, 5, true, {RgbArray()}});
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(m->SetRepresentation(10));
    for (int index : {18, -1, 1000}) {
        EXPECT_TRUE(m->SetRepresentation(index));
        EXPECT_EQ(m->GetRepresentation(), index);
        EXPECT_EQ(Level(m, kFullLevel)->GetRepresentation(), VTK_SURFACE);
        EXPECT_EQ(m->GetActiveArrayName(), "RGB");
    }
}

TEST_F(Representation, FromTextureToOneColourShowsTheSolidColourAndKeepsTheTextures)
{
    CScanPos* m = Add("t.vtp", {5, 5, true, {TextureArray(), RgbArray()}}, true);
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(m->SetRepresentation(15));
    m->SetColor(0x0000FF); // red
    ASSERT_TRUE(m->SetRepresentation(14));
    EXPECT_EQ(m->GetActiveArrayName(), "");
    EXPECT_FALSE(m->GetMapper(kFullLevel)->GetScalarVisibility());
    double c[3];
    Level(m, kFullLevel)->GetColor(c);
    EXPECT_EQ(c[0], 1.0);
    EXPECT_EQ(c[1], 0.0);
    EXPECT_EQ(LevelTexture(m, kFullLevel), m->GetTexture());
    EXPECT_EQ(LevelTexture(m, kReducedLevel), m->GetTexture());
    EXPECT_EQ(vtkPolyData::SafeDownCast(m->GetMapper(kFullLevel)->GetInput())->GetPointData()->GetTCoords(), nullptr);
}

TEST_F(Representation, ColorArrayRanges)
{
    // Values from -50 to 100: component 0 and magnitude ranges differ.
    CScanPos* m = Add("m.vtp", {20, 10, true, {IntensityArray("Intensity", -50, 100)}});
    ASSERT_NE(m, nullptr);
    double r[2];
    const int component = 0;
    m->SetColorArray("Intensity", nullptr, &component);
    m->GetScalarRange(r);
    EXPECT_DOUBLE_EQ(r[0], -50);
    EXPECT_DOUBLE_EQ(r[1], 100);
    // Without a component the library's magnitude range (component -1) is
    // taken: for one component that is the value range...
    m->SetColorArray("Intensity");
    m->GetScalarRange(r);
    EXPECT_DOUBLE_EQ(r[0], -50);
    EXPECT_DOUBLE_EQ(r[1], 100);
    const double given[2] = {1, 2};
    m->SetColorArray("Intensity", given, &component);
    m->GetScalarRange(r);
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 2);
    double tableRange[2];
    m->GetLookupTable()->GetTableRange(tableRange);
    EXPECT_EQ(tableRange[1], 2);
    double mapperRange[2];
    m->GetMapper(kReducedLevel)->GetScalarRange(mapperRange);
    EXPECT_EQ(mapperRange[0], 1);
    // ...and for vectors the range of their lengths.
    CScanPos* v = Add("v.vtp", {2, 1, false, {{"Vec", 2, ArrayShape::Float, [](long i, int c) { return i == 0 ? -3.0 : (c ? 4.0 : 0.0); }}}});
    ASSERT_NE(v, nullptr);
    v->SetColorArray("Vec");
    v->GetScalarRange(r);
    EXPECT_DOUBLE_EQ(r[0], 4.0);
    EXPECT_DOUBLE_EQ(r[1], std::sqrt(18.0));
    v->SetColorArray("Vec", nullptr, &component);
    v->GetScalarRange(r);
    EXPECT_DOUBLE_EQ(r[0], -3.0);
    EXPECT_DOUBLE_EQ(r[1], 0.0);

    // An out-of-range component does not read past the array.
    const int bad = 7;
    m->SetColorArray("Intensity", nullptr, &bad);
    m->GetScalarRange(r);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], 1);
}

TEST_F(Representation, MissingArrayOnlyTurnsTheSolidColourWhite)
{
    CScanPos* m = Add("m.vtp", {5, 5, true, {RgbArray()}});
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(m->SetRepresentation(14));
    m->SetColor(0x123456);
    m->SetColorArray("NoSuchArray");
    EXPECT_EQ(m->GetColor(), 0xFFFFFFu);
    EXPECT_EQ(m->GetActiveArrayName(), "");
    EXPECT_FALSE(m->GetMapper(kFullLevel)->GetScalarVisibility());
}

TEST_F(Representation, ColourMapsRunFromTheirFirstToTheirSecondColour)
{
    CScanPos* m = Add("m.vtp", {20, 10, true, {IntensityArray("Intensity", 0, 10)}});
    ASSERT_NE(m, nullptr);
    struct Expect {
        int index;
        double low[3], high[3];
    };
    const Expect expects[] = {
        {1, {0, 0, 0}, {1, 1, 1}},
        {2, {1, 0, 0}, {0, 0, 1}},
        {3, {0, 0, 1}, {1, 0, 0}},
    };
    for (const Expect& e : expects) {
        m->SetColorMap(e.index);
        EXPECT_EQ(m->GetColorMap(), e.index);
        double c[3];
        m->GetLookupTable()->GetColor(0.0, c);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(c[k], e.low[k], 0.01) << "map " << e.index << " low " << k;
        m->GetLookupTable()->GetColor(10.0, c);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(c[k], e.high[k], 0.01) << "map " << e.index << " high " << k;
        EXPECT_EQ(m->GetMapper(kFullLevel)->GetLookupTable(), m->GetLookupTable());
    }
    double hue[2];
    m->SetColorMap(3);
    m->GetLookupTable()->GetHueRange(hue);
    EXPECT_EQ(hue[0], 0.6667); // the literal, not 2/3
    m->SetColorMap(0);
    EXPECT_NE(m->GetMapper(kFullLevel)->GetLookupTable(), m->GetLookupTable());
    m->SetColorMap(4);
    m->SetColorMap(-1);
    EXPECT_EQ(m->GetColorMap(), 0);
}

TEST_F(Representation, SolidColourIsAWindowsColourValue)
{
    CScanPos* m = Add("m.vtp", {5, 5, true, {}});
    ASSERT_NE(m, nullptr);
    m->SetColor(0x00FF8000); // blue FF, green 80, red 00
    double c[3];
    Level(m, kReducedLevel)->GetColor(c);
    EXPECT_DOUBLE_EQ(c[0], 0.0);
    EXPECT_DOUBLE_EQ(c[1], 128 / 255.0);
    EXPECT_DOUBLE_EQ(c[2], 1.0);
    EXPECT_EQ(m->GetColor(), 0x00FF8000u);
}

TEST(RepresentationTable, OneEntryPerStyleAndColouringAndEveryIndexInTheMenuOnce)
{
    using namespace representation;
    std::set<std::string> labels;
    std::vector<int> inMenu(kCount, 0);
    for (int i = 0; i < kCount; ++i) {
        const Row& r = At(i);
        labels.insert(Label(i));
        // The index is found again from what it draws.
        EXPECT_EQ(IndexOf(r.style, r.colouring, r.colorMap), i) << Label(i);
        // Colour maps belong to intensity alone; arrays to all but one colour.
        EXPECT_EQ(r.colorMap != 0, r.colouring == Colouring::Intensity) << Label(i);
        EXPECT_EQ(r.array == nullptr, r.colouring == Colouring::OneColor) << Label(i);
    }
    EXPECT_EQ(labels.size(), static_cast<size_t>(kCount));
    for (int style = 0; style < kStyles; ++style)
        for (int position = 0; position < kPerStyle; ++position) {
            const int index = MenuIndex(style, position);
            ASSERT_TRUE(IsValid(index));
            EXPECT_EQ(static_cast<int>(At(index).style), style);
            ++inMenu[index];
        }
    EXPECT_EQ(inMenu, std::vector<int>(kCount, 1));
    // The indices the settings files hold: 15 surface, 16 points, 17 wireframe texture.
    EXPECT_STREQ(Label(15), "Surface Texture");
    EXPECT_STREQ(Label(16), "Points Texture");
    EXPECT_STREQ(Label(17), "Wireframe Texture");
    EXPECT_STREQ(Label(18), "");
    EXPECT_EQ(MenuIndex(0, 0), 4) << "the points group starts with One Color";
}

#include "core/model/ModelSummary.h"

TEST(ModelSummary, ArraysInOrderRangesAndAttributeClasses)
{
    TempDir dir;
    WriteModel(dir.File("m.vtp"), {5, 4, true, {RgbArray(), IntensityArray("Intensity", 10.0, 200.0), ConstantArray("ScanPos", 3)}});
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    CScanPos* model = doc.AddModel(dir.File("m.vtp"));
    ASSERT_NE(model, nullptr);
    const model::Summary s = model::Summarize(*model);
    EXPECT_EQ(s.points, 20);
    EXPECT_EQ(s.cells, 24);
    ASSERT_EQ(s.arrays.size(), 3u);
    EXPECT_EQ(s.arrays[0].name, "RGB");
    EXPECT_EQ(s.arrays[0].components, 3);
    EXPECT_EQ(s.arrays[1].name, "Intensity");
    EXPECT_EQ(s.arrays[2].name, "ScanPos");
    double range[2];
    ASSERT_TRUE(model::AttributeRange(*model, "Intensity", range));
    double direct[2];
    model->GetPolyData()->GetPointData()->GetArray("Intensity")->GetRange(direct, 0);
    EXPECT_DOUBLE_EQ(range[0], direct[0]);
    EXPECT_DOUBLE_EQ(range[1], direct[1]);
    EXPECT_LT(range[0], range[1]);
    EXPECT_FALSE(model::AttributeRange(*model, "intensity", range)) << "the exact name only";
    EXPECT_FALSE(model::AttributeRange(*model, model::kUserDefined, range));

    using model::AttributeClass;
    for (const char* name : {"RGB", "rgb", "Gray", "ALBEDO"})
        EXPECT_EQ(model::ClassOf(name), AttributeClass::Direct) << name;
    EXPECT_EQ(model::ClassOf(model::kUserDefined), AttributeClass::Solid);
    for (const char* name : {"ScanPos", "texture"})
        EXPECT_EQ(model::ClassOf(name), AttributeClass::Special) << name;
    for (const char* name : {"Intensity", "intensity_8", "Elevation", ""})
        EXPECT_EQ(model::ClassOf(name), AttributeClass::Scalar) << name;
}
