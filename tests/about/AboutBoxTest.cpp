// The About box: its layout and texts, its two link labels, OK.
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedServices.h"
#include "about/TAboutBox.h"
#include "about/TLightLabel.h"

namespace kevrale::test {
namespace {

TEST(AboutBox, LayoutTextsAndLinks) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "バージョン情報");
  EXPECT_EQ(box.size(), QSize(298, 213));
  // A dialog frame with a close box, without minimise and maximise.
  EXPECT_TRUE(box.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(box.windowFlags() & Qt::CustomizeWindowHint);
  EXPECT_FALSE(box.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(box.windowFlags() & Qt::WindowMaximizeButtonHint);
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
  EXPECT_EQ(box.Version->x(), 152);
  EXPECT_EQ(box.Copyright->x(), 8);
  EXPECT_EQ(box.Comments->x(), 96);
  EXPECT_TRUE(box.Comments->wordWrap());

  EXPECT_EQ(box.LightLabel1->x(), 144);
  EXPECT_EQ(box.LightLabel1->text(), TAboutBox::kMailAddress);
  EXPECT_EQ(box.LightLabel1->JumpTo(), TAboutBox::kMailAddress);
  EXPECT_EQ(box.LightLabel1->JumpType(), jtMail);
  EXPECT_EQ(box.LightLabel2->x(), 72);
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

// The texts of the panel from top to bottom, with the line each is laid out
// at for a face 12 pixels high (15 for the product name).
struct PlacedLabel {
  QLabel* label;
  int laid_out_y;
};

std::vector<PlacedLabel> PanelTexts(TAboutBox& box) {
  return {{box.ProductName, 16}, {box.Version, 40},      {box.Copyright, 80},
          {box.Comments, 104},   {box.LightLabel1, 120}, {box.LightLabel2, 136}};
}

TEST(AboutBox, NoTextCoversAnotherAndEachKeepsItsLineWhereTheFontLeavesRoom) {
  TAboutBox box;
  const std::vector<PlacedLabel> texts = PanelTexts(box);
  int previous_bottom = 0;
  for (const PlacedLabel& text : texts) {
    const QRect area = text.label->geometry();
    SCOPED_TRACE(text.label->objectName().toStdString());
    // Tall enough for the whole text in its own font ...
    EXPECT_GE(area.height(), QFontMetrics(text.label->font()).height());
    // ... inside the panel's frame ...
    EXPECT_GE(area.top(), 2);
    EXPECT_LE(area.bottom(), box.Panel1->height() - 2);
    // ... below the text above it, and on its own line unless that text
    // reaches down past it; then right below it.
    EXPECT_GE(area.top(), previous_bottom);
    EXPECT_EQ(area.top(), std::max(text.laid_out_y, previous_bottom));
    previous_bottom = area.bottom() + 1;
  }
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
