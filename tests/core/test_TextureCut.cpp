// Another image for a textured model: the cut of the recorded source region,
// checked pixel by pixel in the texture the model holds, the refusals, the
// temporary file, and ApplyTexture's own rules.
#include "Fixtures.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CRendererView.h"
#include "core/model/CScanPos.h"
#include "core/model/TextureCut.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <vtkImageData.h>
#include <vtkTexture.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/mount.h>

using namespace texture;

namespace {

// A source image whose every pixel tells where it is: blue = x mod 256,
// green = y mod 256, red = (x / 256) * 16 + y / 256.
void WriteSource(const std::string& path, int width, int height)
{
    cv::Mat image(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x % 256), static_cast<uchar>(y % 256),
                                                 static_cast<uchar>((x / 256) * 16 + y / 256));
    ASSERT_TRUE(cv::imwrite(path, image)) << path;
}

// The colour of pixel (x, y), y counted from the top, of the image the
// texture holds: its input, as the texture has it.
cv::Vec3b TexturePixel(vtkTexture* texture, int x, int y)
{
    auto* image = vtkImageData::SafeDownCast(texture->GetInput());
    int dims[3];
    image->GetDimensions(dims);
    // The image readers put the first row at the bottom.
    const auto* p = static_cast<unsigned char*>(image->GetScalarPointer(x, dims[1] - 1 - y, 0));
    return cv::Vec3b(p[2], p[1], p[0]);
}

cv::Vec3b SourcePixel(int x, int y)
{
    return cv::Vec3b(static_cast<uchar>(x % 256), static_cast<uchar>(y % 256),
                     static_cast<uchar>((x / 256) * 16 + y / 256));
}

struct TextureCut : ::testing::Test {
    TempDir dir;
    std::string tmp = dir.File("tmp");
    std::string oldTmp;
    CRendererView view;
    CQuarlonDoc doc;
    CScanPos* model = nullptr;

    TextureCut()
    {
        const char* t = std::getenv("TMPDIR");
        oldTmp = t ? t : "";
        std::filesystem::create_directories(tmp);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        doc.SetView(&view);
    }
    ~TextureCut() override { oldTmp.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", oldTmp.c_str(), 1); }

    // A textured model "site" whose texture was cut from `region` of a source.
    void MakeModel(const std::string& region = "X=100\nY=50\nW=800\nH=600\n")
    {
        std::filesystem::create_directories(dir.File("site/texture"));
        WriteModel(dir.File("site/site.vtp"), {20, 10, true, {TextureArray()}});
        WriteImage(dir.File("site/texture/site.png"), 32, 24);
        WriteText(dir.File("site/site.tex"), "[Texture]\nFile=texture\\site.png\n[SourceROI]\n" + region);
        model = doc.AddModel(dir.File("site/site.vtp"));
        ASSERT_NE(model, nullptr);
    }
    std::string Descriptor() const { return dir.File("site/site.tex"); }
    bool TemporaryFolderEmpty() const { return std::filesystem::is_empty(tmp); }
};

} // namespace

TEST_F(TextureCut, TheRegionOfANewSourceBecomesTheTexture)
{
    MakeModel();
    WriteText(dir.File("site/customTextureTmp.jpg"), "the user's own file");
    const std::string source = dir.File("new-source.png");
    WriteSource(source, 900, 650);
    std::string temporary;
    {
        PreparedTexture cut(Descriptor(), source);
        ASSERT_EQ(cut.Status(), CutStatus::Cut) << cut.Reason();
        temporary = cut.TemporaryFile();
        EXPECT_EQ(temporary.rfind(tmp + "/", 0), 0u) << "in the temporary folder, not the model's: " << temporary;
        EXPECT_EQ(std::filesystem::path(temporary).extension(), ".png") << "lossless";
        ASSERT_TRUE(model->ApplyTexture(cut.ImageToApply()));
    }
    EXPECT_FALSE(FileExists(temporary)) << "the cut is removed";
    EXPECT_TRUE(TemporaryFolderEmpty());
    EXPECT_EQ(ReadText(dir.File("site/customTextureTmp.jpg")), "the user's own file");

    vtkTexture* texture = model->GetTexture();
    ASSERT_NE(texture, nullptr);
    auto* image = vtkImageData::SafeDownCast(texture->GetInput());
    ASSERT_NE(image, nullptr);
    int dims[3];
    image->GetDimensions(dims);
    EXPECT_EQ(dims[0], 800);
    EXPECT_EQ(dims[1], 600);
    // Corners, the middle and an odd pixel: exactly the source's (lossless).
    for (auto [x, y] : {std::pair{0, 0}, {799, 0}, {0, 599}, {799, 599}, {400, 300}, {313, 457}})
        EXPECT_EQ(TexturePixel(texture, x, y), SourcePixel(100 + x, 50 + y)) << "at " << x << ", " << y;
    EXPECT_EQ(model->GetRepresentation(), 15);
    EXPECT_EQ(model->GetActiveArrayName(), "Texture");
}

