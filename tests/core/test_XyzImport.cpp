#include "Fixtures.h"
#include "XyzReference.h"
#include "core/common/ProfileFile.h"
#include "core/formats/XyzFormat.h"
#include "core/exchange/XyzImport.h"
#include "core/formats/XyzReader.h"
#include "core/exchange/Base64Stream.h"
#include "core/formats/CloudData.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkBase64OutputStream.h>
#include <vtkXMLPolyDataReader.h>

#include <cstring>
#include <random>
#include <sstream>

using namespace xyz;

namespace {

struct Classified {
    const char* line;
    int code;
    char separator;
};

vtkSmartPointer<vtkPolyData> ReadBack(const std::string& path)
{
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(path.c_str());
    reader->Update();
    return reader->GetOutput();
}

// Reads with the fast reader and the plain sscanf loop; both must agree
// bit for bit.
void ExpectSameAsReference(const std::string& path, size_t* countOut = nullptr)
{
    Cloud fast;
    const ReadResult r = ReadCloud(path, fast, nullptr);
    ReferenceCloud ref;
    const bool refOk = ReferenceRead(path, ref);
    ASSERT_EQ(r == ReadResult::Ok, refOk) << path;
    if (!refOk)
        return;
    ASSERT_EQ(fast.Code(), ref.code);
    ASSERT_EQ(fast.Count() * 3, ref.points.size()) << path;
    const size_t n = fast.Count();
    EXPECT_EQ(std::memcmp(fast.Points(), ref.points.data(), n * 3 * sizeof(double)), 0) << path;
    if (HasColour(ref.code)) {
        EXPECT_EQ(std::memcmp(fast.Colours(), ref.rgb.data(), n * 3), 0) << path;
    }
    if (HasIntensity(ref.code)) {
        EXPECT_EQ(std::memcmp(fast.Intensities(), ref.intensity.data(), n * sizeof(float)), 0) << path;
    }
    if (countOut)
        *countOut = n;
}

} // namespace

TEST(XyzFormat, ClassifiesTheNineLayouts)
{
    const Classified cases[] = {
        {"1.0 2.0 3.0\n", 0, ' '},
        {"   1 2 3\n", 0, ' '},
        {"1\t2\t3\t17\n", 1, '\t'},
        {"1 2 3 17\n", 1, ' '},
        {"1 2 3 0.5\n", 2, ' '},
        {"1;2;3;128;64;32\n", 3, ';'},
        {"1 2 3 .1 .2 .3\n", 4, ' '},
        {"1 2 3 4 5 6 7\n", 5, ' '},
        {"1,2,3,1,2,3,0.5\n", 6, ','},
        {"1,2,3,.1,.2,.3,7\n", 7, ','},
        {"1,2,3,0.5,0.25,1.0,0.7\n", 8, ','},
        {"1 2 3 4 5 6 7 8 9\n", 5, ' '},   // columns after the seventh are not looked at
        {"1 2 3 4", 0, ' '},               // the last field needs a line break
        {"-1.5|+2|3\n", 0, '|'},
        {"1 2 3 4 5\n", -1, ' '},          // five columns are no layout
        {"1 2 3\n", 0, ' '},
        {"1 2 3", -1, ' '},
        {"1e3 2 3\n", -1, 0},              // a letter in the first number: no separator
        {"1 2e3 3\n", -1, ' '},
        {"1 x 3\n", -1, ' '},
        {"1 2 3 4 5 x\n", -1, ' '},
        {"1 2 3 4 5.5 6\n", -1, ' '},      // integer typing, then a real
        {"\n", -1, 0},
        {"", -1, 0},
        {"123\n", -1, '\n'},
    };
    for (const Classified& c : cases) {
        char separator = 'X';
        EXPECT_EQ(DetectXyzLineFormat(c.line, &separator), c.code) << '"' << c.line << '"';
        EXPECT_EQ(separator, c.separator) << '"' << c.line << '"';
    }
    // A field longer than 63 characters fails rather than being cut.
    const std::string longField = "1 " + std::string(64, '2') + " 3\n";
    EXPECT_EQ(DetectXyzLineFormat(longField.c_str(), nullptr), -1);
    const std::string fits = "1 " + std::string(63, '2') + " 3\n";
    EXPECT_EQ(DetectXyzLineFormat(fits.c_str(), nullptr), 0);
    EXPECT_EQ(ScanFormat(3, ','), "%lf,%lf,%lf,%i,%i,%i\n");
    EXPECT_EQ(ScanFormat(0, ' '), "%lf %lf %lf\n");
}

TEST(XyzFormat, FieldsAndValueConversions)
{
    int start = 0, end = 0;
    ASSERT_TRUE(NextField("  12,34\n", start, end, ','));
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 4);
    start = end + 1;
    ASSERT_TRUE(NextField("  12,34\n", start, end, ','));
    EXPECT_EQ(end, 7);
    start = end + 1;
    EXPECT_FALSE(NextField("  12,34\n", start, end, ','));
    EXPECT_EQ(DetectSeparator("  1.5;2"), ';');
    EXPECT_EQ(DetectSeparator("-1-2+3.4"), 0);

    EXPECT_EQ(ColourFromReal(0.5), 128);
    EXPECT_EQ(ColourFromReal(0.25), 64);
    EXPECT_EQ(ColourFromReal(1.0), 255);
    EXPECT_EQ(ColourFromReal(0.0), 0);
    EXPECT_EQ(ColourFromInteger(200), 200);
    EXPECT_FLOAT_EQ(IntensityFromInteger(17), static_cast<float>(17 / 255.0));
    // Out-of-range reals wrap like the byte conversion of the platform, never crash.
    EXPECT_EQ(ColourFromReal(2.0), static_cast<unsigned char>(510));
    EXPECT_EQ(ColourFromReal(1e300), 0);
}

