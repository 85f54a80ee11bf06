// An import replaces a model and its offset file only when the new pair is
// complete and both can be put in place; otherwise the old pair stays as it
// was and nothing is left behind. Also: inputs no model can carry.
#include "CliRun.h"
#include "Fixtures.h"
#include "core/common/CheckedFile.h"
#include "core/exchange/XyzImport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace xyz;

namespace {

CliRun Import(const TempDir& logs, const std::string& args) { return RunCli(logs, "import " + args); }

std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A cloud of `lines` points with colours, in millimetres, hard to compress.
std::string Cloud(int lines, unsigned seed = 1)
{
    std::string text;
    for (int i = 0; i < lines; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += std::to_string(500000 + seed % 100000) + "." + std::to_string(seed % 1000) + " " +
                std::to_string(4500000 + (seed >> 8) % 100000) + ".25 " + std::to_string((seed >> 4) % 997) + ".5 " +
                std::to_string(seed % 256) + " " + std::to_string((seed >> 8) % 256) + " " +
                std::to_string((seed >> 16) % 256) + "\n";
    }
    return text;
}

// The names of an import with its temporary pair created.
ImportNames Reserved(const std::string& source)
{
    ImportNames names = PlanImport(source);
    EXPECT_TRUE(ReserveImport(names));
    return names;
}

struct SafeReplace : ::testing::Test {
    TempDir dir, logs;
    // An old, good pair as an earlier import left it.
    void OldPair(const std::string& folder)
    {
        WriteText(folder + "/site.txt", "1 2 3\n4 5 6\n");
        const ImportNames names = Reserved(folder + "/site.txt");
        ASSERT_EQ(ConvertXyzFile(folder + "/site.txt", names.tempModel, nullptr), ConvertResult::Ok);
        ASSERT_TRUE(FinishImport(names));
        oldModel = ReadText(folder + "/site.vtp");
        oldOffset = ReadText(folder + "/site.vtw");
    }
    void ExpectOldPair(const std::string& folder)
    {
        EXPECT_TRUE(ReadText(folder + "/site.vtp") == oldModel) << "the old model changed";
        EXPECT_TRUE(ReadText(folder + "/site.vtw") == oldOffset) << "the old offset file changed";
    }
    std::string oldModel, oldOffset;
};

} // namespace

TEST_F(SafeReplace, AFullDiskLeavesTheOldModelAndNoTemporaryFiles)
{
    const std::string mnt = dir.File("small");
    ::mkdir(mnt.c_str(), 0755);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mnt};

    OldPair(mnt);
    WriteText(mnt + "/site.txt", Cloud(60000)); // about 2.4 MB
    ASSERT_GT(ReadText(mnt + "/site.txt").size(), 2000000u);
    // Leave less room than the new model needs.
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(mnt.c_str(), &fs), 0);
    const long long room = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
    if (room > 100000)
        WriteText(mnt + "/filler", std::string(static_cast<size_t>(room - 100000), 'f'));
    const auto before = Listing(mnt);
    const CliRun r = Import(logs, "--overwrite '" + mnt + "/site.txt'");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "") << "no path is printed for a failed import";
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    ExpectOldPair(mnt);
    EXPECT_EQ(Listing(mnt), before);

    // The checked file reports the same for any writer.
    std::string why;
    EXPECT_FALSE(WriteWholeFile(mnt + "/big.bin", std::string(8 << 20, 'x'), &why));
    EXPECT_EQ(why, "No space left on device");
}

TEST_F(SafeReplace, AnOffsetFileThatCannotBeReplacedLeavesTheOldPair)
{
    OldPair(dir.Path());
    WriteText(dir.File("site.txt"), "7 8 9\n");
    ::unlink(dir.File("site.vtw").c_str());
    ASSERT_EQ(::mkdir(dir.File("site.vtw").c_str(), 0755), 0);
    oldOffset.clear();
    const CliRun r = Import(logs, "--overwrite '" + dir.File("site.txt") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error converting the file. Please check input format."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("site.vtw is a folder"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadText(dir.File("site.vtp")) == oldModel) << "the old model changed";
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"site.txt", "site.vtp", "site.vtw"}));
}

TEST_F(SafeReplace, ASecondRenameThatFailsPutsTheOldModelBack)
{
    OldPair(dir.Path());
    WriteText(dir.File("site.txt"), "7 8 9\n");
    const ImportNames names = Reserved(dir.File("site.txt"));
    ASSERT_EQ(ConvertXyzFile(dir.File("site.txt"), names.tempModel, nullptr), ConvertResult::Ok);
    ::unlink(names.tempOffset.c_str()); // the offset's rename now fails
    std::string why;
    EXPECT_FALSE(FinishImport(names, &why));
    EXPECT_NE(why.find("site.vtw"), std::string::npos) << why;
    ExpectOldPair(dir.Path());
    DiscardImport(names);
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"site.txt", "site.vtp", "site.vtw"}));

    // Without an old model, a failure leaves no new one either.
    WriteText(dir.File("new.txt"), "1 1 1\n");
    const ImportNames fresh = Reserved(dir.File("new.txt"));
    ASSERT_EQ(ConvertXyzFile(dir.File("new.txt"), fresh.tempModel, nullptr), ConvertResult::Ok);
    ::unlink(fresh.tempOffset.c_str());
    EXPECT_FALSE(FinishImport(fresh));
    EXPECT_FALSE(FileExists(dir.File("new.vtp")));
}

TEST_F(SafeReplace, SourcesAndCoordinatesNoModelCanCarryAreRefusedBeforeWriting)
{
    // A pipe would block the reader for ever.
    ASSERT_EQ(::mkfifo(dir.File("pipe.txt").c_str(), 0644), 0);
    CliRun r = Import(logs, "'" + dir.File("pipe.txt") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    ::unlink(dir.File("pipe.txt").c_str());

    const std::pair<const char*, const char*> bad[] = {
        {"nan.txt", "1 2 3\nnan 2 3\n"},
        {"inf.txt", "1 2 3\n1 -inf 3\n"},
        {"huge.txt", "1 2 3\n1 2 1e70\n"},
    };
    for (const auto& [name, text] : bad) {
        WriteText(dir.File(name), text);
        std::string why;
        const ImportNames names = Reserved(dir.File(name));
        EXPECT_EQ(ConvertXyzFile(dir.File(name), names.tempModel, nullptr, &why), ConvertResult::Failed) << name;
        EXPECT_TRUE(why.find("not finite") != std::string::npos || why.find("too large") != std::string::npos)
            << name << ": " << why;
        DiscardImport(names);
    }
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"huge.txt", "inf.txt", "nan.txt"}));
    // Large but representable coordinates still convert.
    WriteText(dir.File("far.txt"), "0 0 0\n1e40 2 3\n");
    EXPECT_EQ(ConvertXyzFile(dir.File("far.txt"), dir.File("far.vtp"), nullptr), ConvertResult::Ok);
}

TEST_F(SafeReplace, AShortFirstLineInALargeFileReservesModestly)
{
    // 64 GB by its size, one short line of data: the estimate would ask for
    // billions of points before reading anything.
    WriteText(dir.File("sparse.txt"), "1 2 3\n");
    ASSERT_EQ(::truncate(dir.File("sparse.txt").c_str(), 64LL << 30), 0);
    std::string why;
    EXPECT_EQ(ConvertXyzFile(dir.File("sparse.txt"), dir.File("sparse.vtp"), nullptr, &why), ConvertResult::Ok) << why;
}
