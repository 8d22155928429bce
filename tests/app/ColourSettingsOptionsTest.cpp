// The row of the colour settings below the colours: the tolerance, the
// transparent surround and the repeated sweeps, laid out below the
// specified controls, and read by every run and every batch at its start.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest/QTest>
#include <utility>

#include "MainWindowFixture.h"
#include "app/TShape.h"

namespace kevrale::test {
namespace {

constexpr TColor kDarkGrey = 0x202020;

class ColourSettingsOptionsTest : public MainWindowFixture {
 protected:
  // A 3 x 3 block on white, its centre black and the rest a dark grey that
  // lies within 32 of black in every channel.
  QString WriteShadedBlock(const QString& name) const {
    TBitmap bitmap(7, 7);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x)
        bitmap.SetPixel(x, y, x >= 2 && x < 5 && y >= 2 && y < 5 ? kDarkGrey : clWhite);
    bitmap.SetPixel(3, 3, clBlack);
    const QString path = Path(name);
    bitmap.SaveToFile(path.toStdString());
    return path;
  }
  // Types the tolerance into the spin box, as a user does.
  void TypeTolerance(const QString& digits) {
    form2_->ToleranceSpin->selectAll();
    QTest::keyClicks(form2_->ToleranceSpin, digits);
  }
  void ClickTransparent() {
    QCheckBox* box = form2_->TransparentSurroundCheck;
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
  }
};

uint8_t Alpha(const TBitmap& bitmap, int x, int y) {
  return bitmap.HasAlpha() ? bitmap.ScanLine(y)[4 * x + 3] : 0xFF;
}

// The block thinned with the tolerance: its centre stays, the other eight
// pixels are removed; with the transparent surround they keep white in
// their colour bytes under alpha 0.
void ExpectThinnedTransparent(const TBitmap& bitmap) {
  ASSERT_TRUE(bitmap.HasAlpha());
  EXPECT_EQ(bitmap.Pixel(3, 3), clBlack);
  EXPECT_EQ(Alpha(bitmap, 3, 3), 0xFF);
  for (const QPoint p : {QPoint(2, 2), QPoint(3, 2), QPoint(4, 4), QPoint(2, 4)}) {
    EXPECT_EQ(bitmap.Pixel(p.x(), p.y()), clWhite) << p.x() << "," << p.y();
    EXPECT_EQ(Alpha(bitmap, p.x(), p.y()), 0) << p.x() << "," << p.y();
  }
  EXPECT_EQ(bitmap.Pixel(0, 0), clWhite);
  EXPECT_EQ(Alpha(bitmap, 0, 0), 0xFF);
}

TEST_F(ColourSettingsOptionsTest, TheRowLiesBelowTheColoursInTheHeightTheWindowGrewBy) {
  const QRect row(0, 182, 165, TForm2::kOptionsRowHeight);
  EXPECT_EQ(form2_->height(), row.bottom() + 1);
  EXPECT_EQ(form2_->width(), 165);
  QList<QWidget*> specified = {form2_->Label1,  form2_->Label2, form2_->Button1, form2_->Shape1,
                               form2_->Button2, form2_->Shape2, form2_->Button4, form2_->Button3};
  for (QWidget* widget : specified)
    EXPECT_LT(widget->geometry().bottom(), row.top()) << widget->objectName().toStdString();

  QList<QWidget*> added = {form2_->ToleranceLabel, form2_->ToleranceSpin,
                           form2_->TransparentSurroundCheck, form2_->RepeatSweepsCheck};
  for (QWidget* widget : added) {
    SCOPED_TRACE(widget->objectName().toStdString());
    EXPECT_TRUE(row.contains(widget->geometry())) << widget->geometry().y();
    // Wide and tall enough for its text in the window's font.
    EXPECT_GE(widget->width(), widget->sizeHint().width());
    EXPECT_GE(widget->height(), widget->minimumSizeHint().height());
    for (QWidget* other : added) {
      if (other != widget) {
        EXPECT_FALSE(widget->geometry().intersects(other->geometry()));
      }
    }
  }
  EXPECT_EQ(form2_->ToleranceLabel->text(), "許容差");
  EXPECT_EQ(form2_->ToleranceSpin->minimum(), 0);
  EXPECT_EQ(form2_->ToleranceSpin->maximum(), 255);
  EXPECT_EQ(form2_->ToleranceSpin->value(), 0);
  EXPECT_EQ(form2_->TransparentSurroundCheck->text(), "周辺色を透明にする");
  EXPECT_FALSE(form2_->TransparentSurroundCheck->isChecked());
  EXPECT_EQ(form2_->RepeatSweepsCheck->text(), "細くなるまで繰り返す");
  EXPECT_FALSE(form2_->RepeatSweepsCheck->isChecked());
}

TEST_F(ColourSettingsOptionsTest, ARunReadsTheToleranceAndTheTransparentSurroundAtItsStart) {
  const QString path = WriteShadedBlock("block.bmp");
  services_->file_answers = {path, path};
  form1_->N2->trigger();

  // The defaults: only the exact black is the target, a lone pixel stays,
  // and the grey block is left as it was.
  form1_->Open1->trigger();
  form1_->N4->trigger();
  TBitmap& before = form1_->Picture().Bitmap();
  EXPECT_FALSE(before.HasAlpha());
  EXPECT_EQ(before.Pixel(3, 3), clBlack);
  EXPECT_EQ(before.Pixel(2, 2), kDarkGrey);

  TypeTolerance(QStringLiteral("40"));
  ClickTransparent();
  ASSERT_EQ(form2_->ToleranceSpin->value(), 40);
  ASSERT_TRUE(form2_->TransparentSurroundCheck->isChecked());
  form2_->Button3->click();  // the settings stay when the window is hidden
  form1_->Open1->trigger();
  form1_->N4->trigger();
  ExpectThinnedTransparent(form1_->Picture().Bitmap());
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(ColourSettingsOptionsTest, AToleranceAboveTheLargestIsNotTaken) {
  TypeTolerance(QStringLiteral("300"));
  EXPECT_LE(form2_->ToleranceSpin->value(), 255);
  TypeTolerance(QStringLiteral("-5"));
  EXPECT_GE(form2_->ToleranceSpin->value(), 0);
}

TEST_F(ColourSettingsOptionsTest, ABatchThinsEveryEntryWithTheSettingsOfItsStart) {
  WriteShadedBlock("one.bmp");
  WriteShadedBlock("two.bmp");
  const QString list = Path("list.txt");
  {
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((Path("one.bmp") + "\n" + Path("two.bmp") + "\n").toUtf8());
  }
  TypeTolerance(QStringLiteral("32"));
  ClickTransparent();
  services_->file_answers = {list};
  form1_->txt1->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "終了しました");
  for (const char* saved : {"one_s.bmp", "two_s.bmp"}) {
    SCOPED_TRACE(saved);
    TPicture result;
    result.LoadFromFile(Path(saved).toStdString());
    ExpectThinnedTransparent(result.Bitmap());
  }
}

// A bar far thicker than one sweep thins: with "細くなるまで繰り返す" a run
// and a batch go on until a sweep removes nothing, and leave the bar's
// centre lines, where one sweep leaves a thick core.
TEST_F(ColourSettingsOptionsTest, RepeatUntilThinGoesOnUntilASweepRemovesNothing) {
  TBitmap bar(120, 120);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x)
      bar.SetPixel(x, y, x >= 5 && x < 115 && y >= 20 && y < 100 ? clBlack : clWhite);
  const QString path = Path("bar.bmp");
  bar.SaveToFile(path.toStdString());
  // Black pixels, and 2 x 2 blocks of them: a line one pixel wide has none.
  const auto count = [](const TBitmap& b) {
    const auto ink = [&b](int x, int y) { return b.Pixel(x, y) == clBlack; };
    std::pair<int, int> n;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        n.first += ink(x, y);
        n.second += x + 1 < b.Width() && y + 1 < b.Height() && ink(x, y) && ink(x + 1, y) &&
                    ink(x, y + 1) && ink(x + 1, y + 1);
      }
    return n;
  };

  services_->file_answers = {path, path};
  form1_->N2->trigger();
  form1_->Open1->trigger();
  form1_->N4->trigger();
  EXPECT_GT(count(form1_->Picture().Bitmap()).second, 100);  // one sweep: a thick core

  QCheckBox* box = form2_->RepeatSweepsCheck;
  QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
  ASSERT_TRUE(box->isChecked());
  EXPECT_EQ(form2_->Options().sweeps, kSweepsAll);
  form2_->Button3->click();
  form1_->Open1->trigger();
  form1_->N4->trigger();
  const std::pair<int, int> lines = count(form1_->Picture().Bitmap());
  EXPECT_GE(lines.first, 20);  // the bar's centre line
  EXPECT_EQ(lines.second, 0);

  const QString list = Path("list.txt");
  {
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((path + "\n").toUtf8());
  }
  services_->file_answers = {list};
  form1_->txt1->trigger();
  TPicture result;
  result.LoadFromFile(Path("bar_s.bmp").toStdString());
  EXPECT_EQ(count(result.Bitmap()), lines);
  ASSERT_FALSE(services_->messages.empty());
  EXPECT_EQ(services_->messages.back().text, "終了しました");
}

}  // namespace
}  // namespace kevrale::test
