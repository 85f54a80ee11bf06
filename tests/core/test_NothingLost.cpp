// The command line fed what users and accidents feed it: outputs named like
// their inputs, two commands writing one file at once, sources whose reads
// fail, legal files that look odd, damaged measure files and inputs that
// would flood a terminal. Nothing the user has may be lost, and every
// failure says why.
#include "CliRun.h"
#include "core/common/SafeFile.h"
#include "core/exchange/XyzImport.h"
#include "core/measure/MeasureFile.h"
#include "core/measure/MeasureGeometry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Cloud(int n, double shift)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += std::to_string(i + shift) + " " + std::to_string(2 * i) + " 1.5 10 20 30\n";
    return text;
}

// Imports `name` (an XYZ text) into NAME.vtp beside it.
void ImportCloud(const TempDir& dir, const std::string& name, int n, double shift = 0)
{
    WriteText(dir.File(name), Cloud(n, shift));
    const CliRun r = RunCli(dir, "import " + Q(dir.File(name)));
    ASSERT_EQ(r.status, 0) << r.err;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Timer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double Seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

} // namespace

TEST(NothingLost, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    ImportCloud(dir, "m.xyz", 50);
    ::mkdir(dir.File("sub").c_str(), 0755);
    ASSERT_EQ(::symlink(dir.File("m.vtp").c_str(), dir.File("link.txt").c_str()), 0);
    const std::string model = ReadText(dir.File("m.vtp"));
    const std::string offset = ReadText(dir.File("m.vtw"));
    // Every spelling of the model, and its offset file, as the output.
    for (const std::string& output : {dir.File("m.vtp"), dir.File("sub/../m.vtp"), dir.File("link.txt"), dir.File("m.vtw")})
        for (const char* format : {"xyzrgb", "ply", "ply-binary", "vrml", "ascii"}) {
            const CliRun r = RunCli(dir, std::string("export --format ") + format + " -o " + Q(output) + " " +
                                             Q(dir.File("m.vtp")));
            EXPECT_EQ(r.status, 1) << format << " " << output;
            EXPECT_TRUE(Contains(r.err, "is the same file as")) << r.err;
            EXPECT_TRUE(Contains(r.err, output)) << "the output is named: " << r.err;
        }
    EXPECT_TRUE(ReadText(dir.File("m.vtp")) == model) << "the model changed";
    EXPECT_EQ(ReadText(dir.File("m.vtw")), offset);
    EXPECT_FALSE(HasTemporary(dir.Path()));

    // A PLY read and written; an OBJ whose output gains ".obj".
    ASSERT_EQ(RunCli(dir, "export --format ply -o " + Q(dir.File("scan.ply")) + " " + Q(dir.File("m.vtp"))).status, 0);
    const std::string ply = ReadText(dir.File("scan.ply"));
    CliRun r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("scan.ply")) + " " + Q(dir.File("scan.ply")));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(ReadText(dir.File("scan.ply")) == ply);
    WriteText(dir.File("mesh.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    r = RunCli(dir, "export --format obj -o " + Q(dir.File("mesh")) + " " + Q(dir.File("mesh.obj")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "mesh.obj is the same file as")) << r.err;
    EXPECT_EQ(ReadText(dir.File("mesh.obj")), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_FALSE(FileExists(dir.File("mesh.mtl"))) << "nothing is written when one output is refused";

    // An export definition is an input too.
    WriteText(dir.File("def.ini"), "[Separator]\nval=3\n");
    r = RunCli(dir, "export --format ascii --definition " + Q(dir.File("def.ini")) + " -o " + Q(dir.File("def.ini")) +
                        " " + Q(dir.File("m.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadText(dir.File("def.ini")), "[Separator]\nval=3\n");
}

TEST(NothingLost, AnImportNeverWritesOverItsOwnSource)
{
    TempDir dir;
    // A text cloud named like the offset file, or like the model, it would become.
    for (const char* name : {"pts.vtw", "m.vtp"}) {
        WriteText(dir.File(name), "1 2 3\n4 5 6\n");
        for (const char* flag : {"", " --overwrite"}) {
            const CliRun r = RunCli(dir, "import " + Q(dir.File(name)) + flag);
            EXPECT_EQ(r.status, 1) << name << flag;
            EXPECT_TRUE(Contains(r.err, "is the same file as")) << r.err;
            EXPECT_EQ(ReadText(dir.File(name)), "1 2 3\n4 5 6\n") << name;
        }
        ::unlink(dir.File(name).c_str());
        EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"stderr.txt", "stdout.txt"})) << "nothing left behind";
    }
}

TEST(NothingLost, TwoExportsToOneFileLeaveOneCompleteFile)
{
    TempDir dir;
    ImportCloud(dir, "a.xyz", 20000, 0);
    ImportCloud(dir, "b.xyz", 30000, 0.25);
    ASSERT_EQ(RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("a.txt")) + " " + Q(dir.File("a.vtp"))).status, 0);
    ASSERT_EQ(RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("b.txt")) + " " + Q(dir.File("b.vtp"))).status, 0);
    const std::string a = ReadText(dir.File("a.txt")), b = ReadText(dir.File("b.txt"));
    for (int round = 0; round < 4; ++round) {
        const std::string out = dir.File("out.txt");
        const std::string cli = std::string("'") + QUARLON_CLI + "' export --format xyzrgb -o " + Q(out) + " ";
        const std::string cmd = "(" + cli + Q(dir.File("a.vtp")) + " & " + cli + Q(dir.File("b.vtp")) + " & wait) 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const std::string result = ReadText(out);
        EXPECT_TRUE(result == a || result == b) << "round " << round << ": a mixture of " << result.size() << " bytes";
        EXPECT_FALSE(HasTemporary(dir.Path()));
    }
}

