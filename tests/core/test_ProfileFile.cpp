#include "Fixtures.h"
#include "core/common/Paths.h"
#include "core/common/ProfileFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using profile::GetString;
using profile::WriteString;

TEST(ProfileFile, NamesIgnoreCaseValuesAreTrimmedFirstMatchWins)
{
    TempDir dir;
    const std::string f = dir.File("a.vtw");
    WriteText(f, "; comment\r\n[PolyData Offset]\r\n x = 1.5 \r\nX=2\r\n[other]\r\nY=9\r\n[POLYDATA offset]\r\nY=3\r\n");
    EXPECT_EQ(GetString(f, "polydata OFFSET", "X", "0.00", 64), "1.5");
    // A section named twice is searched in file order.
    EXPECT_EQ(GetString(f, "PolyData Offset", "y", "0.00", 64), "3");
    EXPECT_EQ(GetString(f, "PolyData Offset", "Z", "0.00", 64), "0.00");
    EXPECT_EQ(GetString(f, "missing", "X", "dflt", 64), "dflt");
    EXPECT_EQ(GetString(dir.File("none.vtw"), "PolyData Offset", "X", "0.00", 64), "0.00");
}

TEST(ProfileFile, OneMatchingPairOfQuotesAroundAValueIsDropped)
{
    TempDir dir;
    const std::string f = dir.File("q.ini");
    WriteText(f, "[S]\ndq = \"a\" \nsq='a'\nopen=\"a\nempty=\"\"\ninner=\"a\"b\"\n"
                 "mixed=\"a'\nlone=\"\nspaced=\" a b \"\nmid=a\"b\"\n");
    const std::pair<const char*, const char*> cases[] = {
        {"dq", "a"}, {"sq", "a"}, {"open", "\"a"}, {"empty", ""}, {"inner", "a\"b"},
        {"mixed", "\"a'"}, {"lone", "\""}, {"spaced", " a b "}, {"mid", "a\"b\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetString(f, "S", c.first, "dflt", 64), c.second) << c.first;
    // The capacity applies to the unquoted value.
    EXPECT_EQ(GetString(f, "S", "spaced", "", 3), " a");

    // Values are written as given, without quotes, and read back unchanged.
    ASSERT_TRUE(WriteString(f, "S", "name", "site image.jpg"));
    EXPECT_NE(ReadText(f).find("name=site image.jpg"), std::string::npos);
    EXPECT_EQ(GetString(f, "S", "name", "", 64), "site image.jpg");
}

TEST(ProfileFile, LfAndCrLfReadAlikeAndValuesAreClippedToTheCallersCapacity)
{
    TempDir dir;
    WriteText(dir.File("lf.ini"), "[CloudData]\nRepresentation=10\n");
    WriteText(dir.File("crlf.ini"), "[CloudData]\r\nRepresentation=10\r\n");
    WriteText(dir.File("nofinalnewline.ini"), "[CloudData]\r\nRepresentation=10");
    for (const char* name : {"lf.ini", "crlf.ini", "nofinalnewline.ini"})
        EXPECT_EQ(GetString(dir.File(name), "CloudData", "Representation", "0", 256), "10") << name;

    WriteText(dir.File("long.vtw"), "[PolyData Offset]\nX=" + std::string(100, '7') + "\n");
    EXPECT_EQ(GetString(dir.File("long.vtw"), "PolyData Offset", "X", "0", 64), std::string(63, '7'));
    EXPECT_EQ(GetString(dir.File("long.vtw"), "PolyData Offset", "X", "0", 0), "");
}

TEST(ProfileFile, BinaryJunkFallsBackToTheDefaultKeysOfHugeFilesAreFoundWherever)
{
    TempDir dir;
    std::string junk;
    for (int i = 0; i < 5000; ++i)
        junk += static_cast<char>((i * 151) % 256);
    WriteText(dir.File("junk.vtw"), junk);
    EXPECT_EQ(GetString(dir.File("junk.vtw"), "PolyData Offset", "X", "0.00", 64), "0.00");
    // Keys before and after megabytes of comments and blank lines are read.
    std::string comments;
    for (int i = 0; i < 200000; ++i)
        comments += "; a comment line of about a hundred bytes, repeated until the file is larger than 16 MiB\n";
    WriteText(dir.File("big.vtw"), "[PolyData Offset]\nX=5\n" + std::string(17 * 1024 * 1024, ' ') + "\n" + comments +
                                       "Y=7\n");
    EXPECT_EQ(GetString(dir.File("big.vtw"), "PolyData Offset", "X", "0.00", 64), "5");
    EXPECT_EQ(GetString(dir.File("big.vtw"), "PolyData Offset", "Y", "0.00", 64), "7");
    // More than 16 MiB of keys is no settings file.
    std::string keys = "[PolyData Offset]\n";
    while (keys.size() < 17u * 1024 * 1024)
        keys += "Key" + std::to_string(keys.size()) + "=a value that takes some room in the file\n";
    WriteText(dir.File("keys.vtw"), keys + "X=5\n");
    EXPECT_EQ(GetString(dir.File("keys.vtw"), "PolyData Offset", "X", "0.00", 64), "0.00");
    // A directory named like a companion file is no file.
    ASSERT_EQ(mkdir(dir.File("dir.vtw").c_str(), 0755), 0);
    EXPECT_EQ(GetString(dir.File("dir.vtw"), "PolyData Offset", "X", "0.00", 64), "0.00");
    EXPECT_FALSE(WriteString(dir.File("dir.vtw"), "a", "b", "c"));
}

TEST(ProfileFile, WriteReplacesInPlaceKeepsEveryOtherLineAndTheLineEnds)
{
    TempDir dir;
    const std::string f = dir.File("m.ini");
    WriteText(f, "; keep me\r\n[CloudData]\r\nOther=1\r\nREPRESENTATION = 3\r\nMore=2\r\n\r\n[Next]\r\nA=b\r\n");
    ASSERT_TRUE(WriteString(f, "clouddata", "Representation", "10"));
    EXPECT_EQ(ReadText(f), "; keep me\r\n[CloudData]\r\nOther=1\r\nRepresentation=10\r\nMore=2\r\n\r\n[Next]\r\nA=b\r\n");

    // A new key goes after the last line of its section, before the blank line.
    ASSERT_TRUE(WriteString(f, "CloudData", "Added", "x"));
    EXPECT_EQ(ReadText(f),
              "; keep me\r\n[CloudData]\r\nOther=1\r\nRepresentation=10\r\nMore=2\r\nAdded=x\r\n\r\n[Next]\r\nA=b\r\n");
    // A new section is appended.
    ASSERT_TRUE(WriteString(f, "Third", "K", "v"));
    EXPECT_EQ(GetString(f, "third", "k", "", 64), "v");
    EXPECT_EQ(GetString(f, "Next", "A", "", 64), "b");

    // LF files stay LF; new files get CR LF.
    const std::string lf = dir.File("lf.ini");
    WriteText(lf, "[CloudData]\nRepresentation=1\n");
    ASSERT_TRUE(WriteString(lf, "CloudData", "Representation", "2"));
    EXPECT_EQ(ReadText(lf), "[CloudData]\nRepresentation=2\n");

    const std::string created = dir.File("new.ini");
    ASSERT_TRUE(WriteString(created, "CloudData", "Representation", "7"));
    EXPECT_EQ(ReadText(created), "[CloudData]\r\nRepresentation=7\r\n");
}

TEST(ProfileFile, WriteGoesToTheFileFoundOnDiskWhateverItsCase)
{
    TempDir dir;
    WriteText(dir.File("Site.INI"), "[CloudData]\r\nRepresentation=1\r\n");
    EXPECT_EQ(GetString(dir.File("site.ini"), "CloudData", "Representation", "0", 256), "1");
    ASSERT_TRUE(WriteString(dir.File("site.ini"), "CloudData", "Representation", "5"));
    EXPECT_FALSE(FileExists(dir.File("site.ini")));
    EXPECT_EQ(GetString(dir.File("Site.INI"), "CloudData", "Representation", "0", 256), "5");
}

TEST(ProfileFile, AFailedWriteLeavesTheOldFile)
{
    TempDir dir;
    const std::string f = dir.File("m.ini");
    WriteText(f, "[CloudData]\nRepresentation=1\n");
    {
        const FileSizeLimit limit(8); // the new contents cannot be written
        EXPECT_FALSE(WriteString(f, "CloudData", "Representation", "9"));
    }
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"m.ini"}) << "no temporary file stays";
    EXPECT_EQ(ReadText(f), "[CloudData]\nRepresentation=1\n");
}

