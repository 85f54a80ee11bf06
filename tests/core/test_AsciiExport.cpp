// The configurable text export: the worked example, byte-for-byte agreement
// with a printf reference over many random definitions, the pruning of
// blank columns, divisions by zero, the simulation, the definition file and
// files that are never half written.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/exchange/AsciiExport.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"

#include <gtest/gtest.h>

#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace exchange;

namespace {

// A cloud of n points whose coordinates, colours and intensities come from
// the given functions; a null function leaves that array out.
vtkSmartPointer<vtkPolyData> Cloud(int n, double (*xyz)(int, int), double (*rgb)(int, int) = nullptr,
                                   double (*intensity)(int) = nullptr, bool floatColours = false)
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (int i = 0; i < n; ++i)
        points->InsertNextPoint(xyz(i, 0), xyz(i, 1), xyz(i, 2));
    data->SetPoints(points);
    if (rgb) {
        vtkSmartPointer<vtkDataArray> colours;
        if (floatColours)
            colours = vtkSmartPointer<vtkFloatArray>::New();
        else
            colours = vtkSmartPointer<vtkUnsignedCharArray>::New();
        colours->SetName("RGB");
        colours->SetNumberOfComponents(3);
        colours->SetNumberOfTuples(n);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c)
                colours->SetComponent(i, c, rgb(i, c));
        data->GetPointData()->AddArray(colours);
    }
    if (intensity) {
        vtkNew<vtkDoubleArray> values;
        values->SetName("Intensity");
        values->SetNumberOfTuples(n);
        for (int i = 0; i < n; ++i)
            values->SetValue(i, intensity(i));
        data->GetPointData()->AddArray(values);
    }
    return data;
}

double Ramp(int i, int c) { return i * 1.25 + c; }
double Bytes(int i, int c) { return (i * 37 + c * 80) % 256; }
double Half(int) { return 0.5; }

AsciiSource Source(vtkPolyData* data, double x = 0, double y = 0, double z = 0)
{
    AsciiSource s;
    s.data = data;
    s.offset[0] = x, s.offset[1] = y, s.offset[2] = z;
    return s;
}

AsciiDefinition Composition(std::initializer_list<int> items)
{
    AsciiDefinition d;
    int c = 0;
    for (int item : items)
        d.composition[c++] = item;
    for (; c < kAsciiColumns; ++c)
        d.composition[c] = kItemBlank;
    return d;
}

std::string Simulated(vtkPolyData* data, const AsciiDefinition& d)
{
    std::string text, why;
    EXPECT_TRUE(SimulateAsciiExport(Source(data), d, &text, &why)) << why;
    return text;
}

std::string Exported(const TempDir& dir, vtkPolyData* data, const AsciiDefinition& d, const AsciiSource* source = nullptr)
{
    std::string why;
    const std::string path = dir.File("out.txt");
    EXPECT_EQ(WriteAsciiExport(source ? *source : Source(data), d, path, nullptr, &why), ExportResult::Ok) << why;
    return ReadText(path);
}

} // namespace

TEST(AsciiExport, TheWorkedExampleInTheFileAndInTheSimulation)
{
    TempDir dir;
    // (1, 2, 3), colour (10, 20, 30), intensity 0.5, zero offsets, defaults.
    auto one = Cloud(1, [](int, int c) { return c + 1.0; }, [](int, int c) { return 10.0 * (c + 1); }, &Half);
    EXPECT_EQ(Exported(dir, one, AsciiDefinition()), "1.000 2.000 3.000 10 20 30 127\n");
    EXPECT_EQ(Simulated(one, AsciiDefinition()), "1.000 2.000 3.000 10 20 30 127\n") << "the simulation shows the file";

    // Operations, Id, a tab, "Eng" (seven decimals) and colours as doubles.
    AsciiDefinition d = Composition({kItemId, kItemX, kItemY, kItemZ, kItemR, kItemIntensity, kItemEndln});
    d.separator = 1, d.doubleFormat = 7, d.colorFormat = 1;
    d.formula[kAsciiX] = 1, d.value[kAsciiX] = "4";      // 1 / 4
    d.formula[kAsciiY] = 2, d.value[kAsciiY] = "0.5abc"; // 0.5 + 2, atof stops at the letters
    d.formula[kAsciiZ] = 3, d.value[kAsciiZ] = " 1e1";  // 3 - 10
    d.formula[kAsciiR] = 0, d.value[kAsciiR] = "-2";     // -2 * 10
    EXPECT_EQ(Exported(dir, one, d), "1\t0.2500000\t2.5000000\t-7.0000000\t-20.0000000\t127.5000000\n");

    // Offsets put the coordinates in the frame of the offset file.
    AsciiSource placed = Source(one, 500000.25, -4500000.5, 100);
    EXPECT_EQ(Exported(dir, one, Composition({kItemX, kItemY, kItemZ, kItemEndln}), &placed),
              "500001.250 -4499998.500 103.000\n");
}

