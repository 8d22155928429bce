#include "app/TForm1.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QToolButton>

#include "about/TAboutBox.h"
#include "app/ErrorHandler.h"
#include "app/FilterText.h"
#include "app/Glyphs.h"
#include "app/PictureImage.h"
#include "app/TForm2.h"
#include "app/TImage.h"
#include "app/TShape.h"
#include "app/TToolBar.h"
#include "app/ZoomView.h"
#include "batch/BatchRun.h"
#include "desktop/BusyCursor.h"
#include "desktop/DesktopServices.h"
#include "desktop/ScreenCursor.h"
#include "desktop/UiFont.h"
#include "picture/ImageFileFormat.h"
#include "platform/Exception.h"
#include "platform/FileName.h"
#include "plugins/ProgramPluginHost.h"
#include "thinning/SkeletonSvg.h"

namespace kevrale {

namespace {

// The client area below the menu, at 96 dots per inch.
constexpr int kClientWidth = 592;
constexpr int kClientHeight = 420;
// ScrollBox1 starts at y = 32 and is 593 x 390 in that client area; it keeps
// those distances to all four sides as the window is resized.
constexpr int kScrollTop = 32;
constexpr int kScrollExtraWidth = 593 - kClientWidth;
constexpr int kScrollHeightLoss = kClientHeight - 390;

// Those distances reach one pixel past the right edge and two past the
// bottom, which would cut off the scroll bars' edges: the scroll box ends
// inside the client area.
QRect ScrollBoxGeometry(QSize client) {
  const QRect laid_out(0, kScrollTop, client.width() + kScrollExtraWidth,
                       std::max(0, client.height() - kScrollHeightLoss));
  return laid_out.intersected(QRect(QPoint(0, 0), client));
}

// One filter per format of the table of extensions: BMP first, then the
// other raster formats the picture writes, then the centre lines as SVG
// ("ビットマップ(*.bmp)|*.bmp|PNG (*.png)|*.png|...").
QString SaveFilter() {
  std::string filter;
  std::string name;
  std::string masks;
  const auto flush = [&] {
    if (name.empty()) return;
    filter += (filter.empty() ? "" : "|") + name + "(" + masks + ")|" + masks;
    masks.clear();
  };
  for (const TImageFileExtension& e : ImageFileExtensions()) {
    if (!e.filter_name.empty()) {
      flush();
      name = e.filter_name;
    }
    masks += (masks.empty() ? "*." : ";*.") + std::string(e.extension);
  }
  flush();
  return QString::fromStdString(filter);
}

template <class Method>
void Bind(QAction* action, TForm1* form, Method method) {
  QObject::connect(action, &QAction::triggered, form,
                   [form, method] { Guarded([form, method] { (form->*method)(); }); });
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& text) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QAction* MakeSeparator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

std::string PathBytes(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      OpenDialog1(FileDialogRequest::Kind::Open, QStringLiteral("BMP")),
      SaveDialog1(FileDialogRequest::Kind::Save, QStringLiteral("bmp"), SaveFilter()),
      OpenDialog2(FileDialogRequest::Kind::Open, QStringLiteral("txt"),
                  QStringLiteral("txt|*.txt")) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kApplicationTitle));
  setFont(UiFont(12));
  BuildMenu();
  BuildClientArea();
  picture_.OnChange = [this](TPicture&) {
    ++changes_;
    Image->PictureChanged();
    // A picture that replaced the one shown (a load, a dropped file, a batch
    // entry) opens at its top-left corner; a changed one (the run) keeps its
    // place. The new graphic is made while the old one still exists, so the
    // two never share an address.
    if (picture_.Graphic() != shown_graphic_) {
      shown_graphic_ = picture_.Graphic();
      if (!restoring_) ScrollToTopLeft();
    }
  };
  Image->SetPicture(&picture_);
  Image->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    Guarded([&] { ImageMouseDown(button, shift, x, y); });
  };
  CreatePluginHost();
  FormCreate();

  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - frameGeometry().center() + pos());
}

