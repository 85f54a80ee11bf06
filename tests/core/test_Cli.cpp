// quarlon-cli run as a user runs it: a real process, its output and exit status.
#include "CliRun.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace {

CliRun Cli(const TempDir& dir, const std::string& args) { return RunCli(dir, args); }

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}


} // namespace

TEST(Cli, InfoOnTheSampleModel)
{
    TempDir dir;
    const CliRun r = Cli(dir, std::string("info ") + Q(std::string(QUARLON_SAMPLE_DIR) + "/sampleModel.vtp"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 1u);
    const std::string& j = lines[0];
    EXPECT_NE(j.find("/samplemodel/samplemodel.vtp\""), std::string::npos) << j;
    EXPECT_NE(j.find("\"arrays\":[{\"name\":\"RGB\",\"components\":3,\"type\":\"unsigned char\"},"
                     "{\"name\":\"Intensity\",\"components\":1,\"type\":\"float\"},"
                     "{\"name\":\"Texture\",\"components\":2,\"type\":\"float\"}]"),
              std::string::npos)
        << j;
    EXPECT_NE(j.find("\"offset\":[500000,4500000,100]"), std::string::npos) << j;
    EXPECT_NE(j.find("\"representation\":0,\"active_array\":\"RGB\",\"color_map\":0"), std::string::npos) << j;
    EXPECT_NE(j.find("\"textured\":true"), std::string::npos) << j;
    // A few hundred thousand points, as a scan patch has.
    const size_t p = j.find("\"points\":");
    ASSERT_NE(p, std::string::npos);
    EXPECT_GE(std::stol(j.substr(p + 9)), 200000);
}

TEST(Cli, InfoReportsEachArrayCombination)
{
    TempDir dir;
    WriteModel(dir.File("rgbi.vtp"), {20, 10, true, {RgbArray(), IntensityArray("Intensity", 10, 200)}});
    WriteModel(dir.File("i.vtp"), {20, 10, true, {IntensityArray("Intensity", 10, 200)}});
    WriteModel(dir.File("plain.vtk"), {20, 10, true, {}, true});
    WriteText(dir.File("i.ini"), "[CloudData]\nRepresentation=13\n");
    WriteText(dir.File("plain.vtw"), "[PolyData Offset]\nX=10.5\nY=-2\nZ=0.25\n");
    const CliRun r = Cli(dir, "info " + Q(dir.File("rgbi.vtp")) + " " + Q(dir.File("i.vtp")) + " " +
                               Q(dir.File("plain.vtk")));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("\"representation\":0,\"active_array\":\"RGB\",\"color_map\":0,\"scalar_range\":[10,200]"),
              std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\"representation\":13,\"active_array\":\"Intensity\",\"color_map\":3,"
                            "\"scalar_range\":[10,200],\"textured\":false"),
              std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"offset\":[10.5,-2,0.25],\"representation\":0,\"active_array\":\"\",\"color_map\":0,"
                            "\"scalar_range\":[0,1]"),
              std::string::npos) << lines[2];
    // Looking leaves nothing behind.
    EXPECT_FALSE(FileExists(dir.File("rgbi.ini")));
    EXPECT_EQ(ReadText(dir.File("i.ini")), "[CloudData]\nRepresentation=13\n");
}

TEST(Cli, ProjectFilesReportEveryModelAndEveryFailure)
{
    TempDir dir;
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    WriteText(dir.File("a.vtw"), "[PolyData Offset]\nX=1000\nY=2000\nZ=0\n");
    WriteModel(dir.File("b.vtp"), {3, 3, true, {}});
    WriteText(dir.File("b.vtw"), "[PolyData Offset]\nX=1010\nY=2000\nZ=0\n");
    WriteText(dir.File("site.mvtp"), "3\na.vtp\nb.vtp\nmissing.vtp\n");
    const CliRun r = Cli(dir, "info " + Q(dir.File("site.mvtp")));
    EXPECT_EQ(r.status, 1);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"offset\":[1000,2000,0]"), std::string::npos);
    EXPECT_NE(lines[1].find("\"offset\":[1010,2000,0]"), std::string::npos);
    const auto err = Lines(r.err);
    ASSERT_EQ(err.size(), 1u);
    EXPECT_NE(err[0].find("missing.vtp: no such file"), std::string::npos) << err[0];
}