TEST(NothingLost, TwoImportsOfOneNameWithoutOverwriteKeepTheFirstModel)
{
    TempDir dir;
    WriteText(dir.File("x.xyz"), Cloud(60000, 0));
    WriteText(dir.File("x.txt"), Cloud(40000, 0.5));
    const std::string cli = std::string("'") + QUARLON_CLI + "' import ";
    const std::string cmd = "(" + cli + Q(dir.File("x.xyz")) + " >/dev/null 2>" + Q(dir.File("e1")) + "; echo $? >" +
                            Q(dir.File("s1")) + ") & (" + cli + Q(dir.File("x.txt")) + " >/dev/null 2>" +
                            Q(dir.File("e2")) + "; echo $? >" + Q(dir.File("s2")) + ") & wait";
    ASSERT_EQ(std::system(("bash -c " + Q(cmd)).c_str()), 0);
    const std::string s1 = ReadText(dir.File("s1")), s2 = ReadText(dir.File("s2"));
    EXPECT_TRUE((s1 == "0\n") != (s2 == "0\n")) << "exactly one import wins: " << s1 << s2;
    const std::string loser = s1 == "0\n" ? ReadText(dir.File("e2")) : ReadText(dir.File("e1"));
    EXPECT_TRUE(Contains(loser, "x.vtp already exists")) << loser;
    const CliRun info = RunCli(dir, "info " + Q(dir.File("x.vtp")));
    EXPECT_TRUE(Contains(info.out, s1 == "0\n" ? "\"points\":60000" : "\"points\":40000")) << info.out;
    for (const std::string& name : Names(dir.Path()))
        EXPECT_EQ(name.find("_Z"), std::string::npos) << "left behind: " << name;

    // A model created after the import started is kept, whoever made it.
    xyz::ImportNames names = xyz::PlanImport(dir.File("y.xyz"));
    WriteText(dir.File("y.xyz"), Cloud(10, 0));
    ASSERT_TRUE(xyz::ReserveImport(names));
    ASSERT_EQ(xyz::ConvertXyzFile(dir.File("y.xyz"), names.tempModel, nullptr), xyz::ConvertResult::Ok);
    WriteText(dir.File("y.vtp"), "someone else's model");
    std::string why;
    EXPECT_FALSE(xyz::FinishImport(names, &why, false));
    EXPECT_TRUE(Contains(why, "already exists")) << why;
    xyz::DiscardImport(names);
    EXPECT_EQ(ReadText(dir.File("y.vtp")), "someone else's model");
    EXPECT_FALSE(FileExists(names.tempModel));
    EXPECT_FALSE(FileExists(names.tempOffset));
}

TEST(NothingLost, ReplaceOnlyWhenAskedHoldsWithoutRenameat2OrLinks)
{
    TempDir dir;
    struct Restore {
        ~Restore() { safefile::SimulateMissingNoReplace(false, false); }
    } restore;
    const std::pair<bool, bool> systems[] = {{false, false}, {true, false}, {true, true}};
    for (const auto& [noRenameat2, noLinks] : systems) {
        safefile::SimulateMissingNoReplace(noRenameat2, noLinks);
        const std::string target = dir.File("target");
        ::unlink(target.c_str());
        std::string why;
        std::string temp = safefile::CreateTemp(target, &why);
        ASSERT_FALSE(temp.empty()) << why;
        WriteText(temp, "first");
        EXPECT_TRUE(safefile::Publish(temp, target, false, &why)) << why;
        temp = safefile::CreateTemp(target, &why);
        WriteText(temp, "second");
        EXPECT_FALSE(safefile::Publish(temp, target, false, &why));
        EXPECT_TRUE(Contains(why, "already exists")) << why;
        EXPECT_EQ(ReadText(target), "first");
        EXPECT_FALSE(FileExists(temp)) << "a refused temporary file is removed";
        temp = safefile::CreateTemp(target, &why);
        WriteText(temp, "third");
        EXPECT_TRUE(safefile::Publish(temp, target, true, &why)) << why;
        EXPECT_EQ(ReadText(target), "third");
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"target"});
    }
}