TForm1::~TForm1() {
  // The picture outlives the image control that listens to it.
  picture_.OnChange = nullptr;
}

void TForm1::Attach(TForm2* form2, TAboutBox* about_box) {
  form2_ = form2;
  about_box_ = about_box;
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  File1 = bar->addMenu(QStringLiteral("ファイル"));
  File1->setObjectName(QStringLiteral("File1"));
  Open1 = MakeAction(File1, "Open1", QStringLiteral("画像(BMP)を開く"));
  txt1 = MakeAction(File1, "txt1", QStringLiteral("リスト(txt)で実行"));
  N3 = MakeSeparator(File1, "N3");
  Saveas1 = MakeAction(File1, "Saveas1", QStringLiteral("画像(BMP)を保存"));
  N1 = MakeSeparator(File1, "N1");
  Exit1 = MakeAction(File1, "Exit1", QStringLiteral("終了"));

  copy1 = bar->addMenu(QStringLiteral("編集"));
  copy1->setObjectName(QStringLiteral("copy1"));
  copy2 = MakeAction(copy1, "copy2", QStringLiteral("コピー"));
  paste1 = MakeAction(copy1, "paste1", QStringLiteral("ペースト"));

  // Two commands stand in the menu bar itself, without a submenu.
  N2 = bar->addAction(QStringLiteral("色の設定"));
  N2->setObjectName(QStringLiteral("N2"));
  N4 = bar->addAction(QStringLiteral("実行"));
  N4->setObjectName(QStringLiteral("N4"));

  help2 = bar->addMenu(QStringLiteral("ヘルプ"));
  help2->setObjectName(QStringLiteral("help2"));
  usage1 = MakeAction(help2, "usage1", QStringLiteral("使い方"));
  version1 = MakeAction(help2, "version1", QStringLiteral("バージョン情報"));

  Bind(Open1, this, &TForm1::Open1Click);
  Bind(txt1, this, &TForm1::txt1Click);
  Bind(Saveas1, this, &TForm1::Saveas1Click);
  Bind(Exit1, this, &TForm1::Exit1Click);
  Bind(copy2, this, &TForm1::copy2Click);
  Bind(paste1, this, &TForm1::paste1Click);
  Bind(N2, this, &TForm1::N2Click);
  Bind(N4, this, &TForm1::N4Click);
  Bind(usage1, this, &TForm1::usage1Click);
  Bind(version1, this, &TForm1::version1Click);
}

