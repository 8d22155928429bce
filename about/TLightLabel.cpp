#include "about/TLightLabel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QMouseEvent>
#include <QUrl>

#include "desktop/DesktopServices.h"

namespace kevrale {

namespace {

const QColor kBlue(0, 0, 255);  // 0xFF0000 as 0x00BBGGRR
const QColor kRed(255, 0, 0);   // 0x0000FF

QFont WithoutStyle(QFont font) {
  font.setBold(false);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

}  // namespace

TLightLabel::TLightLabel(QWidget* parent) : QLabel(parent) {
  const QColor face = QApplication::palette().color(QPalette::Button);
  light_color_ = face;
  default_color_ = face;
  click_color_ = face;
  QFont underlined;  // the application's default face and size
  underlined.setUnderline(true);
  light_font_ = {underlined, kBlue};
  default_font_ = {WithoutStyle(font()), kBlue};
  click_font_ = {WithoutStyle(font()), kRed};
  setAutoFillBackground(true);
  ShowLook(default_color_, default_font_);
}

void TLightLabel::SetColor(const QColor& color) {
  ShowLook(color, font_);
}

void TLightLabel::SetFont(const TFont& font) {
  ShowLook(color_, font);
}

void TLightLabel::SetLightFont(const TFont& font) {
  if (&font != &light_font_) light_font_ = font;
}

void TLightLabel::SetDefaultColor(const QColor& color) {
  if (color == default_color_) return;
  default_color_ = color;
  if (default_enabled_) SetColor(color);
}

void TLightLabel::SetDefaultFont(const TFont& font) {
  if (&font == &default_font_) return;
  default_font_ = font;
  if (default_enabled_) SetFont(font);
}

void TLightLabel::SetClickFont(const TFont& font) {
  if (&font != &click_font_) click_font_ = font;
}

void TLightLabel::ShowLook(const QColor& color, const TFont& font) {
  color_ = color;
  font_ = font;
  QPalette look = palette();
  look.setColor(QPalette::Window, color);
  look.setColor(QPalette::WindowText, font.Color);
  setPalette(look);
  QLabel::setFont(font.Font);
  // The label keeps the size of its caption, as a plain label does.
  if (!wordWrap()) adjustSize();
}

void TLightLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  pointer_inside_ = true;
  if (light_enabled_) ShowLook(light_color_, light_font_);
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TLightLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  pointer_inside_ = false;
  if (default_enabled_) ShowLook(default_color_, default_font_);
  if (OnMouseLeave) OnMouseLeave(*this);
}

void TLightLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  event->accept();
  if (event->button() == Qt::LeftButton) left_pressed_ = true;
  if (OnMouseDown) OnMouseDown(*this, event->button());
  if (click_enabled_) ShowLook(click_color_, click_font_);
}

void TLightLabel::mouseReleaseEvent(QMouseEvent* event) {
  // A left button pressed and released over the label is a click.
  if (event->button() == Qt::LeftButton) {
    const bool pressed_here = left_pressed_;
    left_pressed_ = false;
    if (pressed_here && rect().contains(event->position().toPoint())) Click();
  }
  QLabel::mouseReleaseEvent(event);
  event->accept();
  // Restoring ignores LightEnabled and DefaultEnabled.
  if (pointer_inside_)
    ShowLook(light_color_, light_font_);
  else
    ShowLook(default_color_, default_font_);
}

void TLightLabel::Click() {
  Jump();
  if (OnClick) OnClick(*this);
}

void TLightLabel::Jump() {
  if (!jump_to_.isEmpty()) {
    switch (jump_type_) {
      case jtCust:
      case jtHome:
        Open(jump_to_);
        break;
      case jtMail:
        Open(QStringLiteral("mailto:") + jump_to_);
        break;
      case jtFile:
        // An absolute path already brings the slash that follows "file://".
        Open((jump_to_.startsWith(QLatin1Char('/')) ? QStringLiteral("file://")
                                                    : QStringLiteral("file:///")) +
             jump_to_);
        break;
      case jtNone:
      case jtCaption:
        break;
    }
  }
  if (jump_type_ == jtCaption && !text().isEmpty()) Open(text());
}

void TLightLabel::Open(const QString& target) {
  // A target without a scheme names a file, found from the program's folder.
  const QUrl url(target, QUrl::TolerantMode);
  if (url.isValid() && url.scheme().size() > 1) {
    Services().OpenUrl(url);
  } else {
    const QDir program_folder(QCoreApplication::applicationDirPath());
    Services().OpenUrl(QUrl::fromLocalFile(program_folder.absoluteFilePath(target)));
  }
}

}  // namespace kevrale
