// The main window: layout, every command reached from its menu item or tool
// button, opening, saving, the clipboard, dropping, the batch run, help and
// the end of the program.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>

#include "MainWindowFixture.h"
#include "app/FilterText.h"
#include "app/TImage.h"
#include "app/TShape.h"
#include "app/TToolBar.h"
#include "picture/TIcon.h"

namespace kevrale::test {
namespace {

using MainWindowTest = MainWindowFixture;

QStringList Entries(const QList<QAction*>& actions) {
  QStringList out;
  for (const QAction* a : actions)
    out << (a->isSeparator() ? QStringLiteral("-") : a->text()) + QLatin1Char('/') +
               a->objectName();
  return out;
}

TColor PixelOf(TPicture& picture, int x, int y) {
  return picture.Pixel(x, y);
}

TEST_F(MainWindowTest, MenuBarItemsInOrderWithTheirNames) {
  QMenuBar* bar = form1_->menuBar();
  EXPECT_EQ(Entries(bar->actions()),
            QStringList({"ファイル/", "編集/", "色の設定/N2", "実行/N4", "ヘルプ/"}));
  EXPECT_EQ(bar->actions()[0]->menu()->objectName(), "File1");
  EXPECT_EQ(bar->actions()[1]->menu()->objectName(), "copy1");
  EXPECT_EQ(bar->actions()[2]->menu(), nullptr);
  EXPECT_EQ(bar->actions()[3]->menu(), nullptr);
  EXPECT_EQ(bar->actions()[4]->menu()->objectName(), "help2");
  EXPECT_EQ(Entries(form1_->File1->actions()),
            QStringList({"画像(BMP)を開く/Open1", "リスト(txt)で実行/txt1", "-/N3",
                         "画像(BMP)を保存/Saveas1", "-/N1", "終了/Exit1"}));
  EXPECT_EQ(Entries(form1_->copy1->actions()), QStringList({"コピー/copy2", "ペースト/paste1"}));
  EXPECT_EQ(Entries(form1_->help2->actions()),
            QStringList({"使い方/usage1", "バージョン情報/version1"}));
  for (QAction* action : form1_->findChildren<QAction*>()) {
    EXPECT_TRUE(action->shortcut().isEmpty()) << action->objectName().toStdString();
    EXPECT_FALSE(action->text().contains(QLatin1Char('&')));
  }
}

TEST_F(MainWindowTest, WindowToolBarAndScrollBoxLayout) {
  EXPECT_EQ(form1_->windowTitle(), "Kevrale");
  EXPECT_EQ(form1_->centralWidget()->size(), QSize(592, 420));
  EXPECT_EQ(form1_->ToolBar1->geometry(), QRect(0, 0, 592, 29));
  EXPECT_EQ(form1_->ToolButton7->geometry(), QRect(7, 2, 25, 25));
  EXPECT_EQ(form1_->ToolButton9->geometry(), QRect(32, 2, 8, 25));
  EXPECT_EQ(form1_->ToolButton1->geometry(), QRect(40, 2, 25, 25));
  EXPECT_EQ(form1_->ToolButton2->geometry(), QRect(65, 2, 8, 25));
  EXPECT_EQ(form1_->ToolButton7->toolTip(), "開く");
  EXPECT_EQ(form1_->ToolButton1->toolTip(), "実行");
  EXPECT_TRUE(form1_->ToolButton7->autoRaise());
  EXPECT_FALSE(form1_->ToolButton7->icon().isNull());
  EXPECT_FALSE(form1_->ToolButton1->icon().isNull());
  // Laid out from y = 32 as 593 x 390, but ending inside the client area so
  // that no edge of a scroll bar is cut off.
  EXPECT_EQ(form1_->ScrollBox1->geometry(), QRect(0, 32, 592, 388));
  EXPECT_EQ(form1_->Image->parentWidget(), form1_->ScrollBox1->viewport());
  EXPECT_EQ(form1_->Image->geometry(), QRect(0, 0, 473, 257));
  EXPECT_EQ(form1_->focusWidget(), form1_->ToolBar1);

  // The scroll box keeps its distances to all four sides.
  form1_->resize(form1_->width() + 100, form1_->height() + 50);
  QCoreApplication::processEvents();
  EXPECT_EQ(form1_->ScrollBox1->geometry(), QRect(0, 32, 692, 438));
  EXPECT_TRUE(form1_->centralWidget()->rect().contains(form1_->ScrollBox1->geometry()));
  EXPECT_EQ(form1_->ToolBar1->width(), 692);
}

TEST_F(MainWindowTest, StartsWithAnEmptyBitmapAndAcceptsDrops) {
  ASSERT_NE(form1_->Picture().Graphic(), nullptr);
  EXPECT_TRUE(form1_->Picture().HoldsBitmap());
  EXPECT_EQ(form1_->Picture().Width(), 0);
  EXPECT_EQ(form1_->Picture().Height(), 0);
  EXPECT_TRUE(form1_->acceptDrops());
}

TEST_F(MainWindowTest, OpenFromMenuAndToolButtonShowsTheRegistryFilter) {
  form1_->Open1->trigger();
  form1_->ToolButton7->click();
  ASSERT_EQ(services_->file_requests.size(), 2u);
  for (const FileDialogRequest& request : services_->file_requests) {
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(request.filter.toStdString(), BuildOpenFilter(TPicture::FileFormats()));
    // "すべてのファイル" and one filter for each entry of the registry.
    EXPECT_EQ(request.name_filters.size(), int(TPicture::FileFormats().size()) + 1);
  }
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(MainWindowTest, OpenLoadsShowsAndRemembersTheChosenName) {
  const QString path = WriteBmp("red.bmp", 30, 20, kRed, kGreen);
  services_->file_answers = {path, std::nullopt};
  form1_->Open1->trigger();
  TPicture& picture = form1_->Picture();
  ASSERT_EQ(picture.Width(), 30);
  EXPECT_EQ(PixelOf(picture, 1, 1), kGreen);
  EXPECT_EQ(PixelOf(picture, 2, 2), kRed);
  // The control takes the picture's size and shows its pixels.
  EXPECT_EQ(form1_->Image->size(), QSize(30, 20));
  const QImage& shown = form1_->Image->ShownImage();
  EXPECT_EQ(shown.pixelColor(1, 1), QColor(0, 255, 0));
  EXPECT_EQ(shown.pixelColor(2, 2), QColor(255, 0, 0));

  form1_->Open1->trigger();  // cancelled: nothing changes
  ASSERT_EQ(services_->file_requests.size(), 2u);
  EXPECT_EQ(services_->file_requests[1].file_name, path);
  EXPECT_EQ(form1_->OpenDialog1.FileName, path);
  EXPECT_EQ(picture.Width(), 30);
}

TEST_F(MainWindowTest, AFailedLoadNamesThePathAndKeepsThePicture) {
  const QString good = WriteBmp("good.bmp", 5, 4, kRed);
  const QString missing = Path("missing.bmp");
  services_->file_answers = {good, missing};
  form1_->Open1->trigger();
  const TGraphic* before = form1_->Picture().Graphic();
  form1_->Open1->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].caption, "Kevrale");
  EXPECT_EQ(services_->messages[0].text, "ファイル " + missing + " は開けません");
  EXPECT_EQ(services_->messages[0].kind, MessageKind::Error);
  EXPECT_EQ(form1_->Picture().Graphic(), before);
  EXPECT_EQ(form1_->Picture().Width(), 5);
  EXPECT_EQ(form1_->Image->size(), QSize(5, 4));
}

TEST_F(MainWindowTest, OpenAddsTheDefaultExtensionToANameWithoutOne) {
  WriteBmp("plain.BMP", 3, 3, kRed);
  services_->file_answers = {Path("plain")};
  form1_->Open1->trigger();
  EXPECT_EQ(form1_->OpenDialog1.FileName, Path("plain.BMP"));
  EXPECT_EQ(form1_->Picture().Width(), 3);
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(MainWindowTest, OpenLoadsAnExistingNameWithoutExtensionAsChosen) {
  // "noext.BMP" exists too, but the name chosen is that of an existing file.
  WriteBmp("noext.BMP", 3, 3, kRed);
  const QString chosen = WriteBmp("noext", 3, 3, kRed);
  services_->file_answers = {WriteBmp("before.bmp", 5, 4, kGreen), chosen};
  form1_->Open1->trigger();
  form1_->Open1->trigger();
  EXPECT_EQ(form1_->OpenDialog1.FileName, chosen);
  // Without an extension there is no format to read it with.
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "拡張子 . の画像形式は処理できません");
  EXPECT_EQ(form1_->Picture().Width(), 5);
  EXPECT_EQ(form1_->Picture().Pixel(2, 2), kGreen);
}

TEST_F(MainWindowTest, SaveAsWritesABmpAndReplacesAnExistingFile) {
  services_->file_answers = {WriteBmp("source.bmp", 6, 5, kGreen)};
  form1_->Open1->trigger();
  const QString target = Path("out.bmp");
  {
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("not a picture");
  }
  services_->file_answers = {Path("out")};
  form1_->Saveas1->trigger();
  ASSERT_EQ(services_->file_requests.size(), 2u);
  EXPECT_EQ(services_->file_requests[1].kind, FileDialogRequest::Kind::Save);
  EXPECT_TRUE(services_->file_requests[1].filter.startsWith("ビットマップ(*.bmp)|*.bmp|"));
  EXPECT_TRUE(services_->messages.empty());
  TPicture reread;
  reread.LoadFromFile(target.toStdString());
  EXPECT_EQ(reread.Width(), 6);
  EXPECT_EQ(reread.Pixel(2, 2), kGreen);

  form1_->Saveas1->trigger();  // cancelled: the dialog still remembers the name
  EXPECT_EQ(services_->file_requests[2].file_name, target);
}

TEST_F(MainWindowTest, CopyPutsThePictureOnTheClipboardAndPasteTakesAnImage) {
  services_->file_answers = {WriteBmp("copy.bmp", 4, 3, kRed, kGreen)};
  form1_->Open1->trigger();
  form1_->copy2->trigger();
  ASSERT_TRUE(services_->clipboard_has_image);
  EXPECT_EQ(services_->clipboard_image.size(), QSize(4, 3));
  EXPECT_EQ(services_->clipboard_image.pixelColor(1, 1), QColor(0, 255, 0));

  QImage pasted(7, 2, QImage::Format_RGB32);
  pasted.fill(QColor(0, 0, 255));
  services_->clipboard_image = pasted;
  form1_->paste1->trigger();
  EXPECT_EQ(form1_->Picture().Width(), 7);
  EXPECT_EQ(form1_->Picture().Pixel(3, 1), 0xFF0000u);
  EXPECT_EQ(form1_->Image->size(), QSize(7, 2));
}

TEST_F(MainWindowTest, PasteWithOnlyTextOnTheClipboardDoesNothing) {
  services_->file_answers = {WriteBmp("keep.bmp", 4, 3, kRed)};
  form1_->Open1->trigger();
  const TGraphic* before = form1_->Picture().Graphic();
  services_->clipboard_has_image = false;
  form1_->paste1->trigger();
  EXPECT_EQ(form1_->Picture().Graphic(), before);
  EXPECT_EQ(form1_->Picture().Width(), 4);
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(MainWindowTest, HelpOpensHelpPageBesideTheExecutable) {
  form1_->usage1->trigger();
  ASSERT_EQ(services_->opened.size(), 1u);
  EXPECT_EQ(services_->opened[0],
            QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/help.htm"));
  // The build puts the page there.
  EXPECT_TRUE(QFile::exists(QStringLiteral(KEVRALE_BIN_DIR "/help.htm")));
}

TEST_F(MainWindowTest, ColourSettingsAndVersionShowTheirWindowsWithoutTouchingAPick) {
  ScreenCursor::Instance().SetCursor(crDrag);
  form1_->N2->trigger();
  EXPECT_TRUE(form2_->isVisible());
  EXPECT_FALSE(form2_->isModal());
  form1_->version1->trigger();
  EXPECT_TRUE(about_->isVisible());
  EXPECT_FALSE(about_->isModal());
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDrag);
}

TEST_F(MainWindowTest, RunFromMenuAndToolButtonThinsWithTheSwatchColours) {
  // A 3 x 3 block of the target colour keeps only its centre.
  TBitmap bitmap(7, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 7; ++x) bitmap.SetPixel(x, y, clWhite);
  for (int y = 2; y < 5; ++y)
    for (int x = 2; x < 5; ++x) bitmap.SetPixel(x, y, kGreen);
  const QString path = Path("block.bmp");
  bitmap.SaveToFile(path.toStdString());
  services_->file_answers = {path, path};
  form2_->Shape1->SetBrushColor(kGreen);
  form2_->Shape2->SetBrushColor(kRed);

  for (int i = 0; i < 2; ++i) {
    form1_->Open1->trigger();
    ScreenCursor::Instance().SetCursor(crMultiDrag);
    if (i == 0)
      form1_->N4->trigger();
    else
      form1_->ToolButton1->click();
    TPicture& picture = form1_->Picture();
    EXPECT_EQ(picture.Pixel(3, 3), kGreen);
    EXPECT_EQ(picture.Pixel(2, 2), kRed);
    EXPECT_EQ(picture.Pixel(4, 4), kRed);
    EXPECT_EQ(picture.Pixel(0, 0), clWhite);
    // The run ends a pending pick.
    EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
    EXPECT_EQ(form1_->Image->ShownImage().pixelColor(2, 2), QColor(255, 0, 0));
  }
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(MainWindowTest, TooWideAPictureBringsTheWidthMessageInThePlainBox) {
  QImage wide(12501, 1, QImage::Format_RGB32);
  wide.fill(Qt::black);
  services_->clipboard_has_image = true;
  services_->clipboard_image = wide;
  form1_->paste1->trigger();
  ASSERT_EQ(form1_->Picture().Width(), 12501);
  TCursor during = crDefault;
  services_->on_message = [&](const ScriptedServices::Message&) {
    during = ScreenCursor::Instance().Cursor();
  };
  form1_->N4->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].caption, "Kevrale");
  EXPECT_EQ(services_->messages[0].kind, MessageKind::Plain);
  EXPECT_EQ(services_->messages[0].text,
            "画像の横幅が12000pixelを越えていて実行できません\n\n"
            "横長の画像なら、９０°回転してから実行してください\n\n"
            "縦長なら縮小して実行してください");
  // The default cursor comes back once the box is closed.
  EXPECT_EQ(during, crHourGlass);
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
  EXPECT_EQ(form1_->Picture().Pixel(0, 0), clBlack);
}

// A picture larger than the scroll box, in one colour.
QImage LargeImage(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

QPoint ScrollOffset(const TForm1& form) {
  return {form.ScrollBox1->horizontalScrollBar()->value(),
          form.ScrollBox1->verticalScrollBar()->value()};
}

void ScrollTo(TForm1& form, QPoint offset) {
  form.ScrollBox1->horizontalScrollBar()->setValue(offset.x());
  form.ScrollBox1->verticalScrollBar()->setValue(offset.y());
  ASSERT_EQ(ScrollOffset(form), offset);
}

TEST_F(MainWindowTest, ANewPictureOpensAtTheTopLeftAndARunKeepsTheScrollOffset) {
  TBitmap large(1500, 1200);
  for (int y = 0; y < 1200; ++y)
    for (int x = 0; x < 1500; ++x) large.SetPixel(x, y, clWhite);
  const QString path = Path("large.bmp");
  large.SaveToFile(path.toStdString());
  services_->file_answers = {path, path};

  form1_->Open1->trigger();
  ScrollTo(*form1_, {600, 500});
  form1_->N4->trigger();  // the same picture, changed in place
  EXPECT_EQ(ScrollOffset(*form1_), QPoint(600, 500));

  form1_->Open1->trigger();  // opened again: a new picture
  EXPECT_EQ(ScrollOffset(*form1_), QPoint(0, 0));

  ScrollTo(*form1_, {300, 200});
  services_->clipboard_has_image = true;
  services_->clipboard_image = LargeImage(1400, 1100, Qt::white);
  form1_->paste1->trigger();
  EXPECT_EQ(form1_->Picture().Width(), 1400);
  EXPECT_EQ(ScrollOffset(*form1_), QPoint(0, 0));

  ScrollTo(*form1_, {300, 200});
  form1_->LoadDroppedFile(path);
  EXPECT_EQ(ScrollOffset(*form1_), QPoint(0, 0));

  // A failed load keeps the picture, and with it the place shown.
  ScrollTo(*form1_, {300, 200});
  services_->file_answers = {Path("missing.bmp")};
  form1_->Open1->trigger();
  EXPECT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(ScrollOffset(*form1_), QPoint(300, 200));
}

TEST_F(MainWindowTest, AFileArgumentOpensAsADroppedFileDoes) {
  WriteBmp("argument.bmp", 6, 5, kRed);
  // Named relative to the current folder, as a shell passes it.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(temp_.path()));
  ScreenCursor::Instance().SetCursor(crDrag);
  form1_->OpenFileArgument({"kevrale", "argument.bmp"});
  QDir::setCurrent(previous);
  EXPECT_EQ(form1_->Picture().Width(), 6);
  EXPECT_EQ(form1_->Picture().Pixel(2, 2), kRed);
  // The busy cursor came and went, which ends a pending pick.
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
  EXPECT_TRUE(services_->messages.empty());

  // No argument: nothing happens.
  form1_->OpenFileArgument({"kevrale"});
  EXPECT_EQ(form1_->Picture().Width(), 6);
  EXPECT_TRUE(services_->messages.empty());

  // A file that cannot be opened brings the drop's message, with the cursor
  // already back to its default shape, and keeps the picture.
  const QString missing = Path("absent.bmp");
  TCursor during = crHourGlass;
  services_->on_message = [&](const ScriptedServices::Message&) {
    during = ScreenCursor::Instance().Cursor();
  };
  form1_->OpenFileArgument({"kevrale", missing});
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "ファイル " + missing + " は開けません");
  EXPECT_EQ(services_->messages[0].kind, MessageKind::Error);
  EXPECT_EQ(during, crDefault);
  EXPECT_EQ(form1_->Picture().Width(), 6);
}

void Drop(TForm1& form, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &drop);
}