TEST_F(TextureCut, ImagesThatDoNotFitAreRefusedAndNothingIsLeftBehind)
{
    MakeModel();
    const std::string narrow = dir.File("narrow.png");
    WriteSource(narrow, 899, 650); // 100 + 800 > 899
    EXPECT_EQ(PreparedTexture(Descriptor(), narrow).Status(), CutStatus::Incompatible);
    const std::string fits = dir.File("fits.png");
    WriteSource(fits, 900, 650);

    struct Case {
        const char* region;
        CutStatus status;
    } cases[] = {
        {"X=-1\nY=50\nW=800\nH=600\n", CutStatus::Incompatible},
        {"X=100\nY=-50\nW=800\nH=600\n", CutStatus::Incompatible},
        {"X=100\nY=50\nW=-800\nH=600\n", CutStatus::Incompatible},
        {"X=2147483647\nY=50\nW=2147483647\nH=600\n", CutStatus::Incompatible},
        {"X=99999999999999\nY=0\nW=10\nH=10\n", CutStatus::Incompatible},
        {"X=100\nY=50\nH=600\n", CutStatus::NotSupported},   // W missing
        {"X=100\nY=50\nW=abc\nH=600\n", CutStatus::NotSupported}, // not a number reads 0
        {"X=100px\nY=50.9\nW=800 wide\nH=600\n", CutStatus::Cut}, // leading integers
    };
    for (const Case& c : cases) {
        WriteText(Descriptor(), std::string("[Texture]\nFile=texture\\site.png\n[SourceROI]\n") + c.region);
        PreparedTexture cut(Descriptor(), fits);
        EXPECT_EQ(cut.Status(), c.status) << c.region;
        EXPECT_EQ(cut.ImageToApply().empty(), c.status != CutStatus::Cut) << c.region;
    }
    EXPECT_TRUE(TemporaryFolderEmpty());
    const SourceRegion r = ReadSourceRegion(Descriptor());
    EXPECT_EQ(r.x, 100);
    EXPECT_EQ(r.y, 50);
    EXPECT_EQ(r.w, 800);

    // Not images, and an image whose header claims too much.
    WriteText(dir.File("notes.png"), "not an image at all");
    EXPECT_EQ(PreparedTexture(Descriptor(), dir.File("notes.png")).Status(), CutStatus::Unloadable);
    WriteText(dir.File("anim.gif"), std::string("GIF89a\x02\x00\x02\x00\x80\x00\x00", 13) + std::string(20, '\0'));
    EXPECT_EQ(PreparedTexture(Descriptor(), dir.File("anim.gif")).Status(), CutStatus::Unloadable);
    // A PNG header of 100000 x 100000 pixels and nothing behind it.
    std::string huge("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x01\x86\xa0\x00\x01\x86\xa0\x08\x02\x00\x00\x00", 29);
    WriteText(dir.File("huge.png"), huge + std::string(4, '\0'));
    PreparedTexture tooLarge(Descriptor(), dir.File("huge.png"));
    EXPECT_EQ(tooLarge.Status(), CutStatus::Unloadable);
    EXPECT_FALSE(tooLarge.Reason().empty());
    EXPECT_FALSE(model->ApplyTexture(dir.File("huge.png")));
    EXPECT_EQ(model->GetTexture(), nullptr);
    EXPECT_TRUE(TemporaryFolderEmpty());
}