void TForm1::BuildClientArea() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  // The face colour of buttons as background.
  client_->setAutoFillBackground(true);
  QPalette face = client_->palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  client_->setPalette(face);
  setCentralWidget(client_);

  ToolBar1 = new TToolBar(client_);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setGeometry(0, 0, kClientWidth, TToolBar::kHeight);
  ToolButton7 =
      ToolBar1->AddButton(QStringLiteral("ToolButton7"), OpenGlyph(), QStringLiteral("開く"));
  ToolButton9 = ToolBar1->AddSeparator(QStringLiteral("ToolButton9"), 8);
  ToolButton1 =
      ToolBar1->AddButton(QStringLiteral("ToolButton1"), RunGlyph(), QStringLiteral("実行"));
  ToolButton2 = ToolBar1->AddSeparator(QStringLiteral("ToolButton2"), 8);
  connect(ToolButton7, &QToolButton::clicked, this, [this] { Guarded([this] { Open1Click(); }); });
  connect(ToolButton1, &QToolButton::clicked, this, [this] { Guarded([this] { N4Click(); }); });
  // The tool bar holds the focus at start.
  ToolBar1->setFocusPolicy(Qt::StrongFocus);
  ToolBar1->setFocus(Qt::OtherFocusReason);

  ScrollBox1 = new QScrollArea(client_);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrollBox1->setGeometry(ScrollBoxGeometry(QSize(kClientWidth, kClientHeight)));
  Image = new TImage;
  ScrollBox1->setWidget(Image);
  ImageZoom = new ZoomView(this, ScrollBox1, Image);
  const auto key = [this](QList<QKeySequence> keys, void (TForm1::*method)()) {
    auto* shortcut = new QShortcut(this);
    shortcut->setKeys(keys);
    connect(shortcut, &QShortcut::activated, this,
            [this, method] { Guarded([this, method] { (this->*method)(); }); });
  };
  key({QKeySequence(Qt::CTRL | Qt::Key_Z)}, &TForm1::UndoClick);
  key({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
      &TForm1::RedoClick);

  client_->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) {
    const QSize size = client_->size();
    ToolBar1->setGeometry(0, 0, size.width(), TToolBar::kHeight);
    ScrollBox1->setGeometry(ScrollBoxGeometry(size));
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::CreatePluginHost() {
  // Loads the bundled plug-ins, then searches the Susie plug-in folder and
  // the program's folder; a library that cannot be used is skipped and
  // listed once the window is up. Making the Wine prefix for a Windows
  // plug-in takes some seconds, under the busy cursor.
  ProgramPluginSettings settings;
  settings.wine.on_prefix_creation = BusyCursorSwitch();
  SPIs1 = CreateProgramPluginHost(settings);
}

void TForm1::ShowSkippedPlugins() {
  if (SPIs1 == nullptr || SPIs1->Skipped().empty()) return;
  QString text =
      QStringLiteral("次のファイルはSusie Pluginとして使えないため、読み込みませんでした。");
  for (const TSPISkipped& skipped : SPIs1->Skipped())
    text += QStringLiteral("\n\n") +
            QFile::decodeName(QByteArray::fromStdString(skipped.FileName)) + QStringLiteral("\n") +
            QString::fromStdString(skipped.Text());
  Services().ShowMessage(this, QString::fromLatin1(kApplicationTitle), text, MessageKind::Plain);
}

void TForm1::FormCreate() {
  picture_.SetGraphic(std::make_unique<TBitmap>());
  setAcceptDrops(true);
}

TColor TForm1::TargetColor() const {
  return form2_ != nullptr ? form2_->TargetColor() : clBlack;
}

TColor TForm1::SurroundColor() const {
  return form2_ != nullptr ? form2_->SurroundColor() : clWhite;
}

ThinningOptions TForm1::Options() const {
  return form2_ != nullptr ? form2_->Options() : ThinningOptions{};
}

void TForm1::ChangePicture(const std::function<void()>& change) {
  History.Record(picture_);
  const unsigned long before = changes_;
  try {
    change();
  } catch (...) {
    if (changes_ == before) History.Forget();
    throw;
  }
  if (changes_ == before) History.Forget();
}

void TForm1::UndoClick() {
  Restore(&UndoHistory::Undo);
}

void TForm1::RedoClick() {
  Restore(&UndoHistory::Redo);
}

void TForm1::Restore(bool (UndoHistory::*step)(TPicture&)) {
  restoring_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{restoring_};
  (History.*step)(picture_);
}

void TForm1::Open1Click() {
  OpenDialog1.Filter = QString::fromStdString(BuildOpenFilter(TPicture::FileFormats()));
  if (!OpenDialog1.Execute(this)) return;
  picture_.LoadFromFile(OpenDialog1.FileNameBytes());
  History.Clear();
}

void TForm1::txt1Click() {
  // A cancelled dialog does nothing, also after a list was chosen before.
  if (!OpenDialog2.Execute(this)) return;
  {
    BusyCursor busy;
    const std::string list = OpenDialog2.FileNameBytes();
    if (list.empty()) return;
    ChangePicture([&] {
      RunBatch(
          list, picture_, TargetColor(), SurroundColor(),
          [] { ShowPlainMessage(kThinningWidthMessage); }, Options());
    });
  }
  ShowPlainMessage("終了しました");
}

void TForm1::Saveas1Click() {
  if (SaveDialog1.Execute(this)) Save1Click();
}

void TForm1::Save1Click() {
  // The name's extension chooses the format, whichever filter was shown;
  // the lines of the target colour, within the tolerance a run would use.
  SaveThinningResult(picture_, TargetColor(), Options().tolerance, SvgOptions{},
                     SaveDialog1.FileNameBytes());
}

void TForm1::Exit1Click() {
  close();
}

void TForm1::copy2Click() {
  const QImage image = PictureToImage(picture_);
  if (!image.isNull()) Services().SetClipboardImage(image);
}

void TForm1::paste1Click() {
  if (!Services().ClipboardHasImage()) return;
  const QImage image = Services().ClipboardImage();
  if (image.isNull()) return;
  ChangePicture([&] { picture_.AssignImage(ImageToArgb(image)); });
  // The bitmap takes the pasted pixels in place, but it is a new picture.
  ScrollToTopLeft();
}

void TForm1::N2Click() {
  if (form2_ == nullptr) return;
  // Where the window manager lets it be minimised, it comes back as well.
  form2_->setWindowState(form2_->windowState() & ~Qt::WindowMinimized);
  form2_->show();
  form2_->raise();
  form2_->activateWindow();
}

void TForm1::N4Click() {
  ChangePicture([&] {
    // The default cursor comes back after the width message has been
    // closed, and after a run that fails.
    const BusyCursor busy;
    if (RunThinning(picture_, TargetColor(), SurroundColor(), Options()) == ThinningResult::TooWide)
      ShowPlainMessage(kThinningWidthMessage);
  });
}

void TForm1::usage1Click() {
  Services().OpenUrl(
      QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + QStringLiteral("/help.htm")));
}

