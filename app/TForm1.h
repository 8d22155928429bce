// The main window: the picture in a scrolling area, the menu and the tool
// bar through which every command is reached, opening by dialog and by
// dropping a file, saving, the clipboard, help, the thinning run, the batch
// run and colour picking on the picture.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include "app/TFileDialog.h"
#include "app/UndoHistory.h"

#include "picture/TPicture.h"
#include "plugins/TSPIs.h"
#include "thinning/ThinningEngine.h"

class QAction;
class QMenu;
class QScrollArea;
class QToolButton;

namespace kevrale {

class TAboutBox;
class TForm2;
class TImage;
class TToolBar;
class ZoomView;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The colour settings window and the About box, created after this window.
  void Attach(TForm2* form2, TAboutBox* about_box);

  TPicture& Picture() { return picture_; }

  // The commands of the menu and the tool bar.
  void Open1Click();
  void txt1Click();
  void Saveas1Click();
  void Save1Click();
  void Exit1Click();
  void copy2Click();
  void paste1Click();
  void N2Click();
  void N4Click();
  void usage1Click();
  void version1Click();
  // Ctrl + Z, and Ctrl + Y or Ctrl + Shift + Z: the picture before the last
  // change, and back again. The view keeps its place and zoom.
  void UndoClick();
  void RedoClick();
  // A mouse press on the picture: the colour pick.
  void ImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  // The first of the files dropped on the window is loaded.
  void LoadDroppedFile(const QString& path);
  // The program's arguments (its own name first): a file named after the
  // name is loaded as a dropped file is, with the same cursor and messages.
  void OpenFileArgument(const QStringList& arguments);
  // Shows one message that lists the plug-in files that the start-up could
  // not use, each with its reason; nothing when there are none. The
  // program calls it once the window is up.
  void ShowSkippedPlugins();

  // The plug-in host: its import plug-ins' formats are registered with the
  // picture's format registry for as long as the window lives.
  std::unique_ptr<TSPIs> SPIs1;
  TFileDialog OpenDialog1;
  TFileDialog SaveDialog1;
  TFileDialog OpenDialog2;

  QMenu* File1;
  QAction* Open1;
  QAction* txt1;
  QAction* N3;
  QAction* Saveas1;
  QAction* N1;
  QAction* Exit1;
  QMenu* copy1;
  QAction* copy2;
  QAction* paste1;
  QAction* N2;
  QAction* N4;
  QMenu* help2;
  QAction* usage1;
  QAction* version1;
  TToolBar* ToolBar1;
  QToolButton* ToolButton7;
  QWidget* ToolButton9;
  QToolButton* ToolButton1;
  QWidget* ToolButton2;
  QScrollArea* ScrollBox1;
  TImage* Image;
  // The zoom of the picture's view, and the picture's history.
  ZoomView* ImageZoom;
  UndoHistory History;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenu();
  void BuildClientArea();
  // Creates the plug-in host SPIs1 and runs its search, so that the plug-in
  // formats are registered before anything can be opened.
  void CreatePluginHost();
  void FormCreate();
  void ScrollToTopLeft();
  TColor TargetColor() const;
  TColor SurroundColor() const;
  ThinningOptions Options() const;
  // Runs a command that may change the picture, keeping the picture as it
  // was for undo when it did.
  void ChangePicture(const std::function<void()>& change);
  // An undo or redo step, keeping the view's place and zoom.
  void Restore(bool (UndoHistory::*step)(TPicture&));

  TPicture picture_;
  QWidget* client_ = nullptr;
  const TGraphic* shown_graphic_ = nullptr;
  // Counts the picture's changes; set while undo or redo puts a picture
  // back, which keeps the view where it is.
  unsigned long changes_ = 0;
  bool restoring_ = false;
  TForm2* form2_ = nullptr;
  TAboutBox* about_box_ = nullptr;
};

}  // namespace kevrale
