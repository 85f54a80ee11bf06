#include "GuiFixtures.h"

#include "gui/controls/CSplashScreenEx.h"

#include <QPainter>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace {
QPixmap BadgeOnMagenta()
{
    QPixmap pm(60, 40);
    pm.fill(QColor(255, 0, 255));
    QPainter p(&pm);
    p.fillRect(QRect(10, 5, 40, 30), QColor(20, 90, 160));
    return pm;
}
} // namespace

TEST(Splash, TransparentColourCutsTheWindowToShape)
{
    QPointer<CSplashScreenEx> splash = new CSplashScreenEx;
    splash->Create(nullptr, "a", "b", 0, CSplashScreenEx::CentreScreen);
    ASSERT_TRUE(splash->SetBitmap(BadgeOnMagenta(), 255, 0, 255));
    EXPECT_EQ(splash->size(), QSize(60, 40));
    const QRegion shape = splash->ShapeRegion();
    EXPECT_TRUE(shape.contains(QPoint(10, 5)));
    EXPECT_TRUE(shape.contains(QPoint(49, 34)));
    EXPECT_FALSE(shape.contains(QPoint(5, 20)));
    EXPECT_FALSE(shape.contains(QPoint(50, 20)));
    EXPECT_EQ(shape.boundingRect(), QRect(10, 5, 40, 30));
    // No transparent colour: no shape.
    ASSERT_TRUE(splash->SetBitmap(BadgeOnMagenta(), -1, 0, 0));
    EXPECT_TRUE(splash->ShapeRegion().isEmpty());
    EXPECT_FALSE(splash->SetBitmap(QPixmap(), 255, 0, 255));
    splash->Show();
    Settle(100);
    // Timeout 0: it stays until Hide().
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible());
    splash->Hide();
    Settle(100);
    EXPECT_TRUE(splash.isNull()) << "hidden splash windows delete themselves";
}

TEST(Splash, ClosesOnAClickWithStyle32AndAfterItsTimeout)
{
    QPointer<CSplashScreenEx> splash = new CSplashScreenEx;
    splash->Create(nullptr, QString(), QString(), 0, CSplashScreenEx::CloseOnInput);
    splash->SetBitmap(BadgeOnMagenta(), 255, 0, 255);
    splash->Show();
    Settle(50);
    QTest::mouseClick(splash.data(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    Settle(50);
    EXPECT_TRUE(splash.isNull());

    QPointer<CSplashScreenEx> timed = new CSplashScreenEx;
    timed->Create(nullptr, QString(), QString(), 150, CSplashScreenEx::FadeIn | CSplashScreenEx::FadeOut);
    timed->SetBitmap(BadgeOnMagenta(), 255, 0, 255);
    timed->Show();
    Settle(60);
    EXPECT_FALSE(timed.isNull());
    Settle(1200);
    EXPECT_TRUE(timed.isNull());
}