TEST(Cli, BadFilesFailWithOneLineEachAndTheGoodOnesStillPrint)
{
    TempDir dir;
    WriteModel(dir.File("good.vtp"), {3, 3, true, {}});
    WriteText(dir.File("empty.vtp"), "");
    WriteText(dir.File("junk.vtk"), std::string(5000, '\x7f'));
    WriteText(dir.File("cut.vtp"), "<?xml version=\"1.0\"?>\n<VTKFile type=\"PolyData\"");
    WriteText(dir.File("note.txt"), "hello");
    const CliRun r = Cli(dir, "info " + Q(dir.File("empty.vtp")) + " " + Q(dir.File("good.vtp")) + " " +
                               Q(dir.File("junk.vtk")) + " " + Q(dir.File("cut.vtp")) + " " +
                               Q(dir.File("note.txt")) + " " + Q(dir.File("nothere.vtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out).size(), 1u);
    const auto err = Lines(r.err);
    ASSERT_EQ(err.size(), 5u) << r.err;
    EXPECT_NE(err[0].find("empty.vtp: "), std::string::npos);
    EXPECT_NE(err[3].find("note.txt: not a model file"), std::string::npos) << err[3];
    EXPECT_NE(err[4].find("nothere.vtp: no such file"), std::string::npos);
}

TEST(Cli, HelpAndUsage)
{
    TempDir dir;
    CliRun r = Cli(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info FILE..."), std::string::npos);
    r = Cli(dir, "frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    r = Cli(dir, "info");
    EXPECT_EQ(r.status, 2);
}

TEST(Cli, ImportConvertsAndReplacesOnlyWithOverwrite)
{
    TempDir dir;
    WriteText(dir.File("a.txt"), "1000 20 5 17\n1010 30 7 255\n");
    WriteText(dir.File("b.xyz"), "1,2,3\n4,5,6\n");
    CliRun r = Cli(dir, "import " + Q(dir.File("a.txt")) + " " + Q(dir.File("b.xyz")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{dir.File("a.vtp"), dir.File("b.vtp")}));
    EXPECT_EQ(r.err, "") << "no progress lines when standard error is not a terminal";
    r = Cli(dir, "info " + Q(dir.File("a.vtp")));
    EXPECT_NE(r.out.find("\"offset\":[1005,25,6]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"active_array\":\"Intensity\",\"color_map\":1"), std::string::npos) << r.out;

    // Existing models are kept without --overwrite.
    const std::string before = ReadText(dir.File("a.vtp"));
    WriteText(dir.File("a.txt"), "1 2 3 4\n");
    r = Cli(dir, "import " + Q(dir.File("a.txt")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.vtp already exists"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir.File("a.vtp")), before);
    r = Cli(dir, "import --overwrite " + Q(dir.File("a.txt")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadText(dir.File("a.vtp")), before);

    // A bad file: the message, the file named, the old model untouched.
    const std::string good = ReadText(dir.File("b.vtp"));
    WriteText(dir.File("b.xyz"), "x,y,z\n");
    r = Cli(dir, "import --overwrite " + Q(dir.File("b.xyz")));
    EXPECT_EQ(r.status, 1);
    const auto err = Lines(r.err);
    ASSERT_GE(err.size(), 2u);
    EXPECT_EQ(err[0], "Error converting the file. Please check input format.");
    EXPECT_NE(err[1].find("b.xyz"), std::string::npos);
    EXPECT_EQ(ReadText(dir.File("b.vtp")), good);
    EXPECT_FALSE(FileExists(dir.File("b_Z.vtp")));
}

TEST(Cli, InfoWritesValidJsonForAnyPathAndJudgesProjectsFairly)
{
    TempDir dir;
    // A Latin-1 file name: its byte is no UTF-8.
    const std::string latin = dir.File("caf\xe9.vtp");
    WriteModel(latin, {3, 3, true, {RgbArray()}});
    CliRun r = Cli(dir, "info " + Q(latin));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("caf\\u00e9.vtp\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\xe9'), std::string::npos) << "no raw byte in the JSON";
    // Valid UTF-8 passes as it is.
    const std::string utf8 = dir.File("caf\xc3\xa9.vtp");
    WriteModel(utf8, {3, 3, true, {}});
    r = Cli(dir, "info " + Q(utf8));
    EXPECT_NE(r.out.find("caf\xc3\xa9.vtp\""), std::string::npos) << r.out;

    // A project whose first line is no count lists nothing: a failure.
    WriteModel(dir.File("a.vtp"), {3, 3, true, {}});
    WriteText(dir.File("nocount.mvtp"), "a.vtp\r\na.vtp\r\n");
    r = Cli(dir, "info " + Q(dir.File("nocount.mvtp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("first line is not a count"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // Duplicate entries are no failure; said once, the model shown once.
    WriteText(dir.File("dups.mvtp"), "4\r\na.vtp\r\nA.VTP\r\n./a.vtp\r\na.vtp\r\n");
    r = Cli(dir, "info " + Q(dir.File("dups.mvtp")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 1u);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("entries name a model listed before"), std::string::npos) << r.err;
}
