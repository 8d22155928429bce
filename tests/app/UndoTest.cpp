// Undo and redo of the picture's changes: a run, a paste and a batch run
// each go back and forth with Ctrl + Z, Ctrl + Y and Ctrl + Shift + Z;
// opening a file starts a new history; the view keeps its zoom; the history
// keeps at least ten steps within its byte limit.
#include <QCheckBox>
#include <QFile>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include "MainWindowFixture.h"
#include "app/TImage.h"
#include "app/UndoHistory.h"
#include "app/ZoomView.h"

namespace kevrale::test {
namespace {

class UndoTest : public MainWindowFixture {
 protected:
  // A white picture with a black bar three pixels high, which a run thins
  // to one line.
  void OpenThickLine() {
    TBitmap bitmap(20, 9);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 20; ++x)
        bitmap.SetPixel(x, y, y >= 3 && y <= 5 && x >= 2 && x <= 17 ? clBlack : clWhite);
    bitmap.SaveToFile(Path("thick.bmp").toStdString());
    services_->file_answers = {Path("thick.bmp")};
    form1_->Open1->trigger();
    ASSERT_EQ(form1_->Picture().Width(), 20);
  }
  // The picture's pixels, to compare states.
  std::vector<TColor> Pixels() const {
    std::vector<TColor> pixels;
    TPicture& picture = form1_->Picture();
    for (int y = 0; y < picture.Height(); ++y)
      for (int x = 0; x < picture.Width(); ++x) pixels.push_back(picture.Pixel(x, y));
    return pixels;
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
    QTest::keyClick(form1_.get(), key, modifiers);
  }
  void Activate() {
    form1_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form1_.get()));
  }
};

TEST_F(UndoTest, ARunAndAPasteGoBackAndForthWithTheKeys) {
  OpenThickLine();
  Activate();
  const std::vector<TColor> opened = Pixels();
  form1_->N4->trigger();
  const std::vector<TColor> thinned = Pixels();
  ASSERT_NE(thinned, opened);

  QImage pasted(5, 4, QImage::Format_RGB32);
  pasted.fill(Qt::blue);
  services_->clipboard_has_image = true;
  services_->clipboard_image = pasted;
  form1_->paste1->trigger();
  ASSERT_EQ(form1_->Picture().Width(), 5);
  const std::vector<TColor> after_paste = Pixels();

  Key(Qt::Key_Z);
  EXPECT_EQ(Pixels(), thinned);
  EXPECT_EQ(form1_->Image->size(), QSize(20, 9));
  Key(Qt::Key_Z);
  EXPECT_EQ(Pixels(), opened);
  Key(Qt::Key_Z);  // nothing older: the opened picture stays
  EXPECT_EQ(Pixels(), opened);
  Key(Qt::Key_Y);
  EXPECT_EQ(Pixels(), thinned);
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Pixels(), after_paste);
  Key(Qt::Key_Y);  // nothing newer
  EXPECT_EQ(Pixels(), after_paste);

  // A new change after an undo forgets what was undone.
  Key(Qt::Key_Z);
  Key(Qt::Key_Z);
  form1_->N4->trigger();
  EXPECT_EQ(Pixels(), thinned);
  Key(Qt::Key_Y);
  EXPECT_EQ(Pixels(), thinned);
  Key(Qt::Key_Z);
  EXPECT_EQ(Pixels(), opened);
  // The undone and redone pictures save as the picture does.
  form1_->N4->trigger();
  services_->file_answers = {Path("saved.bmp")};
  form1_->Saveas1->trigger();
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(UndoTest, OpeningAFileStartsANewHistory) {
  OpenThickLine();
  form1_->N4->trigger();
  ASSERT_EQ(form1_->History.UndoSteps(), 1u);
  services_->file_answers = {WriteBmp("other.bmp", 6, 5, kGreen)};
  form1_->Open1->trigger();
  EXPECT_EQ(form1_->History.UndoSteps(), 0u);
  form1_->UndoClick();
  EXPECT_EQ(form1_->Picture().Width(), 6);
  // A dropped file as well.
  form1_->N4->trigger();
  form1_->LoadDroppedFile(Path("thick.bmp"));
  EXPECT_EQ(form1_->History.UndoSteps(), 0u);
}

