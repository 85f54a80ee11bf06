// Tools > Merge Models as a user runs it: the save dialog, the PLY question,
// the files written, and the messages when writing is not possible.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/view/CQuarlonFrame.h"

#include <QAction>
#include <gtest/gtest.h>

#include <algorithm>

TEST_F(AppTest, MergeModelsWritesEveryFormatAndSaysWhenItCannot)
{
    CQuarlonFrame* frame = app.OpenDocumentFile(Model("plane.vtp", {41, 31, true, {RgbArray()}}));
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->OpenInsideFile(Model("second.vtp", {4, 4, true, {RgbArray()}})));
    auto run = [this](int id, const std::string& file) {
        chooser.saveAs = QString::fromStdString(dir.File(file));
        app.MainFrame()->Action(id)->trigger();
    };
    prompt.answer = false; // ASCII PLY
    run(cmd::MergePly, "all.ply");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    EXPECT_EQ(prompt.messages[prompt.messages.size() - 2], "Do you want to save file as binary data?");
    EXPECT_NE(ReadText(dir.File("all.ply")).find("format ascii"), std::string::npos);
    EXPECT_EQ(chooser.filter, "PLY Model (*.ply)");
    run(cmd::MergeObj, "scene.obj");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    EXPECT_TRUE(FileExists(dir.File("scene.obj")) && FileExists(dir.File("scene.mtl")));
    run(cmd::MergeVrml, "scene.wrl");
    EXPECT_TRUE(FileExists(dir.File("scene.wrl")));
    run(cmd::MergeAscii, "points.txt");
    EXPECT_EQ(prompt.messages.last(), "Process completed.");
    const std::string listing = ReadText(dir.File("points.txt"));
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 41 * 31 + 16);
    // A folder that does not exist: the message, no success.
    run(cmd::MergeAscii, "nofolder/points.txt");
    EXPECT_EQ(prompt.messages.last(), "Unabe to write file!");
    // Cancelling the save dialog does nothing.
    const int before = prompt.messages.size();
    chooser.saveAs.clear();
    app.MainFrame()->Action(cmd::MergePly)->trigger();
    EXPECT_EQ(prompt.messages.size(), before);
}