void TForm1::version1Click() {
  if (about_box_ == nullptr) return;
  about_box_->setWindowState(about_box_->windowState() & ~Qt::WindowMinimized);
  about_box_->show();
  about_box_->raise();
  about_box_->activateWindow();
}

void TForm1::ImageMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
  ScreenCursor& screen = ScreenCursor::Instance();
  const TCursor mode = screen.Cursor();
  const bool picking = (mode == crDrag || mode == crMultiDrag) && form2_ != nullptr;
  if (picking) {
    // Raises the picture's message for a graphic that is not a bitmap; the
    // pick then stays pending.
    const TColor color = picture_.Pixel(x, y);
    // A press beside the bitmap (the empty picture at start, or a control
    // left larger than the picture) picks nothing.
    const bool inside = x >= 0 && y >= 0 && x < picture_.Width() && y < picture_.Height();
    if (inside) {
      TShape* swatch = mode == crDrag ? form2_->Shape1 : form2_->Shape2;
      swatch->SetBrushColor(color);
    }
  }
  screen.SetCursor(crDefault);
  if (picking) form2_->PickEnded();
}

void TForm1::LoadDroppedFile(const QString& path) {
  BusyCursor busy;
  picture_.LoadFromFile(PathBytes(path));
  History.Clear();
}

void TForm1::OpenFileArgument(const QStringList& arguments) {
  if (arguments.size() < 2 || arguments[1].isEmpty()) return;
  const QString path = QFileInfo(arguments[1]).absoluteFilePath();
  Guarded([&] { LoadDroppedFile(path); });
}

void TForm1::ScrollToTopLeft() {
  ImageZoom->Reset();
  ScrollBox1->horizontalScrollBar()->setValue(0);
  ScrollBox1->verticalScrollBar()->setValue(0);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data != nullptr && data->hasUrls() && !data->urls().isEmpty() &&
      data->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return;
  const QUrl first = data->urls().first();
  if (!first.isLocalFile()) return;
  event->acceptProposedAction();
  // The whole path is used, however long it is.
  const QString path = first.toLocalFile();
  Guarded([&] { LoadDroppedFile(path); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  event->accept();
  // Closing the main window ends the program, whatever else is shown.
  QCoreApplication::exit(0);
}

}  // namespace kevrale