TEST(AsciiExport, EveryDefinitionWritesWhatPrintfWrites)
{
    TempDir dir;
    // Negative zero, ties, large values; float colours beyond 0..255 and
    // intensities of both signs.
    auto odd = [](int i, int c) {
        const double v[] = {-0.0, 0.0005, -0.0005, 1.0000005, 123456.7890125, -2.5e-7, 1e12, -987654.3215, 0.125};
        return v[(i * 3 + c) % 9];
    };
    auto colours = [](int i, int c) { return c == 0 ? -1.7 : c == 1 ? 255.9 : (i % 7) * 40.55; };
    auto intensity = [](int i) { return i % 4 == 0 ? -0.25 : (i % 9) / 8.0; };
    auto data = Cloud(60, odd, colours, intensity, true);
    const AsciiSource source = Source(data, 500000.123456789, -4500000.5, -0.0);
    unsigned long long s = 0x9E3779B97F4A7C15ull;
    auto next = [&](int n) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        return static_cast<int>(s % static_cast<unsigned long long>(n));
    };
    const char* constants[] = {"1.0", "-3", "0.001", "1e3", "2.5", "255"};
    for (int run = 0; run < 400; ++run) {
        AsciiDefinition d;
        for (int v = 0; v < kAsciiVariables; ++v)
            d.formula[v] = next(kAsciiOperators), d.value[v] = constants[next(6)];
        d.separator = next(kAsciiSeparators), d.doubleFormat = next(kAsciiDoubleFormats);
        d.colorFormat = next(kAsciiColorFormats);
        for (int c = 0; c < kAsciiColumns; ++c)
            d.composition[c] = next(kAsciiItems + 1) - 1; // -1 is no selection
        std::string why;
        ASSERT_EQ(WriteAsciiExport(source, d, dir.File("fast.txt"), nullptr, &why), ExportResult::Ok) << why;
        ASSERT_TRUE(WriteAsciiExportPlain(source, d, dir.File("plain.txt")));
        const std::string fast = ReadText(dir.File("fast.txt"));
        ASSERT_TRUE(fast == ReadText(dir.File("plain.txt"))) << "run " << run << ":\n"
                                                             << fast.substr(0, 200) << "\n"
                                                             << ReadText(dir.File("plain.txt")).substr(0, 200);
    }
}

TEST(AsciiExport, BlankColumnsAndLineEnds)
{
    TempDir dir;
    auto two = Cloud(2, &Ramp);
    // The blank before the line end is left out: no separator before it.
    EXPECT_EQ(Exported(dir, two, Composition({kItemX, kItemBlank, kItemEndln})), "0.000\n1.250\n");
    // Without a line end, the lines follow one another, each ending with
    // the separator; trailing blanks are left out.
    AsciiDefinition pairs = Composition({kItemX, kItemY});
    pairs.separator = 2;
    EXPECT_EQ(Exported(dir, two, pairs), "0.000,1.000,1.250,2.250,");
    // An inner blank stays (a space between separators); columns after the
    // first line end are never written; no selection counts as blank.
    AsciiDefinition inner = Composition({kItemX, -1, kItemY, kItemEndln, kItemZ, kItemEndln});
    inner.separator = 3;
    EXPECT_EQ(Exported(dir, two, inner), "0.000; ;1.000\n1.250; ;2.250\n");
    // Colour and intensity columns of a model without those arrays hold a
    // single space; so does a negative intensity.
    auto negative = Cloud(2, &Ramp, nullptr, [](int i) { return i == 0 ? -1.0 : 0.2; });
    EXPECT_EQ(Exported(dir, negative, Composition({kItemR, kItemIntensity, kItemEndln})), "   \n  51\n");
    // A line end first gives empty lines.
    EXPECT_EQ(Exported(dir, two, Composition({kItemEndln, kItemX})), "\n\n");

    bool pruned[kAsciiColumns];
    const int twoEnds[kAsciiColumns] = {kItemX, kItemBlank, kItemEndln, kItemY, kItemBlank, kItemEndln, kItemBlank, kItemBlank};
    PruneColumns(twoEnds, pruned);
    // From the right: trailing blanks, the blank before the last line end;
    // the first non-blank column left of that line end ends the scan.
    const bool expected[kAsciiColumns] = {false, false, false, false, true, false, true, true};
    EXPECT_TRUE(std::equal(pruned, pruned + kAsciiColumns, expected));
}

