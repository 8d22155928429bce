// The open dialog's filter built from the format registry, and its way into
// Qt's file dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>

#include "app/FilterText.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"

namespace kevrale {
namespace {

// A kind of its own, so that the test can take its entries out again.
const TGraphicClassInfo kPluginKind("TTestPluginBitmap", &TBitmap::Class, nullptr);

TEST(OpenFilter, BuiltInRegistryNewestFirstWithLeadingAllFilesPair) {
  EXPECT_EQ(BuildOpenFilter(TPicture::FileFormats()),
            "すべてのファイル (*.bmp;*.ico;*.emf;*.wmf)|*.bmp;*.ico;*.emf;*.wmf|"
            "ビットマップ (*.bmp)|*.bmp|アイコン (*.ico)|*.ico|"
            "エンハンス メタファイル (*.emf)|*.emf|メタファイル (*.wmf)|*.wmf");
}

TEST(OpenFilter, PluginExtensionsComeBeforeTheBuiltInOnes) {
  TPicture::RegisterFileFormat("JPG", "JPEG ファイル", &kPluginKind);
  TPicture::RegisterFileFormat("png", "PNG ファイル", &kPluginKind);
  const std::string filter = BuildOpenFilter(TPicture::FileFormats());
  TPicture::UnregisterGraphicClass(&kPluginKind);
  EXPECT_EQ(filter,
            "すべてのファイル (*.png;*.jpg;*.bmp;*.ico;*.emf;*.wmf)|"
            "*.png;*.jpg;*.bmp;*.ico;*.emf;*.wmf|"
            "PNG ファイル (*.png)|*.png|JPEG ファイル (*.jpg)|*.jpg|"
            "ビットマップ (*.bmp)|*.bmp|アイコン (*.ico)|*.ico|"
            "エンハンス メタファイル (*.emf)|*.emf|メタファイル (*.wmf)|*.wmf");
}

TEST(OpenFilter, OneEntryGetsNoLeadingPairAndNoEntryGivesNothing) {
  EXPECT_EQ(BuildOpenFilter({{"bmp", "ビットマップ", &TBitmap::Class, {}}}),
            "ビットマップ (*.bmp)|*.bmp");
  EXPECT_EQ(BuildOpenFilter({}), "");
}

TEST(NameFilters, KeepEachDescriptionAndMatchPatternsInEitherCase) {
  EXPECT_EQ(ToNameFilters(QStringLiteral("すべてのファイル (*.bmp;*.ico)|*.bmp;*.ico|"
                                         "ビットマップ (*.bmp)|*.bmp|txt|*.txt|dangling")),
            QStringList({QStringLiteral("すべてのファイル (*.bmp;*.ico) (*.[bB][mM][pP] "
                                        "*.[iI][cC][oO])"),
                         QStringLiteral("ビットマップ (*.bmp) (*.[bB][mM][pP])"),
                         QStringLiteral("txt (*.[tT][xX][tT])")}));
}

// Qt's own file dialog, set up as the program sets it up, shows the
// descriptions exactly as the filter text has them.
TEST(NameFilters, QtFileDialogShowsTheDescriptionsExactly) {
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(
      ToNameFilters(QString::fromStdString(BuildOpenFilter(TPicture::FileFormats()))));
  auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(combo, nullptr);
  QStringList shown;
  for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
  EXPECT_EQ(shown,
            QStringList({QStringLiteral("すべてのファイル (*.bmp;*.ico;*.emf;*.wmf)"),
                         QStringLiteral("ビットマップ (*.bmp)"), QStringLiteral("アイコン (*.ico)"),
                         QStringLiteral("エンハンス メタファイル (*.emf)"),
                         QStringLiteral("メタファイル (*.wmf)")}));
}

}  // namespace
}  // namespace kevrale
