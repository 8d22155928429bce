// The About box: its layout and texts, its two link labels, OK.
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "about/TAboutBox.h"
#include "about/TLightLabel.h"
#include "tests/gui/ScriptedServices.h"

namespace kevrale::test {
namespace {

TEST(AboutBox, LayoutTextsAndLinks) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "バージョン情報");
  EXPECT_EQ(box.size(), QSize(298, 213));
  EXPECT_TRUE(box.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.Panel1->geometry(), QRect(8, 8, 281, 161));
  EXPECT_EQ(box.Image1->parentWidget(), box.Panel1);
  EXPECT_EQ(box.Image1->geometry(), QRect(24, 16, 41, 41));
  EXPECT_EQ(box.Image1->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(box.ProductName->text(), "フルカラーKevraleプログラム");
  EXPECT_EQ(box.ProductName->pos(), QPoint(88, 16));
  EXPECT_EQ(box.ProductName->font().pixelSize(), 15);
  // The product name stays inside the panel whatever face stands in.
  EXPECT_LE(box.ProductName->x() +
                QFontMetrics(box.ProductName->font()).horizontalAdvance(box.ProductName->text()),
            box.Panel1->width() - 2);
  EXPECT_EQ(box.Version->text(), "Version 1.21");
  EXPECT_EQ(box.Version->pos(), QPoint(152, 40));
  EXPECT_EQ(box.Copyright->pos(), QPoint(8, 80));
  EXPECT_EQ(box.Comments->pos(), QPoint(96, 104));
  EXPECT_TRUE(box.Comments->wordWrap());

  EXPECT_EQ(box.LightLabel1->pos(), QPoint(144, 120));
  EXPECT_EQ(box.LightLabel1->text(), TAboutBox::kMailAddress);
  EXPECT_EQ(box.LightLabel1->JumpTo(), TAboutBox::kMailAddress);
  EXPECT_EQ(box.LightLabel1->JumpType(), jtMail);
  EXPECT_EQ(box.LightLabel2->pos(), QPoint(72, 136));
  EXPECT_EQ(box.LightLabel2->text(), TAboutBox::kHomePage);
  EXPECT_EQ(box.LightLabel2->JumpType(), jtCust);
  for (const TLightLabel* link : {box.LightLabel1, box.LightLabel2}) {
    EXPECT_EQ(link->DefaultFont().Color, QColor(0, 0, 255));
    EXPECT_TRUE(link->LightFont().Font.underline());
    EXPECT_EQ(link->ClickFont().Color, QColor(255, 0, 0));
    EXPECT_EQ(link->DefaultFont().Font.pixelSize(), 12);
  }
  EXPECT_EQ(box.OKButton->geometry(), QRect(111, 180, 75, 25));
  EXPECT_TRUE(box.OKButton->isDefault());
}

TEST(AboutBox, LinksHandTheirTargetsToTheDesktopAndOkHidesTheBox) {
  ScopedServices services;
  TAboutBox box;
  box.show();
  QTest::mouseClick(box.LightLabel1, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  QTest::mouseClick(box.LightLabel2, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  ASSERT_EQ(services->opened.size(), 2u);
  EXPECT_EQ(services->opened[0].toString(), QString("mailto:") + TAboutBox::kMailAddress);
  EXPECT_EQ(services->opened[1].toString(), TAboutBox::kHomePage);
  box.OKButton->click();
  EXPECT_FALSE(box.isVisible());
  box.show();  // the same window again
  EXPECT_TRUE(box.isVisible());
}

}  // namespace
}  // namespace kevrale::test