TEST(AsciiExport, TheSimulationIsTheFilesFirstLinesForEveryOperator)
{
    TempDir dir;
    auto cloud = Cloud(7, [](int i, int c) { return 0.37 * i + c; }, [](int i, int c) { return 30.0 * i + c; },
                       [](int i) { return 4.64 * i; });
    for (int op = 0; op < kAsciiOperators; ++op)
        for (const char* constant : {"255", "0.5", "-3"}) {
            AsciiDefinition d;
            for (int v = 0; v < kAsciiVariables; ++v)
                d.formula[v] = op, d.value[v] = constant;
            const std::string file = Exported(dir, cloud, d);
            const std::string simulated = Simulated(cloud, d);
            size_t fifth = 0;
            for (int line = 0; line < 5; ++line)
                fifth = file.find('\n', fifth) + 1;
            EXPECT_EQ(simulated, file.substr(0, fifth)) << "operator " << op << " with " << constant;
        }
}

TEST(AsciiExport, TheSimulationShowsAtMostFiveLines)
{
    auto three = Cloud(3, &Ramp, &Bytes);
    // No intensity array: a space for the column, then the line end.
    EXPECT_EQ(Simulated(three, AsciiDefinition()), "0.000 1.000 2.000 0 80 160  \n"
                                                   "1.250 2.250 3.250 37 117 197  \n"
                                                   "2.500 3.500 4.500 74 154 234  \n");
    auto many = Cloud(1000, &Ramp);
    const std::string text = Simulated(many, Composition({kItemId, kItemEndln}));
    EXPECT_EQ(text, "1\n2\n3\n4\n5\n");
}

TEST(AsciiExport, DivisionByZeroStopsBeforeAnythingIsWritten)
{
    TempDir dir;
    auto data = Cloud(4, &Ramp, nullptr, [](int i) { return i < 2 ? -1.0 : 0.5; });
    WriteText(dir.File("keep.txt"), "the user's file");
    struct Case {
        int variable;
        const char* value;
        std::initializer_list<int> items;
        const char* message; // empty: no refusal
    } cases[] = {
        {kAsciiX, "0", {kItemX, kItemEndln}, "Division by 0 impossible for X coordinate"},
        {kAsciiX, "abc", {kItemY, kItemX, kItemEndln}, "Division by 0 impossible for X coordinate"},
        {kAsciiZ, "0.0", {kItemX, kItemZ, kItemEndln}, "Division by 0 impossible for Z coordinate"},
        {kAsciiX, "0", {kItemY, kItemEndln, kItemX}, ""},          // X after the line end is not written
        {kAsciiX, "0", {kItemY, kItemZ, kItemEndln}, ""},          // X not in the composition
        {kAsciiG, "0", {kItemG, kItemEndln}, ""},                  // no colours: nothing computed
        {kAsciiIntensity, "0", {kItemIntensity, kItemEndln}, "Division by 0 impossible for Intensity"},
    };
    for (const Case& c : cases) {
        AsciiDefinition d = Composition(c.items);
        d.formula[c.variable] = 1, d.value[c.variable] = c.value;
        std::string why, text = "unchanged";
        const ExportResult r = WriteAsciiExport(Source(data), d, dir.File("keep.txt"), nullptr, &why);
        if (*c.message) {
            EXPECT_EQ(r, ExportResult::Refused) << c.message;
            EXPECT_EQ(why, c.message);
            EXPECT_EQ(ReadText(dir.File("keep.txt")), "the user's file");
            EXPECT_FALSE(HasTemporary(dir.Path()));
            // The simulation reaches the intensity of point 3 too.
            EXPECT_FALSE(SimulateAsciiExport(Source(data), d, &text, &why));
            EXPECT_EQ(text, "unchanged");
        } else {
            EXPECT_EQ(r, ExportResult::Ok) << why;
            WriteText(dir.File("keep.txt"), "the user's file");
        }
    }
    // Intensities below zero compute nothing: no refusal when all are.
    auto noIntensity = Cloud(2, &Ramp, nullptr, [](int) { return -0.5; });
    AsciiDefinition d = Composition({kItemIntensity, kItemEndln});
    d.formula[kAsciiIntensity] = 1, d.value[kAsciiIntensity] = "0";
    EXPECT_EQ(Exported(dir, noIntensity, d), " \n \n");
}

