#include "Fixtures.h"
#include "core/model/ProjectFile.h"

#include <gtest/gtest.h>

using Entries = std::vector<std::string>;

TEST(ProjectFile, RecognisedByExtensionInAnyCase)
{
    EXPECT_TRUE(IsProjectFilePath("/a/site.mvtp"));
    EXPECT_TRUE(IsProjectFilePath("/a/SITE.MVTP"));
    EXPECT_FALSE(IsProjectFilePath("/a/site.vtp"));
    EXPECT_FALSE(IsProjectFilePath("/a/mvtp"));
}

TEST(ProjectFile, EmptyLinesCountAsEntriesAndLineEndsAreDropped)
{
    TempDir dir;
    Entries e;
    WriteText(dir.File("p.mvtp"), "3\r\n\r\n  a.vtp\r\n\r\nsub\\b.vtp\r\nc.vtp\r\n");
    ASSERT_TRUE(ReadProjectEntries(dir.File("p.mvtp"), e));
    // White space after the count is skipped (including blank lines and the
    // leading blanks of the first entry); the later empty line is entry 2.
    EXPECT_EQ(e, (Entries{"a.vtp", "sub\\b.vtp"}));
}

TEST(ProjectFile, CountLimitsTheEntriesAndShortFilesEndEarly)
{
    TempDir dir;
    Entries e;
    WriteText(dir.File("p.mvtp"), "1\na.vtp\nb.vtp\n");
    ASSERT_TRUE(ReadProjectEntries(dir.File("p.mvtp"), e));
    EXPECT_EQ(e, Entries{"a.vtp"});

    WriteText(dir.File("huge.mvtp"), "2147483647\na.vtp\nb.vtp");
    ASSERT_TRUE(ReadProjectEntries(dir.File("huge.mvtp"), e));
    EXPECT_EQ(e, (Entries{"a.vtp", "b.vtp"}));

    WriteText(dir.File("overflow.mvtp"), "99999999999999999999999\na.vtp\n");
    ASSERT_TRUE(ReadProjectEntries(dir.File("overflow.mvtp"), e));
    EXPECT_EQ(e, Entries{"a.vtp"});
}

TEST(ProjectFile, BadCountsReadNoEntry)
{
    TempDir dir;
    Entries e{"stale"};
    for (const char* text : {"", "abc\na.vtp\n", "-3\na.vtp\n", "+\na.vtp\n", "0\na.vtp\n"}) {
        WriteText(dir.File("p.mvtp"), text);
        ASSERT_TRUE(ReadProjectEntries(dir.File("p.mvtp"), e)) << text;
        EXPECT_TRUE(e.empty()) << text;
    }
    EXPECT_FALSE(ReadProjectEntries(dir.File("missing.mvtp"), e));
    EXPECT_FALSE(ReadProjectEntries(dir.Path(), e));
}

TEST(ProjectFile, LongLinesAreReadInPiecesOf4095)
{
    TempDir dir;
    Entries e;
    const std::string longLine(10000, 'x');
    WriteText(dir.File("p.mvtp"), "5\n" + longLine + "\nlast.vtp\n");
    ASSERT_TRUE(ReadProjectEntries(dir.File("p.mvtp"), e));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].size(), 4095u);
    EXPECT_EQ(e[1].size(), 4095u);
    EXPECT_EQ(e[2].size(), 10000u - 2 * 4095u);
    EXPECT_EQ(e[3], "last.vtp");
}
