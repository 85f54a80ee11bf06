// View > Apply texture as a user runs it on the sample model: the chosen
// source image is cut to the model's region and shown in place of the old
// texture; every refusal has its message and changes nothing.
#include "GuiFixtures.h"

#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"

#include <QAction>
#include <QImage>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct TextureTest : AppTest {
    std::string site;
    CQuarlonFrame* frame = nullptr;
    CScanPos* model = nullptr;

    // The sample model in a folder of the test's own.
    void OpenSample()
    {
        site = dir.File("site");
        fs::copy(QUARLON_SAMPLE_DIR, site, fs::copy_options::recursive);
        frame = app.OpenDocumentFile(QString::fromStdString(site + "/sampleModel.vtp"));
        ASSERT_NE(frame, nullptr);
        CQuarlonDoc::Position pos = frame->GetFrameDocument()->GetFirstModelPosition();
        model = frame->GetFrameDocument()->GetNextModel(pos);
        ASSERT_NE(model, nullptr);
        ASSERT_NE(model->GetTexture(), nullptr);
    }
    // The source image with its red and blue swapped, as a lossless file.
    std::string SwappedSource(const std::string& name)
    {
        cv::Mat source = cv::imread(site + "/texture/sampleModelSource.jpg", cv::IMREAD_COLOR);
        EXPECT_FALSE(source.empty());
        cv::Mat swapped;
        cv::cvtColor(source, swapped, cv::COLOR_BGR2RGB);
        const std::string path = dir.File(name);
        EXPECT_TRUE(cv::imwrite(path, swapped));
        return path;
    }
    void Apply(const std::string& image)
    {
        chooser.files = QStringList{QString::fromStdString(image)};
        app.MainFrame()->Action(cmd::ApplyTexture)->trigger();
        Settle(150);
    }
    QImage Picture()
    {
        frame->GetView()->Render();
        Settle(50);
        return frame->GetView()->grabFramebuffer();
    }
};

} // namespace

TEST_F(TextureTest, ASwappedSourceShowsItsColoursWhereTheTextureWas)
{
    OpenSample();
    ASSERT_EQ(app.MainFrame()->Action(cmd::ApplyTexture)->text(), "Apply te&xture");
    // First the original source, through the command: the same cut as the
    // model's own texture, drawn from exact pixels.
    Apply(site + "/texture/sampleModelSource.jpg");
    ASSERT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('|').toStdString();
    EXPECT_EQ(chooser.filter, "Texture image file (*.jpg *.png *.tif)");
    const QImage before = Picture();
    Apply(SwappedSource("swapped.png"));
    ASSERT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('|').toStdString();
    EXPECT_EQ(model->GetRepresentation(), 15);
    const QImage after = Picture();
    ASSERT_EQ(before.size(), after.size());

    // Wherever the model is drawn, red and blue have changed places.
    const QRgb background = before.pixel(2, 2);
    long model = 0, swapped = 0, coloured = 0;
    for (int y = 0; y < before.height(); y += 3)
        for (int x = 0; x < before.width(); x += 3) {
            const QRgb a = before.pixel(x, y), b = after.pixel(x, y);
            if (a == background)
                continue;
            ++model;
            coloured += std::abs(qRed(a) - qBlue(a)) > 30;
            swapped += std::abs(qRed(a) - qBlue(b)) <= 3 && std::abs(qBlue(a) - qRed(b)) <= 3 &&
                       std::abs(qGreen(a) - qGreen(b)) <= 3;
        }
    ASSERT_GT(model, 1000) << "the model is in view";
    EXPECT_GT(coloured, model / 4) << "a test that can see the swap";
    EXPECT_GT(swapped, model * 95 / 100) << swapped << " of " << model;
    // Nothing left in the model's folder or the temporary folder.
    EXPECT_FALSE(fs::exists(site + "/customTextureTmp.jpg"));
    for (const auto& e : fs::directory_iterator(site))
        EXPECT_EQ(e.path().filename().string().find("quarlon-texture"), std::string::npos);
}

TEST_F(TextureTest, RefusalsSayWhyAndChangeNothing)
{
    OpenSample();
    vtkTexture* original = model->GetTexture();
    // An image too small for the region (1024 x 768 at 512, 256).
    cv::Mat small(800, 1500, CV_8UC3, cv::Scalar(0, 0, 255));
    ASSERT_TRUE(cv::imwrite(dir.File("small.png"), small));
    Apply(dir.File("small.png"));
    EXPECT_EQ(prompt.messages.last(), "Selected image has not compatible resolution");
    EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Information);
    EXPECT_EQ(model->GetTexture(), original);

    WriteText(dir.File("fake.jpg"), "not an image");
    Apply(dir.File("fake.jpg"));
    EXPECT_EQ(prompt.messages.last(), "Unable to load the texture");
    EXPECT_EQ(prompt.icons.back(), IPrompt::Icon::Error);

    // No region recorded: a model the command cannot serve.
    WriteText(site + "/sampleModel.tex", "[Texture]\nFile=texture\\sampleModel.jpg\n");
    cv::Mat big(2000, 3000, CV_8UC3, cv::Scalar(0, 255, 0));
    ASSERT_TRUE(cv::imwrite(dir.File("big.png"), big));
    Apply(dir.File("big.png"));
    EXPECT_EQ(prompt.messages.last(),
              "This model doesn't support a texture or it was generated by an older Kandro version");
    EXPECT_EQ(model->GetTexture(), original);

    // Cancel does nothing.
    const int count = prompt.messages.size();
    chooser.files.clear();
    app.MainFrame()->Action(cmd::ApplyTexture)->trigger();
    EXPECT_EQ(prompt.messages.size(), count);
    EXPECT_EQ(model->GetTexture(), original);
}
