// Files of several scans in the viewer: each scan a row of the models list
// under its own name, a damaged scan told without losing the others.
#include "E57Writer.h"
#include "GuiFixtures.h"

#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/app/CMainFrame.h"
#include "gui/common/Commands.h"
#include "gui/exchange/CModelListDlg.h"
#include "gui/view/CQuarlonFrame.h"

#include <QAction>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::vector<e57write::ScanData> Stations()
{
    std::vector<e57write::ScanData> scans(3);
    for (size_t s = 0; s < scans.size(); ++s) {
        e57write::ScanData& d = scans[s];
        d.name = "Station " + std::to_string(s + 1);
        d.guid = "{station-" + std::to_string(s + 1) + "}";
        d.scale = 0.001;
        d.translation[0] = 1000.0 + 10.0 * double(s);
        for (int i = 0; i < 400; ++i) {
            d.coordinates.push_back(0.01 * (i % 20));
            d.coordinates.push_back(0.01 * (i / 20));
            d.coordinates.push_back(0.001 * i);
            for (int c = 0; c < 3; ++c)
                d.rgb.push_back(static_cast<uint8_t>(60 * s + c));
        }
    }
    return scans;
}

} // namespace

TEST_F(AppTest, EveryScanOfAnE57FileIsARowOfTheModelsList)
{
    app.MainFrame()->show();
    const std::string path = dir.File("site.e57");
    ASSERT_EQ(e57write::Write(path, Stations()), "");
    CQuarlonFrame* frame = app.OpenDocumentFile(QString::fromStdString(path));
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('\n').toStdString();
    EXPECT_EQ(frame->GetFrameDocument()->GetModelCount(), 3);
    // A file of several scans shows its list, as a project does.
    Settle(200);
    if (!frame->GetModelListDlg() || !frame->GetModelListDlg()->isVisible())
        app.MainFrame()->Action(cmd::ModelsList)->trigger();
    Settle();
    CModelListDlg* list = frame->GetModelListDlg();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->List()->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(list->List()->item(row, 1)->text().toStdString(), "Station " + std::to_string(row + 1));
    EXPECT_EQ(app.MainFrame()->StatusCounts(), "Loaded 1200 points and 0 faces. Viewing 1200 points and 0 faces.");
}

TEST_F(AppTest, ADamagedScanIsToldAndTheOthersOpen)
{
    app.MainFrame()->show();
    const std::string good = dir.File("good.e57");
    ASSERT_EQ(e57write::Write(good, Stations()), "");
    // One byte of the last scan's points changed (each scan's section fills
    // about 2.5 pages: page 6 is the third's): its page's checksum no
    // longer holds, and only that scan reads that page.
    std::ifstream in(good, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const size_t page = 6;
    bytes[page * 1024 + 100] ^= 0x40;
    const std::string damaged = dir.File("damaged.e57");
    std::ofstream(damaged, std::ios::binary) << bytes;

    CQuarlonFrame* frame = app.OpenDocumentFile(QString::fromStdString(damaged));
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(prompt.messages.size(), 1);
    const std::string message = prompt.messages.front().toStdString();
    EXPECT_NE(message.find("Not every scan of"), std::string::npos) << message;
    EXPECT_NE(message.find("(Station 3): the checksum of page 6"), std::string::npos) << message;
    EXPECT_EQ(frame->GetFrameDocument()->GetModelCount(), 2);
}