TEST_F(UndoTest, CommandsThatChangeNothingLeaveNoStep) {
  // A paste without an image, a cancelled list dialog, a run refused for
  // its width.
  services_->clipboard_has_image = false;
  form1_->paste1->trigger();
  services_->file_answers = {std::nullopt};
  form1_->txt1->trigger();
  EXPECT_EQ(form1_->History.UndoSteps(), 0u);
  QImage wide(12501, 2, QImage::Format_RGB32);
  wide.fill(Qt::black);
  services_->clipboard_has_image = true;
  services_->clipboard_image = wide;
  form1_->paste1->trigger();
  ASSERT_EQ(form1_->History.UndoSteps(), 1u);
  form1_->N4->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(form1_->History.UndoSteps(), 1u);
}

TEST_F(UndoTest, ABatchRunIsOneStepAndTheColourSettingsAreNotPartOfTheHistory) {
  OpenThickLine();
  const std::vector<TColor> opened = Pixels();
  const QString list = Path("list.txt");
  QFile file(list);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QFile::encodeName(WriteBmp("entry.bmp", 8, 6, clWhite)) + "\n");
  file.close();
  services_->file_answers = {list};
  form1_->txt1->trigger();
  ASSERT_EQ(form1_->Picture().Width(), 8);

  form2_->ToleranceSpin->setValue(7);
  form2_->TransparentSurroundCheck->setChecked(true);
  form1_->Image->SetZoom(2);
  form1_->UndoClick();
  EXPECT_EQ(Pixels(), opened);
  EXPECT_EQ(form2_->ToleranceSpin->value(), 7);
  EXPECT_TRUE(form2_->TransparentSurroundCheck->isChecked());
  // The view keeps its zoom.
  EXPECT_EQ(form1_->ImageZoom->Zoom(), 2);
  EXPECT_EQ(form1_->Image->size(), QSize(40, 18));
  form1_->RedoClick();
  EXPECT_EQ(form1_->Picture().Width(), 8);
}

TEST(UndoHistoryLimits, KeepsTheNewestStepsWithinTheLimits) {
  TPicture picture;
  UndoHistory history;
  picture.SetGraphic(std::make_unique<TBitmap>());
  // Many small steps: the oldest go beyond kMaxSteps.
  for (int i = 0; i < int(UndoHistory::kMaxSteps) + 5; ++i) {
    history.Record(picture);
    picture.SetGraphic(std::make_unique<TBitmap>(i + 1, 1));
  }
  EXPECT_EQ(history.UndoSteps(), UndoHistory::kMaxSteps);
  while (history.Undo(picture)) {
  }
  // The oldest kept is the picture five steps after the first.
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(history.RedoSteps(), UndoHistory::kMaxSteps);

  // With room for ten pictures, the eleventh step drops the oldest.
  constexpr size_t kPicture = 300 * 10;  // 100 x 10 pixels at 24 bits
  UndoHistory small(10 * kPicture);
  const auto marked = [](int mark) {
    auto bitmap = std::make_unique<TBitmap>(100, 10);
    bitmap->SetPixel(0, 0, TColor(mark));
    return bitmap;
  };
  picture.SetGraphic(marked(0));
  for (int i = 1; i <= 12; ++i) {
    small.Record(picture);
    picture.SetGraphic(marked(i));
    EXPECT_LE(small.Bytes(), 10 * kPicture);
  }
  EXPECT_EQ(small.UndoSteps(), 10u);
  while (small.Undo(picture)) {
  }
  EXPECT_EQ(picture.Pixel(0, 0), TColor(2));
  EXPECT_LE(small.Bytes(), 10 * kPicture);
  while (small.Redo(picture)) {
  }
  EXPECT_EQ(picture.Pixel(0, 0), TColor(12));

  // A picture larger than the limit cannot be kept: the history ends there
  // rather than skip a change.
  picture.SetGraphic(std::make_unique<TBitmap>(1000, 11));
  small.Record(picture);
  EXPECT_EQ(small.UndoSteps(), 0u);
  EXPECT_EQ(small.Bytes(), 0u);
  // The program's own limits keep ten pictures of 100 MB.
  EXPECT_GE(UndoHistory::kMaxBytes / 100'000'000, 10u);
}

}  // namespace
}  // namespace kevrale::test