TEST_F(TextureCut, TheModelsOwnTextureOrNoRecordIsAppliedAsItIs)
{
    MakeModel();
    // The recorded name (with the descriptor's backslash) in the chosen path.
    PreparedTexture own(Descriptor(), dir.File("site/texture/site.png"));
    EXPECT_EQ(own.Status(), CutStatus::AsIs);
    EXPECT_EQ(own.ImageToApply(), dir.File("site/texture/site.png"));
    EXPECT_TRUE(own.TemporaryFile().empty());
    // No descriptor: any loadable image, uncut, whatever its size.
    WriteSource(dir.File("small.png"), 40, 30);
    PreparedTexture none(dir.File("none.tex"), dir.File("small.png"));
    EXPECT_EQ(none.Status(), CutStatus::AsIs);
    EXPECT_TRUE(TemporaryFolderEmpty());
}

TEST_F(TextureCut, ApplyTextureKeepsItsOwnRules)
{
    MakeModel();
    model->SetRepresentation(0);
    ASSERT_NE(model->GetTexture(), nullptr) << "the load-time texture";
    // A missing file changes nothing.
    EXPECT_FALSE(model->ApplyTexture(dir.File("missing.jpg")));
    EXPECT_NE(model->GetTexture(), nullptr);
    // A GIF: the old texture goes, none comes; the representation stays.
    WriteText(dir.File("anim.gif"), "GIF89a");
    EXPECT_FALSE(model->ApplyTexture(dir.File("anim.gif")));
    EXPECT_EQ(model->GetTexture(), nullptr);
    EXPECT_EQ(model->GetRepresentation(), 0);
    // Upper-case extension.
    WriteImage(dir.File("UPPER.JPG"), 16, 8);
    EXPECT_TRUE(model->ApplyTexture(dir.File("UPPER.JPG")));
    EXPECT_NE(model->GetTexture(), nullptr);
    EXPECT_EQ(model->GetRepresentation(), 15);

    // Abort while reading: the model is left untextured, representation as it was.
    model->SetRepresentation(0);
    doc.SetProgressFactory([] { return std::make_unique<AbortAtStage>("Reading Texture Image..."); });
    EXPECT_FALSE(model->ApplyTexture(dir.File("UPPER.JPG")));
    EXPECT_EQ(model->GetTexture(), nullptr);
    EXPECT_EQ(model->GetRepresentation(), 0);
    doc.SetProgressFactory(nullptr);

    // A model without texture coordinates holds the texture and records 15.
    WriteModel(dir.File("bare.vtp"), {4, 4, true, {RgbArray()}});
    CScanPos* bare = doc.AddModel(dir.File("bare.vtp"));
    ASSERT_NE(bare, nullptr);
    const std::string before = bare->GetActiveArrayName();
    EXPECT_TRUE(bare->ApplyTexture(dir.File("UPPER.JPG")));
    EXPECT_NE(bare->GetTexture(), nullptr);
    EXPECT_EQ(bare->GetRepresentation(), 15);
    EXPECT_EQ(bare->GetActiveArrayName(), before) << "the colouring it had";
}

TEST_F(TextureCut, ACutThatCannotBeStoredSaysWhyAndLeavesNothing)
{
    MakeModel();
    const std::string source = dir.File("source.png");
    WriteSource(source, 900, 650);
    ::setenv("TMPDIR", dir.File("no-such-folder").c_str(), 1);
    {
        PreparedTexture cut(Descriptor(), source);
        EXPECT_EQ(cut.Status(), CutStatus::WriteFailed);
        EXPECT_NE(cut.Reason().find("no-such-folder"), std::string::npos) << cut.Reason();
        EXPECT_TRUE(cut.ImageToApply().empty());
    }
    // A temporary folder too small for the cut.
    const std::string small = dir.File("small");
    std::filesystem::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    ::setenv("TMPDIR", small.c_str(), 1);
    {
        PreparedTexture cut(Descriptor(), source);
        EXPECT_EQ(cut.Status(), CutStatus::WriteFailed);
        EXPECT_NE(cut.Reason().find("No space left on device"), std::string::npos) << cut.Reason();
    }
    EXPECT_TRUE(std::filesystem::is_empty(small)) << "no half-written cut";
    ::umount(small.c_str());
}
