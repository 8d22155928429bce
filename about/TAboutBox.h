// The About box: the program's icon, name, version and copyright, a credit
// line and two link labels (mail and home page). Created hidden, shown by
// "バージョン情報", never modal; OK, Enter or the close box hide it.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace kevrale {

class TLightLabel;

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  void OKButtonClick();

  static const char* const kMailAddress;
  static const char* const kHomePage;

  QFrame* Panel1;
  QLabel* Image1;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QLabel* Comments;
  TLightLabel* LightLabel1;
  TLightLabel* LightLabel2;
  QPushButton* OKButton;
};

}  // namespace kevrale
