// The two generic controls driven as a user drives them: the range slider
// (setters, thumbs and band dragged with the mouse, arrow keys) and the
// colour button with its palette (mouse, every navigation key, accept and
// cancel, the notifications).
#include "GuiFixtures.h"

#include "gui/controls/CColorButton.h"
#include "gui/controls/CRangeSlider.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct SliderTest : ::testing::Test {
    CRangeSlider slider;
    QSignalSpy spy{&slider, &CRangeSlider::rangeChanged};
    SliderTest()
    {
        slider.resize(240, 20); // thumbs 15 pixels, track 210
        slider.show();
        QTest::qWaitForWindowExposed(&slider);
    }
    std::vector<int> Changes()
    {
        std::vector<int> v;
        for (const auto& call : spy)
            v.push_back(call.at(0).toInt());
        spy.clear();
        return v;
    }
    std::pair<double, double> Range() const
    {
        double l, r;
        slider.GetRange(l, r);
        return {l, r};
    }
    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(&slider, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, to);
    }
};

} // namespace

TEST_F(SliderTest, SettersClampIntoTheScaleAndSayWhatMoved)
{
    ASSERT_TRUE(slider.SetMinMax(0, 10));
    spy.clear();
    slider.SetRange(-5, 3);
    EXPECT_EQ(Range(), std::make_pair(0.0, 3.0));
    EXPECT_EQ(Changes(), std::vector<int>{0});
    slider.SetRange(2, 12);
    EXPECT_EQ(Range(), std::make_pair(2.0, 10.0));
    EXPECT_EQ(Changes(), std::vector<int>{1});
    // The order is repaired only after a clamp.
    slider.SetRange(5, 1);
    EXPECT_EQ(Range(), std::make_pair(5.0, 1.0));
    EXPECT_TRUE(Changes().empty());
    slider.SetRange(-1, -3); // left clamped to 0, then right raised to it
    EXPECT_EQ(Range(), std::make_pair(0.0, 0.0));
    EXPECT_EQ(Changes(), (std::vector<int>{0, 1}));
    slider.SetMinMax(10, 0);
    double min, max;
    slider.GetMinMax(min, max);
    EXPECT_EQ(min, 0.0);
    EXPECT_EQ(max, 10.0);
    // Values that are not numbers are refused, nothing changes.
    slider.SetRange(2, 4);
    EXPECT_FALSE(slider.SetRange(std::nan(""), 4));
    EXPECT_FALSE(slider.SetMinMax(0, std::numeric_limits<double>::infinity()));
    EXPECT_EQ(Range(), std::make_pair(2.0, 4.0));
    // The visual interval stays inside the scale.
    slider.SetVisualMinMax(12, -3);
    slider.GetVisualMinMax(min, max);
    EXPECT_EQ(min, 0.0);
    EXPECT_EQ(max, 10.0);
}

TEST_F(SliderTest, ThumbsAndBandFollowTheMouse)
{
    slider.SetMinMax(0, 210); // one unit a pixel
    slider.SetRange(50, 150);
    spy.clear();
    slider.repaint();
    const int s = slider.ThumbSize();
    ASSERT_EQ(s, 15);
    ASSERT_EQ(slider.TrackLength(), 210);
    // The left thumb ends at its value, the right one starts at its value.
    EXPECT_EQ(slider.LeftThumb().right() + 1, s + 50);
    EXPECT_EQ(slider.RightThumb().left(), s + 150);

    // Left thumb grabbed at its centre and moved 30 pixels right.
    const QPoint left = slider.LeftThumb().center();
    Drag(left, left + QPoint(30, 0));
    EXPECT_NEAR(Range().first, 80.0, 1.0);
    EXPECT_EQ(Range().second, 150.0);
    EXPECT_EQ(Changes(), std::vector<int>{0});
    // Past the right thumb: stops at its value.
    slider.repaint();
    Drag(slider.LeftThumb().center(), slider.LeftThumb().center() + QPoint(150, 0));
    EXPECT_EQ(Range().first, 150.0);
    // The left thumb past the start: stops at min.
    slider.SetRange(50, 150);
    slider.repaint();
    Drag(slider.LeftThumb().center(), slider.LeftThumb().center() - QPoint(300, 0));
    EXPECT_EQ(Range(), std::make_pair(0.0, 150.0));
    // The right thumb past the left one: stops at its value.
    slider.SetRange(50, 150);
    slider.repaint();
    Drag(slider.RightThumb().center(), slider.RightThumb().center() - QPoint(300, 0));
    EXPECT_EQ(Range(), std::make_pair(50.0, 50.0));
    // The right thumb past the end: stops at max.
    slider.SetRange(50, 150);
    slider.repaint();
    Drag(slider.RightThumb().center(), slider.RightThumb().center() + QPoint(500, 0));
    EXPECT_EQ(Range().second, 210.0);
    spy.clear();
    // The band dragged far left and far right keeps its width.
    slider.SetRange(50, 150);
    slider.repaint();
    const QPoint band((slider.LeftThumb().right() + slider.RightThumb().left()) / 2, 10);
    Drag(band, band - QPoint(400, 0));
    EXPECT_EQ(Range(), std::make_pair(0.0, 100.0));
    slider.repaint();
    const QPoint band2((slider.LeftThumb().right() + slider.RightThumb().left()) / 2, 10);
    Drag(band2, band2 + QPoint(400, 0));
    EXPECT_EQ(Range(), std::make_pair(110.0, 210.0));
    EXPECT_EQ(Changes(), (std::vector<int>{2, 2}));
    // A press outside the thumbs and band starts nothing.
    slider.SetRange(50, 150);
    spy.clear();
    Drag(QPoint(1, 10), QPoint(100, 10));
    EXPECT_EQ(Range(), std::make_pair(50.0, 150.0));
    EXPECT_TRUE(Changes().empty());
}

