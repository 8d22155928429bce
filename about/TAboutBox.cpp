#include "about/TAboutBox.h"

#include <algorithm>
#include <initializer_list>

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "about/TLightLabel.h"
#include "desktop/ProgramIcon.h"
#include "desktop/UiFont.h"
#include "platform/Version.h"

namespace kevrale {

const char* const TAboutBox::kMailAddress = "kevrale@example.org";
const char* const TAboutBox::kHomePage = "https://kevrale.example.org/";

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QPoint at) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(at);
  label->adjustSize();
  return label;
}

TLightLabel* MakeLink(QWidget* parent, const char* name, const QString& target, TJumpType type,
                      QPoint at) {
  auto* link = new TLightLabel(parent);
  link->setObjectName(QString::fromLatin1(name));
  link->setText(target);
  link->move(at);
  const QColor face = QGuiApplication::palette().color(QPalette::Button);
  link->SetColor(face);
  link->SetLightColor(face);
  link->SetDefaultColor(face);
  link->SetClickColor(face);
  QFont plain = UiFont(12);
  QFont underlined = plain;
  underlined.setUnderline(true);
  link->SetDefaultFont({plain, QColor(0, 0, 255)});
  link->SetLightFont({underlined, QColor(0, 0, 255)});
  link->SetClickFont({plain, QColor(255, 0, 0)});
  link->SetLightEnabled(true);
  link->SetDefaultEnabled(true);
  link->SetClickEnabled(true);
  link->SetJumpType(type);
  link->SetJumpTo(target);
  link->adjustSize();
  return link;
}

// The stand-in faces are wider than "ＭＳ Ｐゴシック": a text that would run
// past the panel's edge is drawn a little narrower, at the same height.
QFont FittingFont(QFont font, const QString& text, int width) {
  const int needed = QFontMetrics(font).horizontalAdvance(text);
  if (needed > width) font.setStretch(std::max(50, width * 100 / needed));
  return font;
}

// The labels of the panel are placed for a face whose lines are 12 pixels
// high (15 for the product name); the stand-in faces need more. Each label
// keeps its place where the one above leaves room, and otherwise starts
// right below it, so that no text covers another.
void StackDown(std::initializer_list<QWidget*> labels) {
  int bottom = 0;
  for (QWidget* label : labels) {
    const QSize size = label->hasHeightForWidth()
                           ? QSize(label->width(), label->heightForWidth(label->width()))
                           : label->sizeHint();
    label->setGeometry(label->x(), std::max(label->y(), bottom), label->width(), size.height());
    bottom = label->geometry().bottom() + 1;
  }
}

}  // namespace

// A dialog frame with a close box and neither minimise nor maximise.
TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFont(UiFont(12));
  setModal(false);
  setFixedSize(298, 213);

  // An etched frame: lowered outside, raised inside.
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Panel1->setGeometry(8, 8, 281, 161);

  Image1 = new QLabel(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(24, 16, 41, 41);
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setPixmap(ProgramIcon().pixmap(QSize(32, 32)));

  ProductName =
      MakeLabel(Panel1, "ProductName", QStringLiteral("フルカラーKevraleプログラム"), {88, 16});
  ProductName->setFont(FittingFont(UiFont(15), ProductName->text(), 281 - 88 - 4));
  ProductName->adjustSize();
  Version = MakeLabel(Panel1, "Version", QString::fromLatin1(kVersionText), {152, 40});
  Copyright = MakeLabel(Panel1, "Copyright",
                        QStringLiteral("Copyright (C) 2001-2026 Kevrale Project"), {8, 80});
  Comments = new QLabel(QStringLiteral("プログラム：Kevrale開発チーム"), Panel1);
  Comments->setObjectName(QStringLiteral("Comments"));
  Comments->setWordWrap(true);
  Comments->setGeometry(96, 104, 281 - 96 - 8, Comments->heightForWidth(281 - 96 - 8));
  Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  LightLabel1 =
      MakeLink(Panel1, "LightLabel1", QString::fromLatin1(kMailAddress), jtMail, {144, 120});
  LightLabel2 = MakeLink(Panel1, "LightLabel2", QString::fromLatin1(kHomePage), jtCust, {72, 136});
  StackDown({ProductName, Version, Copyright, Comments, LightLabel1, LightLabel2});

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(111, 180, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TAboutBox::OKButtonClick() {
  close();
}

}  // namespace kevrale