TEST(NothingLost, SourcesWhoseReadsFailAreTheirModelsFailureNotTheProgramsEnd)
{
    TempDir dir;
    ImportCloud(dir, "good.xyz", 10);
    for (const char* name : {"mem.vtp", "mem.ply", "rd.xyz", "rd.ply", "pagemap.las"})
        ASSERT_EQ(::symlink(Contains(name, "pagemap") ? "/proc/self/pagemap" : "/proc/self/mem", dir.File(name).c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.File("pipe.vtp").c_str(), 0644), 0);
    const auto before = Names(dir.Path());
    for (const char* name : {"mem.vtp", "mem.ply", "pagemap.las", "pipe.vtp"}) {
        const CliRun r = RunCli(dir, std::string("info ") + Q(dir.File(name)));
        EXPECT_EQ(r.status, 1) << name << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "not a regular file")) << name << ": " << r.err;
    }
    for (const char* name : {"rd.xyz", "rd.ply"}) {
        const CliRun r = RunCli(dir, std::string("import ") + Q(dir.File(name)));
        EXPECT_EQ(r.status, 1) << name << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "not a regular file")) << name << ": " << r.err;
    }
    EXPECT_EQ(Names(dir.Path()), before) << "nothing is left behind";

    // A project: the others still load.
    WriteText(dir.File("site.mvtp"), "3\nmem.vtp\ngood.vtp\npipe.vtp\n");
    const CliRun r = RunCli(dir, "info " + Q(dir.File("site.mvtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "good.vtp")) << r.out;
    EXPECT_TRUE(Contains(r.err, "not a regular file")) << r.err;
}

TEST(NothingLost, LegalFilesOfOtherFormatsOpenAndDamagedOnesFailAtOnce)
{
    TempDir dir;
    // A PLY element of 2^32 and of 2^64 - 1 items without properties.
    for (const char* count : {"4294967296", "18446744073709551615"}) {
        WriteText(dir.File("empty.ply"), std::string("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                                                     "property float y\nproperty float z\nelement nothing ") +
                                             count + "\nend_header\n0 0 0\n1 0 0\n0 1 0\n");
        const Timer timer;
        const CliRun r = RunCli(dir, "info " + Q(dir.File("empty.ply")));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "\"points\":3")) << r.out;
        EXPECT_LT(timer.Seconds(), 10.0);
    }
    // A binary body cannot hold what its count declares.
    WriteText(dir.File("short.ply"), "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n"
                                     "property float x\nproperty float y\nproperty float z\nend_header\n0000");
    CliRun r = RunCli(dir, "info " + Q(dir.File("short.ply")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "more data than the file holds")) << r.err;

    // An STL solid's name is free text.
    WriteText(dir.File("named.stl"), "solid vertex_colors\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                     "vertex 0 1 0\nendloop\nendfacet\nendsolid vertex_colors\n");
    r = RunCli(dir, "info " + Q(dir.File("named.stl")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\"points\":3")) << r.out;

    // OBJ: an index beyond 32 bits is no small index; a 10 MB comment is a comment.
    WriteText(dir.File("wrap.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 4294967298 3\n");
    r = RunCli(dir, "info " + Q(dir.File("wrap.obj")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "line 4")) << r.err;
    WriteText(dir.File("long.obj"), "# " + std::string(10 << 20, 'c') + "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf -3 -2 -1\n");
    r = RunCli(dir, "info " + Q(dir.File("long.obj")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\"points\":3,\"cells\":2")) << r.out;
    WriteText(dir.File("far.obj"), "v 0 0 0\nf 1 1 2\n");
    r = RunCli(dir, "info " + Q(dir.File("far.obj")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "line 2: a corner refers to a vertex that does not exist")) << r.err;
}

TEST(NothingLost, DamagedMeasureFilesLoadWhatIsWholeAndNameTheRest)
{
    TempDir dir;
    const std::string whole = "2\r\nroof\r\n3\r\n0;0.000;0.000;0.000\r\n1;3.000;0.000;0.000\r\n2;3.000;4.000;0.000\r\n"
                              "wall\r\n2\r\n0;0.000;0.000;0.000\r\n1;0.000;0.000;2.500\r\n";
    WriteText(dir.File("ok.msr"), whole);
    CliRun r = RunCli(dir, "measures " + Q(dir.File("ok.msr")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    struct Case {
        const char* name;
        std::string text;
        const char* damaged; // the measure or remark named on standard error
        const char* kept;    // a measure still printed
    };
    const Case cases[] = {
        {"promise", "3" + whole.substr(1), "promises 3 measures but holds 2", "\"wall\""},
        {"cut", whole.substr(0, whole.size() - 4), "measure \"wall\": cut short: 1 of 2", "\"roof\""},
        {"garbage", whole + "\x01\x02garbage that is no measure\n", "bytes after the last measure", "\"wall\""},
        {"count", "2\r\nroof\r\nthree\r\n", "measure \"roof\": its count of points", nullptr},
    };
    for (const Case& c : cases) {
        WriteText(dir.File(std::string(c.name) + ".msr"), c.text);
        r = RunCli(dir, "measures " + Q(dir.File(std::string(c.name) + ".msr")));
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(Contains(r.err, c.damaged)) << c.name << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "named once: " << r.err;
        if (c.kept)
            EXPECT_TRUE(Contains(r.out, c.kept)) << c.name << ": " << r.out;
    }
    // The cut measure is not printed with the figures of fewer points.
    r = RunCli(dir, "measures " + Q(dir.File("cut.msr")));
    EXPECT_FALSE(Contains(r.out, "\"wall\""));

    // A name with a line break is never written.
    measure::MeasureMap measures{{"a\nb", "0;0;0;0\n"}};
    std::string why;
    EXPECT_FALSE(measure::WriteMeasureFile(dir.File("names.msr"), measures, &why));
    EXPECT_TRUE(Contains(why, "line break")) << why;
    EXPECT_FALSE(FileExists(dir.File("names.msr")));
}

TEST(NothingLost, FiguresOfFarPointsAreFiniteAndWhatIsNotFiniteSaysSo)
{
    TempDir dir;
    const std::string e200 = "1" + std::string(200, '0') + ".000"; // as the measure tool lists it
    WriteText(dir.File("far.msr"), "1\r\nfar\r\n3\r\n0;0;0;0\r\n1;" + e200 + ";0;0\r\n2;" + e200 + ";" + e200 + ";0\r\n");
    CliRun r = RunCli(dir, "measures " + Q(dir.File("far.msr")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Contains(r.out, "null")) << r.out;
    const measure::Figures f = measure::Compute({{0, 0, 0}, {1e200, 0, 0}, {1e200, 1e200, 0}}, nullptr);
    EXPECT_DOUBLE_EQ(f.length, 2e200);
    EXPECT_DOUBLE_EQ(f.perimeter, (2 + std::sqrt(2.0)) * 1e200);
    // Small coordinates: the very figures of the plain computation.
    const measure::Figures g = measure::Compute({{0.1, 0.2, 0}, {3.3, 0.7, 0.1}, {1.9, 4.4, 0.05}}, nullptr);
    EXPECT_EQ(g.length, measure::Distance({0.1, 0.2, 0}, {3.3, 0.7, 0.1}) + measure::Distance({3.3, 0.7, 0.1}, {1.9, 4.4, 0.05}));
    // An area beyond the largest double is said in words.
    const std::string e300 = "1" + std::string(300, '0');
    WriteText(dir.File("huge.msr"), "1\r\nhuge\r\n3\r\n0;0;0;0\r\n1;" + e300 + ";0;0\r\n2;0;" + e300 + ";0\r\n");
    r = RunCli(dir, "measures " + Q(dir.File("huge.msr")));
    EXPECT_TRUE(Contains(r.out, "\"area_xy\":\"infinite\"")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\"length\":2.4142135623730952e+300")) << r.out;
}

TEST(NothingLost, MessagesQuotingInputStayShortAndCannotSteerTheTerminal)
{
    TempDir dir;
    // A PLY header line of 60 KB.
    WriteText(dir.File("long.ply"), "ply\nformat ascii 1.0\n" + std::string(60000, 'x') + "\nend_header\n");
    CliRun r = RunCli(dir, "info " + Q(dir.File("long.ply")));
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.err.size(), 600u) << r.err.substr(0, 600);
    EXPECT_TRUE(Contains(r.err, "...")) << r.err;
    // Escape sequences and carriage returns from a file name and a file.
    const std::string odd = dir.File("esc\x1b[2Jname\r.ply");
    WriteText(odd, "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\x1b[31m\nend_header\n");
    r = RunCli(dir, "info " + Q(odd));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_TRUE(Contains(r.err, "\\e[2J")) << r.err;

    // 50,000 missing project entries: one line.
    std::string project = "50000\n";
    for (int i = 0; i < 50000; ++i)
        project += "missing" + std::to_string(i) + ".vtp\n";
    WriteText(dir.File("big.mvtp"), project);
    r = RunCli(dir, "info " + Q(dir.File("big.mvtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err.substr(0, 500);
    EXPECT_TRUE(Contains(r.err, "50000 models: no such file")) << r.err;
    EXPECT_TRUE(Contains(r.err, "missing0.vtp")) << r.err;

    // An export definition of 20 MB: its keys at the top count.
    ImportCloud(dir, "m.xyz", 3);
    std::string definition = "[Separator]\nval=3\n";
    while (definition.size() < (20u << 20))
        definition += "; a comment line that makes the definition file larger than any settings file\n";
    WriteText(dir.File("def.ini"), definition);
    r = RunCli(dir, "export --format ascii --definition " + Q(dir.File("def.ini")) + " -o " + Q(dir.File("out.txt")) +
                        " " + Q(dir.File("m.vtp")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(dir.File("out.txt")).substr(0, 6), "0.000;") << "the separator of the definition";
}

TEST(NothingLost, ExportsCarryWhatTheModelHoldsAndShows)
{
    TempDir dir;
    const std::string sample = std::string(QUARLON_SAMPLE_DIR) + "/sampleModel.vtp";
    // PLY keeps "Intensity" as a float property that reads back.
    CliRun r = RunCli(dir, "export --format ply -o " + Q(dir.File("i.ply")) + " " + Q(sample));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string ply = ReadText(dir.File("i.ply"));
    EXPECT_TRUE(Contains(ply.substr(0, 400), "property uchar blue\nproperty float intensity\n")) << ply.substr(0, 400);
    r = RunCli(dir, "info " + Q(dir.File("i.ply")));
    EXPECT_TRUE(Contains(r.out, "{\"name\":\"Intensity\"")) << r.out;

    // OBJ of a model drawn with its texture: the image beside the .obj under
    // the name the material file gives, nothing hidden left behind.
    ::mkdir(dir.File("tex").c_str(), 0755);
    for (const char* name : {"sampleModel.vtp", "sampleModel.vtw", "sampleModel.tex"})
        WriteText(dir.File(std::string("tex/") + name), ReadText(std::string(QUARLON_SAMPLE_DIR) + "/" + name));
    ::mkdir(dir.File("tex/texture").c_str(), 0755);
    WriteText(dir.File("tex/texture/sampleModel.jpg"), ReadText(std::string(QUARLON_SAMPLE_DIR) + "/texture/sampleModel.jpg"));
    WriteText(dir.File("tex/sampleModel.ini"), "[CloudData]\nRepresentation=15\n");
    ::mkdir(dir.File("out").c_str(), 0755);
    r = RunCli(dir, "export --format obj -o " + Q(dir.File("out/scene")) + " " + Q(dir.File("tex/sampleModel.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string mtl = ReadText(dir.File("out/scene.mtl"));
    const size_t map = mtl.find("map_Kd ");
    ASSERT_NE(map, std::string::npos) << mtl;
    const std::string image = mtl.substr(map + 7, mtl.find('\n', map) - map - 7);
    EXPECT_EQ(image.rfind("scene", 0), 0u) << "named after the output: " << image;
    EXPECT_TRUE(FileExists(dir.File("out/" + image))) << image;
    for (const std::string& name : Names(dir.Path()))
        EXPECT_EQ(name.find(".quarlon-export"), std::string::npos) << name;

    // VRML: the viewpoint is the top view of the scene, not the origin.
    r = RunCli(dir, "export --format vrml -o " + Q(dir.File("s.wrl")) + " " + Q(sample));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wrl = ReadText(dir.File("s.wrl"));
    const size_t at = wrl.find("position ", wrl.find("Viewpoint"));
    ASSERT_NE(at, std::string::npos);
    double x = 0, y = 0, z = 0;
    ASSERT_EQ(std::sscanf(wrl.c_str() + at + 9, "%lf %lf %lf", &x, &y, &z), 3);
    EXPECT_GT(z, 10.0) << "above the model: " << x << " " << y << " " << z;
}
