// The three windows as the program makes them at start-up, with scripted
// desktop services and the cursor back at its default shape.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "ScriptedServices.h"
#include "about/TAboutBox.h"
#include "app/TForm1.h"
#include "app/TForm2.h"
#include "desktop/ScreenCursor.h"
#include "picture/TBitmap.h"

namespace kevrale::test {

constexpr TColor kRed = 0x0000FF;
constexpr TColor kGreen = 0x00FF00;

class MainWindowFixture : public testing::Test {
 protected:
  void SetUp() override {
    ScreenCursor::Instance().SetCursor(crDefault);
    ASSERT_TRUE(temp_.isValid());
    form1_ = std::make_unique<TForm1>();
    form2_ = std::make_unique<TForm2>();
    about_ = std::make_unique<TAboutBox>();
    form1_->Attach(form2_.get(), about_.get());
    form1_->show();
  }
  void TearDown() override {
    about_.reset();
    form2_.reset();
    form1_.reset();
    ScreenCursor::Instance().SetCursor(crDefault);
  }

  // A path in the test's own folder.
  QString Path(const QString& name) const { return temp_.filePath(name); }

  // Writes a 24-bit BMP of width x height in `fill`, with `mark` at (1, 1).
  QString WriteBmp(const QString& name, int width, int height, TColor fill,
                   TColor mark = clBlack) const {
    TBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, fill);
    if (width > 1 && height > 1) bitmap.SetPixel(1, 1, mark);
    const QString path = Path(name);
    bitmap.SaveToFile(path.toStdString());
    return path;
  }

  ScopedServices services_;
  QTemporaryDir temp_;
  std::unique_ptr<TForm1> form1_;
  std::unique_ptr<TForm2> form2_;
  std::unique_ptr<TAboutBox> about_;
};

}  // namespace kevrale::test