TEST(XyzReader, ScanLineAgreesWithSscanfOnOddTokens)
{
    const char* tokens[] = {"0", "-0", "+0", "7", "-7", "+7", "010", "08", "0x1F", "0X1f", "-0x10", "0x", "0xg",
                            "1.5", ".5", "5.", "-.5", "+.5", ".", "-", "+", "1e3", "1E-3", "1e", "1e+", "2.5e+2x",
                            "inf", "-INF", "nan", "infinity", "0x1.8p3", "1.5.3", "123456789", "1234567890",
                            "99999999999", "-2147483648", "4294967296", "00001.25", "1,5", "abc", "s1",
                            "179769313486231570000000000000000000000000000000000000000000000000000000000000000000000"
                            "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000.0",
                            "0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                            "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000001"};
    const char separators[] = {' ', ',', ';', '\t'};
    for (int code = 0; code <= 8; ++code)
        for (char sep : separators)
            for (const char* token : tokens) {
                // The odd token in the last slot, and in the first.
                for (int where = 0; where < 2; ++where) {
                    std::string line;
                    const int n = ValuesPerLine(code);
                    for (int k = 0; k < n; ++k) {
                        if (k)
                            line += sep;
                        line += ((where == 0 && k == n - 1) || (where == 1 && k == 0)) ? token : "1";
                    }
                    line += "\n";
                    double fast[7] = {0, 0, 0, 0, 0, 0, 0};
                    const int got = ScanLine(line.c_str(), code, sep, fast);
                    ReferenceCloud unused;
                    // The plain conversion, slot by slot, through sscanf.
                    const std::string format = ScanFormat(code, sep);
                    double d[7] = {0, 0, 0, 0, 0, 0, 0};
                    int i[7] = {0, 0, 0, 0, 0, 0, 0};
                    void* a[7];
                    for (int k = 0; k < 7; ++k) {
                        const bool integer = (k >= 3) && (code == 1 || code == 3 || code == 5 || (code == 6 && k < 6) || (code == 7 && k == 6));
                        a[k] = integer ? static_cast<void*>(&i[k]) : static_cast<void*>(&d[k]);
                    }
                    const int want = std::sscanf(line.c_str(), format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
                    ASSERT_EQ(got == n, want == n) << "code " << code << " line " << line;
                    if (want != n)
                        continue;
                    for (int k = 0; k < n; ++k) {
                        const double expected = a[k] == &i[k] ? static_cast<double>(i[k]) : d[k];
                        EXPECT_EQ(std::memcmp(&fast[k], &expected, sizeof(double)), 0)
                            << "code " << code << " slot " << k << " line " << line;
                    }
                }
            }
}

TEST(XyzReader, EdgeCasesOfTheFormatReadLikeTheReference)
{
    TempDir dir;
    const std::vector<std::pair<const char*, std::string>> files = {
        {"header.xyz", "Name_3DPOLY\n1 2 3\n4 5 6\n"},
        {"scanlines.txt", "1 2 3\nScan 2\n4 5 6\nsomething\n7 8 9\n"},
        {"stop.txt", "1 2 3\n4 5 6\nEND\n7 8 9\n"},
        {"blank.txt", "1 2 3\n\n4 5 6\n"},
        {"octal.txt", "1 2 3 010 011 08\n"},
        {"crlf.txt", "1,2,3,0.5,0.25,1.0,0.7\r\n4,5,6,1,0,0,0.1\r\n"},
        {"mixedends.txt", "1 2 3\r\n4 5 6\n7 8 9\r\n"},
        {"lastline.txt", "1 2 3 4\n5 6 7 8"},
        {"wide.txt", "1 2 3 4 5 6 7 8 9 10\n11 12 13 14 15 16 17 18\n"},
        {"spaces.txt", "1.5, 2.5, 3.5\n  4.5,5.5,   6.5\n7.5 ,8.5,9.5\n10,11,12\n"},
        {"nul.txt", std::string("1 2 3\n4 5\0 6\n7 8 9\n", 18)},
        {"exp.txt", "1 2 3\n1e3 2E-2 3.5e+1\n-1.5e-3 2 3\n"},
        {"hex.txt", "1 2 3 0x10 0X1f -0x2\n"},
    };
    for (const auto& f : files) {
        WriteText(dir.File(f.first), f.second);
        ExpectSameAsReference(dir.File(f.first));
    }
    Cloud c;
    ASSERT_EQ(ReadCloud(dir.File("octal.txt"), c, nullptr), ReadResult::Ok);
    EXPECT_EQ(c.Colours()[0], 8);
    EXPECT_EQ(c.Colours()[1], 9);
    EXPECT_EQ(c.Colours()[2], 0); // "08": a leading zero reads octal and 8 is not an octal digit
    Cloud s;
    ASSERT_EQ(ReadCloud(dir.File("stop.txt"), s, nullptr), ReadResult::Ok);
    EXPECT_EQ(s.Count(), 2u);
    Cloud b;
    ASSERT_EQ(ReadCloud(dir.File("blank.txt"), b, nullptr), ReadResult::Ok);
    EXPECT_EQ(b.Count(), 1u) << "an empty line ends the data";
    Cloud l;
    ASSERT_EQ(ReadCloud(dir.File("lastline.txt"), l, nullptr), ReadResult::Ok);
    EXPECT_EQ(l.Code(), 1);
    EXPECT_EQ(l.Count(), 2u);
}

TEST(XyzReader, LinesOf511And512CharactersAreReadInPieces)
{
    TempDir dir;
    for (int width : {509, 510, 511, 512, 513, 1100}) {
        for (bool crlf : {false, true}) {
            std::string line = "1 2 3";
            line += std::string(static_cast<size_t>(width) - line.size(), ' ');
            std::string text;
            for (int i = 0; i < 5; ++i)
                text += line + (crlf ? "\r\n" : "\n");
            text += "4 5 6\n";
            const std::string name = "w" + std::to_string(width) + (crlf ? "crlf" : "lf") + ".txt";
            WriteText(dir.File(name), text);
            size_t count = 0;
            ExpectSameAsReference(dir.File(name), &count);
            // A 511-character line plus its line break is two pieces; the
            // second, a lone line break, ends the data.
            if (width == 511) {
                EXPECT_EQ(count, 1u) << name;
            }
            if (width == 510) {
                EXPECT_EQ(count, 6u) << name;
            }
        }
    }
}

TEST(XyzReader, GeneratedFilesAreReadBitForBitLikeTheSscanfLoop)
{
    TempDir dir;
    std::mt19937 rng(20261206);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char seps[] = {' ', '\t', ',', ';', '|'};
    bool plain = false; // the first data line decides the layout: keep it plain
    auto realText = [&](bool georef) {
        char buf[64];
        switch (plain ? 11 : pick(12)) {
        case 0: std::snprintf(buf, sizeof buf, "%+.3f", (pick(2000000) - 1000000) / 997.0); break;
        case 1: std::snprintf(buf, sizeof buf, "%.6e", (pick(2000000) - 1000000) / 13.0); break;
        case 2: std::snprintf(buf, sizeof buf, "00%d.%d", pick(100), pick(1000)); break;
        case 3: std::snprintf(buf, sizeof buf, ".%d", pick(100000)); break;
        case 4: std::snprintf(buf, sizeof buf, "%d.", pick(1000)); break;
        case 5: std::snprintf(buf, sizeof buf, "%.17g", std::ldexp(static_cast<double>(rng()), -pick(60))); break;
        case 6: std::snprintf(buf, sizeof buf, "-%d", pick(100000)); break;
        default:
            std::snprintf(buf, sizeof buf, "%.*f", 1 + pick(6),
                          (georef ? 4500000.0 : 0.0) + (pick(20000000) - 10000000) / 1000.0);
        }
        return std::string(buf);
    };
    auto intText = [&]() {
        char buf[32];
        switch (plain ? 9 : pick(10)) {
        case 0: std::snprintf(buf, sizeof buf, "0%o", pick(256)); break;
        case 1: std::snprintf(buf, sizeof buf, "0x%X", pick(256)); break;
        case 2: std::snprintf(buf, sizeof buf, "+%d", pick(256)); break;
        case 3: std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(pick(2000000000)) * 7); break;
        default: std::snprintf(buf, sizeof buf, "%d", pick(256));
        }
        return std::string(buf);
    };
    size_t total = 0;
    for (int file = 0; file < 36; ++file) {
        const int code = file % 9;
        const char sep = seps[pick(5)];
        const bool crlfFile = pick(2) == 0;
        std::string text;
        if (pick(4) == 0)
            text += "Cloud_3dPoly export\n";
        const int lines = 6000 + pick(4000);
        // The data end at a line without "s"; what follows is not read.
        const int stopAt = pick(3) == 0 ? lines - 10 : -1;
        for (int l = 0; l < lines; ++l) {
            plain = l == 0;
            const int kind = plain ? 100 : pick(200);
            std::string line;
            if (kind == 0) {
                line = "Scan position " + std::to_string(l);
            } else {
                const int n = ValuesPerLine(code);
                for (int k = 0; k < n + (kind < 6 ? 2 : 0); ++k) { // sometimes extra columns
                    if (k) {
                        if (plain)
                            line += sep; // the classified line takes single separators
                        else if (sep == ' ' || sep == '\t')
                            line += std::string(1 + pick(2), pick(3) ? sep : '\t');
                        else
                            line += std::string(1, sep) + (pick(5) == 0 ? " " : "");
                    }
                    const bool integer = k >= 3 && (code == 1 || code == 3 || code == 5 || (code == 6 && k < 6) || (code == 7 && k == 6));
                    line += integer ? intText() : realText(k < 3);
                }
                if (kind == 7) { // over 511 characters: the rest is a piece of its own, with an "s"
                    line += std::string(static_cast<size_t>(std::max(0, 511 + pick(3) - static_cast<int>(line.size()))), ' ');
                    line += " sentinel";
                }
            }
            if (l == stopAt)
                line = "END OF DATA";
            const bool crlf = crlfFile ? pick(10) != 0 : pick(50) == 0;
            text += line + (crlf ? "\r\n" : "\n");
        }
        const std::string name = "gen" + std::to_string(file) + ".txt";
        WriteText(dir.File(name), text);
        size_t count = 0;
        ExpectSameAsReference(dir.File(name), &count);
        total += count;
    }
    // The files must not have stopped early on their own.
    EXPECT_GT(total, 200000u);
}

TEST(XyzImport, ConvertsCentredWithTheOffsetFileAndTheArrays)
{
    TempDir dir;
    WriteText(dir.File("site.xyz"), "Site_3DPOLY\n1000,20,5,0.5,0.25,1.0,0.7\n1010,30,7,0,0,0,0.1\nScan 2\n1005,25,6,1,1,1,0.4\n");
    std::vector<std::string> stages;
    AbortAtStage sink("never", &stages);
    ASSERT_EQ(ConvertXyzFile(dir.File("site.xyz"), dir.File("out.vtp"), &sink), ConvertResult::Ok);
    EXPECT_EQ(stages.front(), "Converting Data...");
    EXPECT_EQ(profile::GetString(dir.File("out.vtw"), "PolyData Offset", "X", "", 64), "1005.000000");
    EXPECT_EQ(profile::GetString(dir.File("out.vtw"), "PolyData Offset", "Y", "", 64), "25.000000");
    EXPECT_EQ(profile::GetString(dir.File("out.vtw"), "PolyData Offset", "Z", "", 64), "6.000000");
    vtkSmartPointer<vtkPolyData> poly = ReadBack(dir.File("out.vtp"));
    ASSERT_EQ(poly->GetNumberOfPoints(), 3);
    EXPECT_EQ(poly->GetPoints()->GetDataType(), VTK_DOUBLE);
    double p[3];
    poly->GetPoint(0, p);
    EXPECT_EQ(p[0], -5.0);
    poly->GetPoint(1, p);
    EXPECT_EQ(p[0], 5.0);
    EXPECT_EQ(poly->GetNumberOfVerts(), 3);
    EXPECT_EQ(poly->GetNumberOfPolys(), 0);
    vtkDataArray* rgb = poly->GetPointData()->GetScalars();
    ASSERT_NE(rgb, nullptr);
    EXPECT_STREQ(rgb->GetName(), "RGB");
    EXPECT_EQ(rgb->GetDataType(), VTK_UNSIGNED_CHAR);
    EXPECT_EQ(rgb->GetComponent(0, 0), 128);
    EXPECT_EQ(rgb->GetComponent(0, 1), 64);
    EXPECT_EQ(rgb->GetComponent(0, 2), 255);
    vtkDataArray* intensity = poly->GetPointData()->GetArray("Intensity");
    ASSERT_NE(intensity, nullptr);
    EXPECT_EQ(intensity->GetDataType(), VTK_FLOAT);
    EXPECT_FLOAT_EQ(static_cast<float>(intensity->GetComponent(0, 0)), 0.7f);
    EXPECT_EQ(poly->GetPointData()->GetNumberOfArrays(), 2);

    // Intensity alone is the active scalars.
    WriteText(dir.File("i.txt"), "1 2 3 17\n4 5 6 255\n");
    ASSERT_EQ(ConvertXyzFile(dir.File("i.txt"), dir.File("i.vtp"), nullptr), ConvertResult::Ok);
    poly = ReadBack(dir.File("i.vtp"));
    ASSERT_NE(poly->GetPointData()->GetScalars(), nullptr);
    EXPECT_STREQ(poly->GetPointData()->GetScalars()->GetName(), "Intensity");
    EXPECT_FLOAT_EQ(static_cast<float>(poly->GetPointData()->GetScalars()->GetComponent(0, 0)), 17 / 255.0f);
}

TEST(XyzImport, BadInputFailsAndProgressStaysInRange)
{
    TempDir dir;
    struct Bad {
        const char* name;
        std::string text;
    } bad[] = {{"empty.txt", ""},
               {"header.txt", "only_3dpoly header\n"},
               {"five.txt", "1 2 3 4 5\n"},
               {"word.txt", "x y z\n"},
               {"oneline.txt", "1 2 3"},
               {"emptyline.txt", "\n1 2 3\n"},
               {"binary.txt", std::string("\x01\x02\xff\x00\x7f", 5)}};
    for (const Bad& b : bad) {
        WriteText(dir.File(b.name), b.text);
        std::string why;
        EXPECT_EQ(ConvertXyzFile(dir.File(b.name), dir.File("out.vtp"), nullptr, &why), ConvertResult::Failed) << b.name;
        EXPECT_FALSE(why.empty());
    }
    WriteText(dir.File("ok.txt"), "1 2 3\n");
    EXPECT_EQ(ConvertXyzFile(dir.File("ok.txt"), dir.File("nodir/out.vtp"), nullptr), ConvertResult::Failed);
    EXPECT_EQ(ConvertXyzFile(dir.File("missing.txt"), dir.File("out.vtp"), nullptr), ConvertResult::Failed);

    // A long second line after a header makes the estimate 0: progress must
    // still stay within 0..100.
    struct Recorder : IProgressSink {
        std::vector<double> fractions;
        bool SetText(const std::string&) override { return true; }
        void SetFraction(double f) override { fractions.push_back(f); }
        bool IsAborted() const override { return false; }
    } recorder;
    std::string text = "x_3dpoly\n1 2 3" + std::string(400, ' ') + "\n";
    for (int i = 0; i < 50; ++i)
        text += "1 2 3\n";
    WriteText(dir.File("est.txt"), text);
    ASSERT_EQ(ConvertXyzFile(dir.File("est.txt"), dir.File("est.vtp"), &recorder), ConvertResult::Ok);
    for (double f : recorder.fractions) {
        EXPECT_GE(f, 0.0);
        EXPECT_LE(f, 1.0);
    }

    // Abort stops the conversion.
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += std::to_string(i) + " 2 3\n";
    WriteText(dir.File("many.txt"), many);
    struct Aborter : IProgressSink {
        bool SetText(const std::string&) override { return true; }
        void SetFraction(double f) override { aborted = f > 0.2; }
        bool IsAborted() const override { return aborted; }
        bool aborted = false;
    } aborter;
    EXPECT_EQ(ConvertXyzFile(dir.File("many.txt"), dir.File("many.vtp"), &aborter), ConvertResult::Aborted);
}

TEST(XyzImport, TemporaryNamesAndReplacingTheFinalFiles)
{
    TempDir dir;
    WriteText(dir.File("cloud.txt"), "1 2 3\n");
    ImportNames names = PlanImport(dir.File("cloud.txt"));
    EXPECT_EQ(names.baseName, "cloud");
    EXPECT_EQ(names.finalModel, dir.File("cloud.vtp"));
    EXPECT_EQ(names.finalOffset, dir.File("cloud.vtw"));
    // Temporary pairs are exclusive: two imports of one name never share one.
    ImportNames other = names;
    ASSERT_TRUE(ReserveImport(names));
    ASSERT_TRUE(ReserveImport(other));
    EXPECT_NE(names.tempModel, other.tempModel);
    EXPECT_EQ(names.tempModel.rfind(dir.File("cloud_Z-"), 0), 0u) << names.tempModel;
    EXPECT_EQ(names.tempModel.substr(names.tempModel.size() - 4), ".vtp");
    EXPECT_EQ(names.tempOffset, names.tempModel.substr(0, names.tempModel.size() - 4) + ".vtw");
    EXPECT_TRUE(FileExists(other.tempOffset));
    DiscardImport(other);
    EXPECT_FALSE(FileExists(other.tempModel));
    EXPECT_FALSE(FileExists(other.tempOffset));

    WriteText(dir.File("cloud.vtp"), "old model");
    WriteText(dir.File("cloud.vtw"), "old offset");
    ASSERT_EQ(ConvertXyzFile(dir.File("cloud.txt"), names.tempModel, nullptr), ConvertResult::Ok);
    ASSERT_TRUE(FinishImport(names));
    EXPECT_FALSE(FileExists(names.tempModel));
    EXPECT_FALSE(FileExists(names.tempOffset));
    EXPECT_EQ(ReadBack(dir.File("cloud.vtp"))->GetNumberOfPoints(), 1);
    EXPECT_EQ(profile::GetString(dir.File("cloud.vtw"), "PolyData Offset", "X", "", 64), "1.000000");

    // A failed conversion leaves the final files as they were.
    WriteText(dir.File("cloud.txt"), "not a cloud\n");
    names = PlanImport(dir.File("cloud.txt"));
    ASSERT_TRUE(ReserveImport(names));
    const std::string before = ReadText(dir.File("cloud.vtp"));
    ASSERT_EQ(ConvertXyzFile(dir.File("cloud.txt"), names.tempModel, nullptr), ConvertResult::Failed);
    DiscardImport(names);
    EXPECT_FALSE(FileExists(names.tempModel));
    EXPECT_EQ(ReadText(dir.File("cloud.vtp")), before);
}

#include "core/exchange/ParallelDeflate.h"

#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <cctype>
#include <functional>

namespace {

// A model file with the base64 payloads of its arrays left out: the XML
// that is not compressed data.
std::string WithoutPayloads(const std::string& file)
{
    std::string out;
    size_t at = 0;
    for (size_t tag; (tag = file.find("format=\"binary\"", at)) != std::string::npos;) {
        size_t p = file.find('>', tag) + 1;
        while (p < file.size() && std::isspace(static_cast<unsigned char>(file[p])))
            ++p;
        out.append(file, at, p - at);
        while (p < file.size() && (std::isalnum(static_cast<unsigned char>(file[p])) || file[p] == '+' ||
                                   file[p] == '/' || file[p] == '='))
            ++p;
        at = p;
    }
    return out + file.substr(at);
}

std::string WrittenByVtk(vtkPolyData* poly, const std::string& out);

// The same poly data through VTK's own writer with the import's settings.
std::string WrittenByVtk(const std::string& model, const std::string& out)
{
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(model.c_str());
    reader->Update();
    return WrittenByVtk(reader->GetOutput(), out);
}

std::string WrittenByVtk(vtkPolyData* poly, const std::string& out)
{
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(poly);
    writer->SetFileName(out.c_str());
    writer->SetDataModeToBinary();
    writer->SetCompressorTypeToZLib();
    writer->SetCompressionLevel(1);
    writer->SetHeaderTypeToUInt32();
    writer->SetIdTypeToInt32();
    writer->Write();
    return ReadText(out);
}

void ExpectSameArrays(const std::string& a, const std::string& b)
{
    vtkNew<vtkXMLPolyDataReader> ra, rb;
    ra->SetFileName(a.c_str());
    rb->SetFileName(b.c_str());
    ra->Update();
    rb->Update();
    vtkPolyData* pa = ra->GetOutput();
    vtkPolyData* pb = rb->GetOutput();
    ASSERT_EQ(pa->GetNumberOfPoints(), pb->GetNumberOfPoints());
    ASSERT_EQ(pa->GetNumberOfVerts(), pb->GetNumberOfVerts());
    auto same = [](vtkDataArray* x, vtkDataArray* y) {
        if (!x || !y || x->GetNumberOfValues() != y->GetNumberOfValues())
            return false;
        for (vtkIdType i = 0; i < x->GetNumberOfValues(); ++i)
            if (x->GetVariantValue(i) != y->GetVariantValue(i))
                return false;
        return true;
    };
    EXPECT_TRUE(same(pa->GetPoints()->GetData(), pb->GetPoints()->GetData()));
    EXPECT_TRUE(same(pa->GetVerts()->GetConnectivityArray(), pb->GetVerts()->GetConnectivityArray()));
    EXPECT_TRUE(same(pa->GetVerts()->GetOffsetsArray(), pb->GetVerts()->GetOffsetsArray()));
    ASSERT_EQ(pa->GetPointData()->GetNumberOfArrays(), pb->GetPointData()->GetNumberOfArrays());
    for (int i = 0; i < pa->GetPointData()->GetNumberOfArrays(); ++i)
        EXPECT_TRUE(same(pa->GetPointData()->GetArray(i), pb->GetPointData()->GetArray(i))) << i;
}

} // namespace

TEST(XyzImport, ParallelBlocksMakeTheFileVtksWriterMakes)
{
    TempDir dir;
    std::mt19937 random(7);
    // Sizes around the 32768-byte block of each array: one point, exactly
    // one block of intensities (8192 floats), one byte over a block of
    // colours, and many blocks.
    for (int n : {1, 8192, 10923, 4096 * 3 + 1, 150000}) {
        for (const char* layout : {"xyz", "xyzi", "xyzrgb", "xyzrgbi"}) {
            std::string text;
            for (int i = 0; i < n; ++i) {
                char line[160];
                const double x = 500000 + (random() % 100000) / 1000.0, y = 4500000 + (random() % 100000) / 1000.0;
                const double z = (random() % 10000) / 1000.0;
                const int r = random() % 256, g = random() % 256, b = random() % 256, in = random() % 2048;
                const std::string l(layout);
                if (l == "xyz")
                    std::snprintf(line, sizeof line, "%.3f %.3f %.3f\n", x, y, z);
                else if (l == "xyzi")
                    std::snprintf(line, sizeof line, "%.3f %.3f %.3f %d\n", x, y, z, in);
                else if (l == "xyzrgb")
                    std::snprintf(line, sizeof line, "%.3f %.3f %.3f %d %d %d\n", x, y, z, r, g, b);
                else
                    std::snprintf(line, sizeof line, "%.3f %.3f %.3f %d %d %d %d\n", x, y, z, r, g, b, in);
                text += line;
            }
            const std::string source = dir.File(std::string(layout) + ".txt");
            WriteText(source, text);
            const std::string label = std::string(layout) + " x " + std::to_string(n);
            // zlib's own deflate: the whole file is VTK's.
            SetDeflater(zblock::Method::Zlib);
            ASSERT_EQ(ConvertXyzFile(source, dir.File("zlib.vtp"), nullptr), ConvertResult::Ok) << label;
            const BlockCounts counts = LastBlockCounts();
            EXPECT_GT(counts.planned, 0u) << label;
            EXPECT_EQ(counts.served, counts.planned) << label << ": every planned block was handed over";
            EXPECT_EQ(counts.unplanned, 0u) << label;
            const std::string ours = ReadText(dir.File("zlib.vtp"));
            EXPECT_TRUE(ours == WrittenByVtk(dir.File("zlib.vtp"), dir.File("vtk.vtp"))) << label;
            // ISA-L: other compressed bytes, the same XML and the same values.
            SetDeflater(zblock::Method::Isal);
            ASSERT_EQ(ConvertXyzFile(source, dir.File("isal.vtp"), nullptr), ConvertResult::Ok) << label;
            EXPECT_EQ(LastBlockCounts().unplanned, 0u) << label;
            EXPECT_TRUE(WithoutPayloads(ReadText(dir.File("isal.vtp"))) == WithoutPayloads(ours)) << label;
            ExpectSameArrays(dir.File("isal.vtp"), dir.File("zlib.vtp"));
        }
    }
}

TEST(XyzImport, BlocksThatWereNotPlannedAreStillCompressedRight)
{
    // A compressor asked for other bytes than planned compresses them on
    // the spot; the planned ones still come in order.
    std::vector<unsigned char> planned(100000), other(5000, 7);
    for (size_t i = 0; i < planned.size(); ++i)
        planned[i] = static_cast<unsigned char>((i * 31) ^ (i >> 7));
    vtkNew<vtkParallelZLibCompressor> compressor;
    compressor->SetCompressionLevel(1);
    compressor->Start({{planned.data(), planned.size()}}, 32768, zblock::Method::Isal, 2);
    auto roundTrip = [&](const unsigned char* data, size_t size) {
        vtkSmartPointer<vtkUnsignedCharArray> packed;
        packed.TakeReference(compressor->Compress(data, size));
        std::vector<unsigned char> back(size);
        compressor->Uncompress(packed->GetPointer(0), static_cast<size_t>(packed->GetNumberOfValues()), back.data(), size);
        return back == std::vector<unsigned char>(data, data + size);
    };
    EXPECT_TRUE(roundTrip(other.data(), other.size()));
    for (size_t at = 0; at < planned.size(); at += 32768)
        EXPECT_TRUE(roundTrip(planned.data() + at, std::min<size_t>(32768, planned.size() - at)));
    EXPECT_TRUE(roundTrip(other.data(), other.size()));
    EXPECT_EQ(compressor->Served(), 4u);
    EXPECT_EQ(compressor->Unplanned(), 2u);
    EXPECT_STREQ(compressor->GetClassName(), "vtkZLibDataCompressor") << "the name files record";
    compressor->Stop();
}

namespace {

struct TwoWayRead {
    ReadResult result;
    std::vector<double> points;
    std::vector<unsigned char> colours;
    std::vector<float> intensities;
};

TwoWayRead ReadWith(const std::string& file, long long threshold)
{
    SetTwoReaderThreshold(threshold);
    Cloud cloud;
    TwoWayRead r;
    r.result = ReadCloud(file, cloud, nullptr);
    SetTwoReaderThreshold(32LL << 20);
    const size_t n = cloud.Count();
    r.points.assign(cloud.Points(), cloud.Points() + 3 * n);
    if (cloud.Colours())
        r.colours.assign(cloud.Colours(), cloud.Colours() + 3 * n);
    if (cloud.Intensities())
        r.intensities.assign(cloud.Intensities(), cloud.Intensities() + n);
    return r;
}

} // namespace

TEST(XyzReader, TwoReadersReadWhatOneReads)
{
    TempDir dir;
    std::mt19937 random(11);
    auto number = [&](int scale) { return std::to_string(static_cast<int>(random() % 100000)) + "." + std::to_string(random() % scale); };
    struct Case {
        const char* name;
        std::function<std::string(int i, int n)> line;
        const char* header;
        int readers = 2; // 0: as the first line's length allows
    } cases[] = {
        {"xyzrgbi", [&](int, int) { return number(1000) + " " + number(1000) + " " + number(10) + " " + std::to_string(random() % 256) + " 7 9 " + std::to_string(random() % 4096) + "\n"; }, ""},
        {"xyz, CR LF, header", [&](int, int) { return number(1000) + "," + number(1000) + "," + number(1000) + "\r\n"; }, "Site_3DPOLY\r\n", 0},
        {"scan lines in both halves", [&](int i, int n) { return (i % 997 == 5 ? std::string("Scan ") + std::to_string(i) + "\n" : std::string()) + number(100) + " " + number(100) + " " + number(100) + " 0.5\n"; (void)n; }, ""},
        {"data end in the first half", [&](int i, int n) { return i == n / 4 ? std::string("1 2 x\n") : number(100) + " " + number(100) + " " + number(100) + "\n"; }, ""},
        {"data end in the second half", [&](int i, int n) { return i == 3 * n / 4 ? std::string("garbage\n") : number(100) + " " + number(100) + " " + number(100) + "\n"; }, ""},
        {"long lines in pieces", [&](int i, int) { return number(100) + " " + number(100) + " " + number(100) + (i % 50 == 0 ? std::string(700, ' ') + "9" : std::string()) + "\n"; }, ""},
        // A long first line promises few lines; short ones follow: the
        // arrays cannot hold the halves and one reader takes over.
        {"short lines after a long first", [&](int i, int) { return i == 0 ? std::string("1000000.000001 2000000.000001 3000000.000001\n") : std::string("1 2 3\n"); }, "", 1},
    };
    for (const Case& c : cases) {
        const int n = 60000;
        std::string text = c.header;
        for (int i = 0; i < n; ++i)
            text += c.line(i, n);
        const std::string file = dir.File("f.txt");
        WriteText(file, text);
        const TwoWayRead one = ReadWith(file, 1LL << 60);
        EXPECT_EQ(ReadersOfLastRead(), 1) << c.name;
        const TwoWayRead two = ReadWith(file, 1);
        if (c.readers) {
            EXPECT_EQ(ReadersOfLastRead(), c.readers) << c.name;
        }
        ASSERT_EQ(one.result, ReadResult::Ok) << c.name;
        EXPECT_EQ(two.result, one.result) << c.name;
        EXPECT_GT(one.points.size(), 0u) << c.name;
        EXPECT_TRUE(two.points == one.points) << c.name << ": " << two.points.size() << " vs " << one.points.size();
        EXPECT_TRUE(two.colours == one.colours) << c.name;
        EXPECT_TRUE(two.intensities == one.intensities) << c.name;
    }
}

TEST(XyzImport, TableBase64WritesWhatVtksEncoderWrites)
{
    // The same bytes in the same pieces through both encoders: pieces of
    // 0, 1 and 2 bytes carried into the next, runs over the encoder's
    // chunk, and each writing's padded end.
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::ostringstream ours, theirs;
        vtkNew<vtkFastBase64OutputStream> fast;
        vtkNew<vtkBase64OutputStream> vtk;
        fast->SetStream(&ours);
        vtk->SetStream(&theirs);
        const int writings = 1 + static_cast<int>(random() % 3);
        for (int w = 0; w < writings; ++w) {
            ASSERT_TRUE(fast->StartWriting());
            ASSERT_TRUE(vtk->StartWriting());
            const int pieces = static_cast<int>(random() % 6);
            for (int p = 0; p < pieces; ++p) {
                const size_t size = random() % 2 ? random() % 4 : random() % (round < 190 ? 5000 : 300000);
                std::vector<unsigned char> bytes(size);
                for (auto& b : bytes)
                    b = static_cast<unsigned char>(random());
                EXPECT_TRUE(fast->Write(bytes.data(), size));
                EXPECT_TRUE(vtk->Write(bytes.data(), size));
            }
            EXPECT_TRUE(fast->EndWriting());
            EXPECT_TRUE(vtk->EndWriting());
        }
        ASSERT_EQ(ours.str(), theirs.str()) << "round " << round;
    }
    // Empty arrays are written with no data pointer.
    std::ostringstream nothing;
    vtkNew<vtkFastBase64OutputStream> empty;
    empty->SetStream(&nothing);
    EXPECT_TRUE(empty->StartWriting());
    EXPECT_TRUE(empty->Write(nullptr, 0));
    EXPECT_TRUE(empty->EndWriting());
    EXPECT_EQ(nothing.str(), "");
    // A stream that fails is reported.
    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    vtkNew<vtkFastBase64OutputStream> fast;
    fast->SetStream(&broken);
    const unsigned char bytes[4] = {1, 2, 3, 4};
    fast->StartWriting();
    EXPECT_FALSE(fast->Write(bytes, 4));
    EXPECT_FALSE(fast->EndWriting());
}