TEST_F(MainWindowTest, DroppingThreeFilesLoadsOnlyTheFirstAndEndsAPick) {
  const QString first = WriteBmp("first.bmp", 9, 8, kRed);
  const QString second = WriteBmp("second.bmp", 4, 4, kGreen);
  ScreenCursor::Instance().SetCursor(crDrag);
  Drop(*form1_,
       {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(second)});
  EXPECT_EQ(form1_->Picture().Width(), 9);
  EXPECT_EQ(form1_->Picture().Pixel(3, 3), kRed);
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, AFailedDropReportsAndStillRestoresTheCursor) {
  const QString missing = Path("gone.bmp");
  ScreenCursor::Instance().SetCursor(crMultiDrag);
  TCursor during = crDefault;
  services_->on_message = [&](const ScriptedServices::Message&) {
    during = ScreenCursor::Instance().Cursor();
  };
  Drop(*form1_, {QUrl::fromLocalFile(missing)});
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "ファイル " + missing + " は開けません");
  // The cursor is back to the default before the error is shown.
  EXPECT_EQ(during, crDefault);
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
}

TEST_F(MainWindowTest, ADroppedPathLongerThan255CharactersIsUsedWhole) {
  QString folder = temp_.path();
  while (folder.size() < 300) folder += QStringLiteral("/a-rather-long-folder-name-for-testing");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + QStringLiteral("/picture.bmp");
  TBitmap bitmap(3, 2);
  bitmap.SaveToFile(path.toStdString());
  ASSERT_GT(path.size(), 255);
  Drop(*form1_, {QUrl::fromLocalFile(path)});
  EXPECT_TRUE(services_->messages.empty());
  EXPECT_EQ(form1_->Picture().Width(), 3);
}