TEST_F(SliderTest, ArrowKeysStepOnePixel)
{
    slider.SetMinMax(0, 21); // 0.1 a pixel
    slider.SetRange(1, 2);
    slider.setFocus();
    spy.clear();
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_NEAR(Range().first, 1.1, 1e-9);
    EXPECT_NEAR(Range().second, 2.1, 1e-9);
    QTest::keyClick(&slider, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_NEAR(Range().first, 1.1, 1e-9);
    EXPECT_NEAR(Range().second, 2.0, 1e-9);
    EXPECT_EQ(Changes(), (std::vector<int>{2, 1}));
    QTest::keyClick(&slider, Qt::Key_Right, Qt::ControlModifier); // Ctrl: nothing
    QTest::keyClick(&slider, Qt::Key_Up);                         // not this axis
    EXPECT_TRUE(Changes().empty());
    EXPECT_NEAR(Range().second, 2.0, 1e-9);
    // At the end of the track the move is refused.
    slider.SetRange(20, 21);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_NEAR(Range().first, 20.0, 1e-9);
    EXPECT_NEAR(Range().second, 21.0, 1e-9);
}

TEST_F(SliderTest, VerticalInvertedAndEmptyScales)
{
    slider.SetHorizontal(false);
    slider.resize(20, 240);
    slider.SetInverted(true);
    slider.SetMinMax(0, 210);
    slider.SetRange(50, 150);
    double l, r;
    slider.GetRange(l, r);
    EXPECT_EQ(l, 50.0);
    EXPECT_EQ(r, 150.0);
    slider.repaint();
    // Inverted: the larger value at the top, so the thumb of 150 comes first.
    EXPECT_EQ(slider.LeftThumb().bottom() + 1, slider.ThumbSize() + 60);
    slider.setFocus();
    spy.clear();
    QTest::keyClick(&slider, Qt::Key_Down); // down: larger stored values, smaller real ones
    slider.GetRange(l, r);
    EXPECT_NEAR(l, 49.0, 1e-9);
    EXPECT_NEAR(r, 149.0, 1e-9);
    EXPECT_EQ(Changes(), std::vector<int>{2});
    QTest::keyClick(&slider, Qt::Key_Right); // not this axis
    EXPECT_TRUE(Changes().empty());

    // min = max: no division by zero, nothing moves, keys do nothing.
    slider.SetInverted(false);
    slider.SetMinMax(5, 5);
    slider.GetRange(l, r);
    EXPECT_EQ(l, 5.0);
    EXPECT_EQ(r, 5.0);
    slider.repaint();
    Drag(slider.RightThumb().center(), slider.RightThumb().center() + QPoint(0, 50));
    QTest::keyClick(&slider, Qt::Key_Down);
    slider.GetRange(l, r);
    EXPECT_EQ(l, 5.0);
    EXPECT_EQ(r, 5.0);
}

namespace {

struct ColorButtonTest : ::testing::Test {
    QWidget window;
    CColorButton* button = new CColorButton(&window);
    FakeChooser chooser;
    QStringList log; // the button's notifications in order
    ColorButtonTest()
    {
        window.resize(300, 200);
        button->setGeometry(20, 20, 60, 24);
        window.show();
        QTest::qWaitForWindowExposed(&window);
        auto record = [this](const char* name) {
            return [this, name](unsigned int c) { log << QStringLiteral("%1 %2").arg(name).arg(c, 8, 16, QChar('0')); };
        };
        QObject::connect(button, &CColorButton::selectionChanged, record("changed"));
        QObject::connect(button, &CColorButton::dropDown, record("drop"));
        QObject::connect(button, &CColorButton::closedUp, record("closed"));
        QObject::connect(button, &CColorButton::selectionAccepted, record("accepted"));
        QObject::connect(button, &CColorButton::selectionCancelled, record("cancelled"));
    }
    CColourPopup* Open()
    {
        QTest::mouseClick(button, Qt::LeftButton);
        CColourPopup* popup = button->Popup();
        if (popup)
            QTest::qWaitForWindowExposed(popup);
        return popup;
    }
    // Mouse events go straight to the palette: it holds the mouse as a
    // popup, and a moved desktop cursor would reach it only later.
    static void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton)
    {
        QMouseEvent e(type, at, w->mapToGlobal(at), button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                      Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    static void Hover(QWidget* w, QPoint at) { Send(w, QEvent::MouseMove, at); }
    static void Click(QWidget* w, QPoint at)
    {
        Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton);
        Send(w, QEvent::MouseButtonRelease, at, Qt::LeftButton);
    }
};

} // namespace

TEST_F(ColorButtonTest, HoveringEscapeAndAcceptReportAsTheButtonShould)
{
    button->SetColor(0x00123456); // not in the table
    CColourPopup* popup = Open();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(button->IsPopupActive());
    EXPECT_EQ(log, QStringList{"drop 00123456"});
    EXPECT_EQ(popup->ChosenSelection(), CColourPopup::kCustomEntry) << "\"More Colors...\" holds it";
    // Below the button's bottom-left corner.
    EXPECT_EQ(popup->geometry().topLeft(), button->mapToGlobal(button->rect().bottomLeft() + QPoint(0, 1)));
    log.clear();
    // Moving over cells: the button forwards, its swatch stays (no tracking).
    Hover(popup, popup->EntryRect(13).center());
    Hover(popup, popup->EntryRect(16).center());
    EXPECT_EQ(log, (QStringList{"changed 00ff0000", "changed 000000ff"})) << "Blu, then Rosso";
    EXPECT_EQ(button->GetColor(), 0x00123456u);
    log.clear();
    QTest::keyClick(popup, Qt::Key_Escape);
    EXPECT_EQ(log, (QStringList{"closed 00123456", "cancelled 00123456"}));
    EXPECT_EQ(button->GetColor(), 0x00123456u);
    EXPECT_FALSE(button->IsPopupActive());
    QTest::qWait(20);
    EXPECT_EQ(button->Popup(), nullptr) << "the palette deletes itself";

    // Tracking on: the swatch follows; a click on a cell accepts it.
    button->SetTrackSelection(true);
    popup = Open();
    ASSERT_NE(popup, nullptr);
    log.clear();
    Hover(popup, popup->EntryRect(26).center());
    EXPECT_EQ(button->GetColor(), 0x0000ffffu) << "Giallo";
    Click(popup, popup->EntryRect(26).center());
    EXPECT_EQ(log, (QStringList{"changed 0000ffff", "closed 0000ffff", "accepted 0000ffff"}))
        << "no second change: the colour was already shown";
    EXPECT_EQ(button->GetColor(), 0x0000ffffu);
}

TEST_F(ColorButtonTest, AutomaticTheChooserAndAReleaseOutside)
{
    button->SetColor(CColourPopup::TableColour(5));
    CColourPopup* popup = Open();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->ChosenSelection(), 5);
    // "Automatic" accepted: the marker, and the swatch shows the default colour.
    Hover(popup, popup->EntryRect(CColourPopup::kDefaultEntry).center());
    Click(popup, popup->EntryRect(CColourPopup::kDefaultEntry).center());
    EXPECT_EQ(button->GetColor(), kAutomaticColor);
    button->SetDefaultColor(0x0000ff00);
    const QImage swatch = button->grab().toImage();
    EXPECT_EQ(swatch.pixelColor(10, 12), QColor(0, 255, 0)) << "the default colour in the swatch";
    QTest::qWait(20);

    // "More Colors...": the desktop chooser, opened on the initial colour.
    popup = Open();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->ChosenSelection(), CColourPopup::kDefaultEntry);
    chooser.accept = true;
    chooser.colour = QColor(1, 2, 3);
    log.clear();
    Hover(popup, popup->EntryRect(CColourPopup::kCustomEntry).center());
    QTest::keyClick(popup, Qt::Key_Return);
    EXPECT_EQ(button->GetColor(), 0x00030201u);
    EXPECT_TRUE(log.contains("accepted 00030201")) << log.join(", ").toStdString();
    QTest::qWait(20);
    // Cancelling the chooser cancels with the opening colour.
    popup = Open();
    ASSERT_NE(popup, nullptr);
    chooser.accept = false;
    log.clear();
    Hover(popup, popup->EntryRect(CColourPopup::kCustomEntry).center());
    QTest::keyClick(popup, Qt::Key_Space);
    EXPECT_EQ(log.last(), "cancelled 00030201");
    EXPECT_EQ(button->GetColor(), 0x00030201u);
    QTest::qWait(20);
    // A release outside the palette cancels.
    popup = Open();
    ASSERT_NE(popup, nullptr);
    Hover(popup, popup->EntryRect(39).center());
    log.clear();
    Send(popup, QEvent::MouseButtonRelease, QPoint(-30, -30), Qt::LeftButton);
    EXPECT_EQ(log, (QStringList{"closed 00030201", "cancelled 00030201"}));
}