TEST(XyzImport, EmptyAndTwoMillionPointModelsAreVtksFilesBothWays)
{
    TempDir dir;
    auto bytesOf = [](const std::string& path) { return ReadText(path); };
    // An empty model: no points, no cells, no arrays; and poly data
    // without even a points object.
    clouddata::Arrays none;
    vtkSmartPointer<vtkPolyData> empty = clouddata::NewCloud(0, true, true, none);
    ASSERT_TRUE(empty && clouddata::AddVertexCells(empty));
    SetDeflater(zblock::Method::Zlib);
    vtkNew<vtkPolyData> bare;
    ASSERT_EQ(WriteModelFile(bare, dir.File("bare.vtp"), nullptr), ConvertResult::Ok);
    EXPECT_NE(bytesOf(dir.File("bare.vtp")).find("NumberOfPoints=\"0\""), std::string::npos);
    ASSERT_EQ(WriteModelFile(empty, dir.File("empty.vtp"), nullptr), ConvertResult::Ok);
    EXPECT_EQ(bytesOf(dir.File("empty.vtp")), WrittenByVtk(empty.Get(), dir.File("empty_vtk.vtp")));

    // 2,000,000 points with colours and intensities, as an import makes them.
    const size_t n = 2000000;
    clouddata::Arrays a;
    vtkSmartPointer<vtkPolyData> big = clouddata::NewCloud(n, true, true, a);
    ASSERT_TRUE(big);
    std::mt19937 random(17);
    for (size_t i = 0; i < n; ++i) {
        a.points[3 * i] = (random() % 200000) / 1000.0 - 100;
        a.points[3 * i + 1] = (random() % 200000) / 1000.0 - 100;
        a.points[3 * i + 2] = (random() % 20000) / 1000.0;
        for (int k = 0; k < 3; ++k)
            a.rgb[3 * i + k] = static_cast<unsigned char>(random());
        a.intensity[i] = static_cast<float>(random() % 2048) / 255.0f;
    }
    ASSERT_TRUE(clouddata::AddVertexCells(big));
    ASSERT_EQ(WriteModelFile(big, dir.File("zlib.vtp"), nullptr), ConvertResult::Ok);
    EXPECT_EQ(LastBlockCounts().unplanned, 0u);
    const std::string zlibFile = bytesOf(dir.File("zlib.vtp"));
    EXPECT_TRUE(zlibFile == WrittenByVtk(big.Get(), dir.File("vtk.vtp"))) << "byte for byte VTK's";
    SetDeflater(zblock::Method::Isal);
    ASSERT_EQ(WriteModelFile(big, dir.File("isal.vtp"), nullptr), ConvertResult::Ok);
    EXPECT_EQ(LastBlockCounts().unplanned, 0u);
    EXPECT_TRUE(WithoutPayloads(bytesOf(dir.File("isal.vtp"))) == WithoutPayloads(zlibFile));
    // Read back by VTK's reader: the very arrays written.
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(dir.File("isal.vtp").c_str());
    reader->Update();
    vtkPolyData* back = reader->GetOutput();
    ASSERT_EQ(back->GetNumberOfPoints(), static_cast<vtkIdType>(n));
    ASSERT_EQ(back->GetNumberOfVerts(), static_cast<vtkIdType>(n));
    EXPECT_EQ(std::memcmp(back->GetPoints()->GetData()->GetVoidPointer(0), a.points, n * 3 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(back->GetPointData()->GetArray("RGB")->GetVoidPointer(0), a.rgb, n * 3), 0);
    EXPECT_EQ(std::memcmp(back->GetPointData()->GetArray("Intensity")->GetVoidPointer(0), a.intensity, n * sizeof(float)), 0);
    EXPECT_EQ(back->GetVerts()->GetConnectivityArray()->GetComponent(1999999, 0), 1999999);
}
