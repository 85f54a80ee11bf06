// The two generic controls driven as a user drives them: the range slider
// (setters, thumbs and band dragged with the mouse, arrow keys) and the
// colour button with its palette (mouse, every navigation key, accept and
// cancel, the notifications).
#include "GuiFixtures.h"

#include "gui/controls/CRangeSlider.h"

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