TEST(AsciiExport, ArraysAreFoundByNameWithoutRegardToCase)
{
    TempDir dir;
    auto data = Cloud(1, &Ramp, &Bytes);
    vtkNew<vtkUnsignedCharArray> second; // the last match wins
    second->SetName("rgb");
    second->SetNumberOfComponents(3);
    second->InsertNextTuple3(7, 8, 9);
    data->GetPointData()->AddArray(second);
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("INTENSITY");
    intensity->InsertNextValue(1.0f);
    data->GetPointData()->AddArray(intensity);
    EXPECT_EQ(Exported(dir, data, Composition({kItemR, kItemG, kItemB, kItemIntensity, kItemEndln})), "7 8 9 255\n");
    // An array with too few components is no colour array.
    auto flat = Cloud(1, &Ramp);
    vtkNew<vtkFloatArray> grey;
    grey->SetName("RGB");
    grey->InsertNextValue(5);
    flat->GetPointData()->AddArray(grey);
    EXPECT_EQ(Exported(dir, flat, Composition({kItemR, kItemEndln})), " \n");
}

TEST(AsciiExport, TheDefinitionFile)
{
    TempDir dir;
    const std::string file = dir.File("def/ASCCIExportDefinition.ini");
    // Absent: the defaults.
    AsciiDefinition d = ReadAsciiDefinition(file);
    EXPECT_EQ(d.composition[0], kItemX);
    EXPECT_EQ(d.composition[7], kItemEndln);
    EXPECT_EQ(d.doubleFormat, 3);
    EXPECT_EQ(d.value[kAsciiIntensity], "1.0");

    d.formula[kAsciiB] = 3, d.value[kAsciiB] = "12.5 m";
    d.separator = 4, d.doubleFormat = 7, d.colorFormat = 1;
    d.composition[2] = kItemBlank;
    std::string why;
    ASSERT_TRUE(WriteAsciiDefinition(file, d, &why)) << why; // makes the folder
    const std::string text = ReadText(file);
    for (const char* section : {"[X]", "[Y]", "[Z]", "[R]", "[G]", "[B]", "[Intensity]", "[Separator]",
                                "[DoubleFormat]", "[ColorFormat]", "[Composition]"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    EXPECT_EQ(std::count(text.begin(), text.end(), '='), 7 * 2 + 3 + 8) << text;
    const AsciiDefinition back = ReadAsciiDefinition(file);
    EXPECT_EQ(back.formula[kAsciiB], 3);
    EXPECT_EQ(back.value[kAsciiB], "12.5 m");
    EXPECT_EQ(back.separator, 4);
    EXPECT_EQ(back.doubleFormat, 7);
    EXPECT_EQ(back.colorFormat, 1);
    EXPECT_EQ(back.composition[2], kItemBlank);

    // Stored indexes outside their lists, and damaged text, select the defaults.
    WriteText(file, "[Separator]\nval=9\n[DoubleFormat]\nval=-1\n[X]\nformula=x\n[Composition]\n3=10\n4=2junk\n"
                    "\x01\xff\xfe=\n");
    const AsciiDefinition bad = ReadAsciiDefinition(file);
    EXPECT_EQ(bad.separator, 0);
    EXPECT_EQ(bad.doubleFormat, 3);
    EXPECT_EQ(bad.formula[kAsciiX], 0);
    EXPECT_EQ(bad.composition[2], kItemZ);
    EXPECT_EQ(bad.composition[3], kItemY) << "the leading integer counts";

    // A definition that cannot be stored says so and leaves the old file.
    WriteText(dir.File("blocker"), "a file, not a folder");
    EXPECT_FALSE(WriteAsciiDefinition(dir.File("blocker/ASCCIExportDefinition.ini"), d, &why));
    EXPECT_FALSE(why.empty());
}

TEST(AsciiExport, AFailedOrAbortedExportKeepsTheFileThatWasThere)
{
    TempDir dir;
    auto data = Cloud(20000, &Ramp, &Bytes);
    WriteText(dir.File("keep.txt"), "the user's file");
    CSilentProgress abort;
    abort.Abort();
    EXPECT_EQ(WriteAsciiExport(Source(data), AsciiDefinition(), dir.File("keep.txt"), &abort), ExportResult::Aborted);
    EXPECT_EQ(ReadText(dir.File("keep.txt")), "the user's file");
    EXPECT_FALSE(HasTemporary(dir.Path()));
    std::string why;
    EXPECT_EQ(WriteAsciiExport(Source(data), AsciiDefinition(), dir.File("no/x.txt"), nullptr, &why),
              ExportResult::Failed);
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
    EXPECT_EQ(WriteAsciiExport(AsciiSource(), AsciiDefinition(), dir.File("x.txt"), nullptr, &why), ExportResult::Failed);
    EXPECT_EQ(why, "An error occurred while retrieving model points coordinates!");

    const std::string mnt = dir.File("small");
    ::mkdir(mnt.c_str(), 0755);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    WriteText(mnt + "/out.txt", "old");
    EXPECT_EQ(WriteAsciiExport(Source(data), AsciiDefinition(), mnt + "/out.txt", nullptr, &why), ExportResult::Failed);
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    EXPECT_EQ(ReadText(mnt + "/out.txt"), "old");
    EXPECT_FALSE(HasTemporary(mnt));
    ::umount(mnt.c_str());
}

TEST(AsciiExport, AModelOfADocumentAndTheCommandLine)
{
    TempDir dir;
    WriteModel(dir.File("a.vtp"), {3, 2, true, {RgbArray(), IntensityArray("Intensity", 0.25, 0.25)}});
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=100\nY=200\nZ=0\n");
    CRendererView view;
    CQuarlonDoc doc;
    doc.SetView(&view);
    CScanPos* model = doc.AddModel(dir.File("a.vtp"));
    ASSERT_NE(model, nullptr);
    const AsciiSource source = AsciiSourceOf(*model);
    ASSERT_NE(source.data, nullptr);
    ASSERT_EQ(WriteAsciiExport(source, AsciiDefinition(), dir.File("doc.txt"), nullptr), ExportResult::Ok);
    const std::string fromDoc = ReadText(dir.File("doc.txt"));
    EXPECT_EQ(std::count(fromDoc.begin(), fromDoc.end(), '\n'), 6);
    EXPECT_EQ(fromDoc.substr(0, 16), "100.000 200.000 ") << fromDoc;
    EXPECT_NE(fromDoc.find(" 63\n"), std::string::npos) << "0.25 x 255, truncated: " << fromDoc;

    // The command line with a definition file gives the same bytes.
    WriteAsciiDefinition(dir.File("def.ini"), AsciiDefinition());
    CliRun r = RunCli(dir, "export --format ascii --definition " + Q(dir.File("def.ini")) + " -o " +
                               Q(dir.File("cli.txt")) + " " + Q(dir.File("a.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(dir.File("cli.txt")), fromDoc);
    // Without --definition: the user's file.
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    AsciiDefinition commas;
    commas.separator = 2;
    ASSERT_EQ(AsciiDefinitionUserFile(), dir.File("quarlon/ASCCIExportDefinition.ini"));
    ASSERT_TRUE(WriteAsciiDefinition(AsciiDefinitionUserFile(), commas));
    r = RunCli(dir, "export --format ascii -o " + Q(dir.File("cli2.txt")) + " " + Q(dir.File("a.vtp")));
    oldConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string withCommas = fromDoc;
    std::replace(withCommas.begin(), withCommas.end(), ' ', ',');
    EXPECT_EQ(ReadText(dir.File("cli2.txt")), withCommas);

    // A division by zero: its message and exit 1; the old file stays.
    WriteText(dir.File("div.ini"), "[Y]\nformula=1\nvalue=0\n");
    r = RunCli(dir, "export --format ascii --definition " + Q(dir.File("div.ini")) + " -o " + Q(dir.File("cli.txt")) +
                        " " + Q(dir.File("a.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Division by 0 impossible for Y coordinate"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir.File("cli.txt")), fromDoc);
    // Exactly one model.
    WriteModel(dir.File("b.vtp"), {2, 2, true, {}});
    r = RunCli(dir, "export --format ascii -o " + Q(dir.File("two.txt")) + " " + Q(dir.File("a.vtp")) + " " +
                        Q(dir.File("b.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("one model"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir.File("two.txt")));
    // A definition file that does not exist is an error, not the defaults.
    r = RunCli(dir, "export --format ascii --definition " + Q(dir.File("none.ini")) + " -o " + Q(dir.File("x.txt")) +
                        " " + Q(dir.File("a.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("none.ini"), std::string::npos) << r.err;
}