QString WriteList(const QString& path, const QByteArray& content) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
  return path;
}

TEST_F(MainWindowTest, BatchRunsEveryListedImageAndSaysItIsDone) {
  TBitmap bitmap(7, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 7; ++x)
      bitmap.SetPixel(x, y, (x >= 2 && x < 5 && y >= 2 && y < 5) ? clBlack : clWhite);
  bitmap.SaveToFile(Path("one.bmp").toStdString());
  WriteBmp("two.bmp", 5, 5, clWhite, clBlack);
  const QString list =
      WriteList(Path("list.txt"), (Path("one.bmp") + "\r\n" + Path("two.bmp") + "\n").toUtf8());
  services_->file_answers = {list};
  TCursor during = crHourGlass;
  services_->on_message = [&](const ScriptedServices::Message&) {
    during = ScreenCursor::Instance().Cursor();
  };
  form1_->txt1->trigger();

  ASSERT_EQ(services_->file_requests.size(), 1u);
  EXPECT_EQ(services_->file_requests[0].filter, "txt|*.txt");
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].caption, "Kevrale");
  EXPECT_EQ(services_->messages[0].text, "終了しました");
  EXPECT_EQ(services_->messages[0].kind, MessageKind::Plain);
  EXPECT_EQ(during, crDefault);
  TPicture result;
  result.LoadFromFile(Path("one_s.bmp").toStdString());
  EXPECT_EQ(result.Pixel(3, 3), clBlack);
  EXPECT_EQ(result.Pixel(2, 2), clWhite);
  EXPECT_TRUE(QFile::exists(Path("two_s.bmp")));
  // The picture holds the last entry's result.
  EXPECT_EQ(form1_->Picture().Width(), 5);
}

