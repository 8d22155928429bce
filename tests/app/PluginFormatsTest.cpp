// The main window with the bundled import plug-ins of the program's folder:
// their formats offered first by the open dialog, a PNG scan opened,
// thinned, saved and copied like a BMP picture, and libraries of the plug-in
// folder that are no plug-ins listed once the window is up.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <memory>

#include "Drawings.h"
#include "MainWindowFixture.h"
#include "app/Startup.h"
#include "app/TImage.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::test {
namespace {

using PluginFormatsTest = MainWindowFixture;

int DifferingPixels(const TBitmap& a, TPicture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  int differing = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) differing += a.Pixel(x, y) != b.Pixel(x, y);
  return differing;
}

TEST_F(PluginFormatsTest, TheOpenDialogOffersThePluginFormatsBeforeTheBuiltInOnes) {
  form1_->Open1->trigger();
  ASSERT_EQ(services_->file_requests.size(), 1u);
  const QStringList parts = services_->file_requests[0].filter.split(QLatin1Char('|'));
  // "すべてのファイル", then one description and pattern per entry, newest first.
  ASSERT_GT(parts.size(), 2 + 2 * 4);
  EXPECT_TRUE(parts[0].startsWith(QStringLiteral("すべてのファイル")));
  for (const char* pattern : {"*.png", "*.jpg", "*.gif", "*.tif", "*.webp"})
    EXPECT_TRUE(parts[1].contains(QLatin1String(pattern))) << pattern;
  // The plug-ins load in name order, so ifwebp.spi registers last.
  EXPECT_EQ(parts[3], QStringLiteral("*.webp")) << parts.join('|').toStdString();
  const qsizetype n = parts.size();
  EXPECT_EQ(parts[n - 7], QStringLiteral("*.bmp"));
  EXPECT_EQ(parts[n - 1], QStringLiteral("*.wmf"));
}

TEST_F(PluginFormatsTest, APngScanIsOpenedThinnedSavedAndCopiedLikeABitmap) {
  const QString bmp = Path("scan.bmp");
  const QString png = Path("scan.png");
  drawing::CrossingStrokes().SaveToFile(bmp.toStdString());
  ASSERT_EQ(QProcess::execute(QStringLiteral("convert"), {bmp, png}), 0);
  TPicture expected;
  expected.LoadFromFile(bmp.toStdString());
  EXPECT_EQ(RunThinning(expected, clBlack, clWhite), ThinningResult::Thinned);
  const TBitmap thinned(expected.Bitmap());

  const QString saved = Path("scan_s.bmp");
  services_->file_answers = {png, saved};
  form1_->Open1->trigger();
  ASSERT_TRUE(services_->messages.empty()) << services_->messages[0].text.toStdString();
  TPicture& picture = form1_->Picture();
  ASSERT_TRUE(picture.HoldsBitmap());
  EXPECT_EQ(DifferingPixels(drawing::CrossingStrokes(), picture), 0);
  EXPECT_EQ(form1_->Image->size(), QSize(40, 30));

  form1_->N4->trigger();
  EXPECT_EQ(DifferingPixels(thinned, picture), 0);
  form1_->Saveas1->trigger();
  ASSERT_TRUE(services_->messages.empty()) << services_->messages[0].text.toStdString();
  TPicture reread;
  reread.LoadFromFile(saved.toStdString());
  EXPECT_EQ(DifferingPixels(thinned, reread), 0);

  form1_->copy2->trigger();
  ASSERT_TRUE(services_->clipboard_has_image);
  EXPECT_EQ(services_->clipboard_image.size(), QSize(40, 30));
  services_->clipboard_image.setPixelColor(0, 0, QColor(255, 0, 0));
  form1_->paste1->trigger();
  EXPECT_EQ(picture.Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(picture.Pixel(20, 10), thinned.Pixel(20, 10));
}

TEST_F(PluginFormatsTest, ABrokenPluginFileKeepsThePicture) {
  services_->file_answers = {WriteBmp("keep.bmp", 6, 5, kRed)};
  form1_->Open1->trigger();
  const QString broken = Path("half.png");
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  file.close();
  services_->file_answers = {broken};
  form1_->Open1->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].caption, QStringLiteral("Kevrale"));
  EXPECT_EQ(services_->messages[0].text, QStringLiteral("Susie Plugins could not decode"));
  EXPECT_EQ(form1_->Picture().Width(), 6);
  EXPECT_EQ(form1_->Picture().Pixel(2, 2), kRed);
}

TEST(PluginStartup, LibrariesThatAreNoPluginsAreListedOnceTheWindowIsUp) {
  ScopedServices services;
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const QDir dir(temp.path());
  ASSERT_TRUE(dir.mkpath(QStringLiteral("config/Dravello")));
  ASSERT_TRUE(dir.mkpath(QStringLiteral("plugins")));
  const QString library = dir.filePath(QStringLiteral("plugins/notaplugin.spi"));
  const QString text = dir.filePath(QStringLiteral("plugins/text.spi"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(KEVRALE_BIN_DIR "/libkevrale-localmem.so.1"), library));
  QFile text_file(text);
  ASSERT_TRUE(text_file.open(QIODevice::WriteOnly));
  text_file.write("not a library");
  text_file.close();
  QFile conf(dir.filePath(QStringLiteral("config/Dravello/Susie.conf")));
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write(("[Plug-in]\nPath=" + dir.filePath(QStringLiteral("plugins")) + "\n").toUtf8());
  conf.close();

  const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
  std::unique_ptr<TForm1> form1;
  const int status = RunStartup([&] { form1 = std::make_unique<TForm1>(); },
                                [&] {
                                  // Nothing is shown while the window is made.
                                  EXPECT_TRUE(services->messages.empty());
                                  form1->show();
                                  form1->ShowSkippedPlugins();
                                  return 0;
                                });
  qputenv("XDG_CONFIG_HOME", previous);

  EXPECT_EQ(status, 0);
  ASSERT_NE(form1, nullptr);
  // The bundled formats are there all the same.
  EXPECT_NE(TPicture::FindGraphicClass("png"), nullptr);
  ASSERT_EQ(services->messages.size(), 1u);
  const QString& shown = services->messages[0].text;
  EXPECT_EQ(services->messages[0].caption, QStringLiteral("Kevrale"));
  EXPECT_TRUE(shown.startsWith(QStringLiteral("次のファイルはSusie Pluginとして使えない")))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("GetPluginInfoは[") + library +
                             QStringLiteral("]では使えないSusie Plugin APIです")))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains(text + QStringLiteral(":Susie Pluginがロードできませんでした")))
      << shown.toStdString();
  EXPECT_LT(shown.indexOf(library), shown.indexOf(text));

  // A start with nothing to skip shows nothing.
  form1.reset();
  services->messages.clear();
  TForm1 again;
  again.ShowSkippedPlugins();
  EXPECT_TRUE(services->messages.empty());
}

}  // namespace
}  // namespace kevrale::test