TEST(Paths, SplitAndJoin)
{
    const qpath::Parts p = qpath::Split("/data/scans/Site.A.VTP");
    EXPECT_EQ(p.folder, "/data/scans/");
    EXPECT_EQ(p.base, "Site.A");
    EXPECT_EQ(p.extension, ".VTP");
    EXPECT_EQ(qpath::Split("noext").extension, "");
    EXPECT_EQ(qpath::Split("/x/.hidden").base, ".hidden");
    EXPECT_EQ(qpath::ReplaceExtension("/a/b.vtp", ".vtw"), "/a/b.vtw");
    EXPECT_EQ(qpath::JoinRelative("/a/", "texture\\img.jpg"), "/a/texture/img.jpg");
    EXPECT_EQ(qpath::JoinRelative("/a", "sub/m.vtp"), "/a/sub/m.vtp");
    EXPECT_EQ(qpath::ToLower("/Data/ÄB.VTP"), "/data/Äb.vtp");
}

TEST(Paths, ResolvesEachComponentIgnoringCase)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("Scans").c_str(), 0755), 0);
    WriteText(dir.File("Scans/Site.VTP"), "x");
    EXPECT_EQ(qpath::ResolveOnDisk(dir.File("scans/site.vtp")), dir.File("Scans/Site.VTP"));
    EXPECT_EQ(qpath::ResolveOnDisk(dir.File("Scans/Site.VTP")), dir.File("Scans/Site.VTP"));
    EXPECT_EQ(qpath::ResolveOnDisk(dir.File("scans/other.vtp")), "");
    EXPECT_TRUE(qpath::IsExistingFile(dir.File("SCANS/site.vtp")));
    EXPECT_FALSE(qpath::IsExistingFile(dir.File("scans")));
    // An exact match is preferred over a case-insensitive one.
    WriteText(dir.File("Scans/site.vtp"), "y");
    EXPECT_EQ(qpath::ResolveOnDisk(dir.File("Scans/site.vtp")), dir.File("Scans/site.vtp"));
}