TEST_F(MainWindowTest, ACancelledListDialogDoesNothingAlsoAfterAnEarlierChoice) {
  WriteBmp("img.bmp", 4, 4, clWhite);
  const QString list = WriteList(Path("list.txt"), Path("img.bmp").toUtf8());
  form1_->txt1->trigger();  // cancelled before any choice
  EXPECT_TRUE(services_->messages.empty());
  services_->file_answers = {list};
  form1_->txt1->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  ASSERT_TRUE(QFile::remove(Path("img_s.bmp")));
  form1_->txt1->trigger();  // cancelled after a choice
  EXPECT_EQ(services_->messages.size(), 1u);
  EXPECT_FALSE(QFile::exists(Path("img_s.bmp")));
  EXPECT_EQ(services_->file_requests.back().file_name, list);
}

TEST_F(MainWindowTest, AFailingBatchEntryStopsWithItsMessageAndNoClosingMessage) {
  WriteBmp("ok.bmp", 4, 4, clWhite);
  const QString missing = Path("absent.bmp");
  const QString list =
      WriteList(Path("list.txt"), (Path("ok.bmp") + "\n" + missing + "\n").toUtf8());
  services_->file_answers = {list};
  form1_->txt1->trigger();
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "ファイル " + missing + " は開けません");
  EXPECT_TRUE(QFile::exists(Path("ok_s.bmp")));
  EXPECT_EQ(ScreenCursor::Instance().Cursor(), crDefault);
}

// Runs the event loop until the program ends, or gives up after a while.
int RunUntilTheProgramEnds(const std::function<void()>& action) {
  QTimer::singleShot(0, action);
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  watchdog.start(5000);
  return QCoreApplication::exec();
}

TEST_F(MainWindowTest, ClosingTheMainWindowEndsTheProgramWhileTheOthersAreShown) {
  form2_->show();
  about_->show();
  EXPECT_EQ(RunUntilTheProgramEnds([this] { form1_->close(); }), 0);
  EXPECT_FALSE(form1_->isVisible());
}

TEST_F(MainWindowTest, ExitClosesTheMainWindowAndEndsTheProgram) {
  form2_->show();
  EXPECT_EQ(RunUntilTheProgramEnds([this] { form1_->Exit1->trigger(); }), 0);
  EXPECT_FALSE(form1_->isVisible());
}

}  // namespace
}  // namespace kevrale::test
