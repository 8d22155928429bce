// The start-up error box, the top-level error handler and the font of the
// windows.
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QObject>

#include <gtest/gtest.h>

#include "ScriptedServices.h"
#include "app/ErrorHandler.h"
#include "app/Startup.h"
#include "batch/BatchRun.h"
#include "desktop/UiFont.h"
#include "platform/Exception.h"

namespace kevrale {
KEVRALE_DECLARE_EXCEPTION(ETestStartupError, Exception);
}

namespace kevrale::test {
namespace {

TEST(Startup, AnErrorWhileTheWindowsAreMadeShowsApplicationErrorAndEnds) {
  ScopedServices services;
  bool ran = false;
  const int status = RunStartup([] { throw ETestStartupError("関数 GetPicture が見つかりません"); },
                                [&] {
                                  ran = true;
                                  return 0;
                                });
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(ran);
  ASSERT_EQ(services->messages.size(), 1u);
  EXPECT_EQ(services->messages[0].caption, "Application Error");
  EXPECT_EQ(services->messages[0].text,
            "Exception ETestStartupError: 関数 GetPicture が見つかりません");
}

TEST(Startup, OtherErrorsAreNamedByTheirTypeAndASoundStartRunsTheLoop) {
  ScopedServices services;
  EXPECT_EQ(RunStartup([] { throw std::runtime_error("broken"); }, [] { return 0; }), 1);
  ASSERT_EQ(services->messages.size(), 1u);
  EXPECT_EQ(services->messages[0].text, "Exception std::runtime_error: broken");
  EXPECT_EQ(RunStartup([] {}, [] { return 7; }), 7);
  EXPECT_EQ(services->messages.size(), 1u);
}

// An object whose event handler fails, as a command can.
class Failing : public QObject {
 public:
  explicit Failing(bool abort) : abort_(abort) {}
  bool event(QEvent*) override {
    if (abort_) throw EAbort("cancelled");
    throw EFOpenError("ファイル /x.bmp は開けません");
  }

 private:
  bool abort_;
};

TEST(TopLevelHandler, AnErrorLeavingAnEventHandlerIsShownAndTheProgramGoesOn) {
  ScopedServices services;
  Failing failing(false);
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&failing, &event);
  ASSERT_EQ(services->messages.size(), 1u);
  EXPECT_EQ(services->messages[0].caption, "Kevrale");
  EXPECT_EQ(services->messages[0].text, "ファイル /x.bmp は開けません");
  EXPECT_EQ(services->messages[0].kind, MessageKind::Error);

  Failing aborting(true);  // a deliberate cancel shows nothing
  QCoreApplication::sendEvent(&aborting, &event);
  EXPECT_EQ(services->messages.size(), 1u);
}

TEST(TopLevelHandler, CarriageReturnsBreakLinesInTheBox) {
  EXPECT_EQ(MessageText("a\rb\r\nc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(MessageText(kThinningWidthMessage).count(QLatin1Char('\n')), 4);
}

TEST(WindowFont, AsksForMsPGothicAndHasGlyphsForEveryJapaneseText) {
  const QFont font = UiFont(12);
  EXPECT_EQ(font.families().value(0), "ＭＳ Ｐゴシック");
  EXPECT_EQ(font.pixelSize(), 12);
  const QFontMetrics metrics(font);
  const QString texts = QStringLiteral(
      "ファイル画像(BMP)を開くリスト(txt)で実行保存終了編集コピーペースト色の設定ヘルプ使い方"
      "バージョン情報対象色は画像から選択周辺色かﾊﾟﾚｯﾄフルカラーKevraleプログラム"
      "横幅が12000pixelを越えていて実行できません９０°回転縮小終了しました");
  for (const QChar c : texts)
    EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << int(c.unicode());
}

}  // namespace
}  // namespace kevrale::test