#include "core/common/AppSettings.h"

#include <cstdlib>

TEST(AppSettings, LivesInTheUsersConfigFolderAndReadsIntegersStrictly)
{
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const std::string path = appsettings::DefaultPath("quarlon");
    EXPECT_EQ(path, dir.File("quarlon/quarlon.ini"));
    // A file named like the folder does not count as the folder.
    WriteText(dir.File("other"), "");
    EXPECT_FALSE(appsettings::SetPath(dir.File("other/other.ini")));
    ASSERT_TRUE(appsettings::SetPath(path));
    EXPECT_EQ(appsettings::ReadIntSetting("Quarlon", "PerspectiveView", "1"), 1);
    ASSERT_TRUE(appsettings::WriteSetting("Color", "Background", "16777215"));
    EXPECT_EQ(appsettings::ReadIntSetting("Color", "Background", "0"), 16777215);
    ASSERT_TRUE(appsettings::WriteSetting("Color", "Background", "-"));
    EXPECT_EQ(appsettings::ReadIntSetting("Color", "Background", "0"), 0);
    ASSERT_TRUE(appsettings::WriteSetting("Quarlon", "PerspectiveView", "yes"));
    EXPECT_EQ(appsettings::ReadIntSetting("Quarlon", "PerspectiveView", "1"), 0);
    ::unsetenv("XDG_CONFIG_HOME");
}