TEST_F(ColorButtonTest, EveryNavigationKeyFromEveryCorner)
{
    CColourPopup* popup = Open();
    ASSERT_NE(popup, nullptr);
    const int D = CColourPopup::kDefaultEntry, C = CColourPopup::kCustomEntry;
    auto from = [&](int start, Qt::Key key) {
        // Reach the start entry with the mouse, then press the key.
        Hover(popup, popup->EntryRect(start).center());
        EXPECT_EQ(popup->CurrentSelection(), start);
        QTest::keyClick(popup, key);
        return popup->CurrentSelection();
    };
    struct Step {
        int start;
        Qt::Key key;
        int expected;
    } steps[] = {
        {D, Qt::Key_Down, 0},   {D, Qt::Key_Up, C},     {D, Qt::Key_Right, 0},  {D, Qt::Key_Left, C},
        {C, Qt::Key_Down, D},   {C, Qt::Key_Up, 39},    {C, Qt::Key_Right, D},  {C, Qt::Key_Left, 39},
        {0, Qt::Key_Down, 8},   {0, Qt::Key_Up, D},     {0, Qt::Key_Right, 1},  {0, Qt::Key_Left, D},
        {7, Qt::Key_Down, 15},  {7, Qt::Key_Up, D},     {7, Qt::Key_Right, 8},  {7, Qt::Key_Left, 6},
        {32, Qt::Key_Down, C},  {32, Qt::Key_Up, 24},   {32, Qt::Key_Right, 33}, {32, Qt::Key_Left, 31},
        {39, Qt::Key_Down, C},  {39, Qt::Key_Up, 31},   {39, Qt::Key_Right, C}, {39, Qt::Key_Left, 38},
    };
    for (const Step& s : steps)
        EXPECT_EQ(from(s.start, s.key), s.expected) << "from " << s.start << " key " << s.key;
    // Down from the last row: "More Colors...", "Automatic", the first cell.
    Hover(popup, popup->EntryRect(35).center());
    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->CurrentSelection(), C);
    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->CurrentSelection(), D);
    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->CurrentSelection(), 0);
    QTest::keyClick(popup, Qt::Key_Escape);
}

TEST_F(ColorButtonTest, WithoutTextEntriesAndNearTheScreensBottom)
{
    button->SetDefaultText(QString());
    button->SetCustomText(QString());
    CColourPopup* popup = Open();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->ChosenSelection(), CColourPopup::kNone);
    Hover(popup, popup->EntryRect(0).center());
    QTest::keyClick(popup, Qt::Key_Up);
    EXPECT_EQ(popup->CurrentSelection(), 39) << "no text entries: wraps to the last cell";
    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->CurrentSelection(), 0);
    QTest::keyClick(popup, Qt::Key_Escape);
    QTest::qWait(20);

    // A button at the bottom of the screen: the palette opens above it.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    window.move(0, screen.height() - 60);
    QTest::qWait(50);
    popup = Open();
    ASSERT_NE(popup, nullptr);
    EXPECT_LE(popup->geometry().bottom(), button->mapToGlobal(QPoint(0, 0)).y()) << "above the button";
    QTest::keyClick(popup, Qt::Key_Escape);
}
