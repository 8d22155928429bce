// A link label: a text label that shows a light look while the pointer is
// over it, a click look while a mouse button is held on it and its default
// look otherwise, and that hands a target (an address, a mail address, a
// file, its caption) to the desktop when it is clicked.
#pragma once

#include <functional>

#include <QColor>
#include <QLabel>
#include <QString>

#include "about/TFont.h"

namespace kevrale {

enum TJumpType { jtNone = 0, jtCust = 1, jtHome = 2, jtMail = 3, jtFile = 4, jtCaption = 5 };

class TLightLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLightLabel(QWidget* parent = nullptr);

  // The label's own background and font: the look it shows now.
  const QColor& Color() const { return color_; }
  void SetColor(const QColor& color);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& font);

  // Background and font while the pointer is over the label.
  const QColor& LightColor() const { return light_color_; }
  void SetLightColor(const QColor& color) { light_color_ = color; }
  const TFont& LightFont() const { return light_font_; }
  void SetLightFont(const TFont& font);
  bool LightEnabled() const { return light_enabled_; }
  void SetLightEnabled(bool enabled) { light_enabled_ = enabled; }

  // Background and font while the pointer is away. While DefaultEnabled is
  // true, setting either shows it at once.
  const QColor& DefaultColor() const { return default_color_; }
  void SetDefaultColor(const QColor& color);
  const TFont& DefaultFont() const { return default_font_; }
  void SetDefaultFont(const TFont& font);
  bool DefaultEnabled() const { return default_enabled_; }
  void SetDefaultEnabled(bool enabled) { default_enabled_ = enabled; }

  // Background and font while a mouse button is held on the label.
  const QColor& ClickColor() const { return click_color_; }
  void SetClickColor(const QColor& color) { click_color_ = color; }
  const TFont& ClickFont() const { return click_font_; }
  void SetClickFont(const TFont& font);
  bool ClickEnabled() const { return click_enabled_; }
  void SetClickEnabled(bool enabled) { click_enabled_ = enabled; }

  // How a click turns JumpTo (or the caption) into a target for the desktop.
  TJumpType JumpType() const { return jump_type_; }
  void SetJumpType(TJumpType type) { jump_type_ = type; }
  const QString& JumpTo() const { return jump_to_; }
  void SetJumpTo(const QString& target) { jump_to_ = target; }

  // Called after the pointer has entered or left the label.
  std::function<void(TLightLabel& sender)> OnMouseEnter;
  std::function<void(TLightLabel& sender)> OnMouseLeave;
  // The plain label's events: a mouse button pressed, the click.
  std::function<void(TLightLabel& sender, Qt::MouseButton button)> OnMouseDown;
  std::function<void(TLightLabel& sender)> OnClick;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ShowLook(const QColor& color, const TFont& font);
  void Click();
  void Jump();
  void Open(const QString& target);

  QColor light_color_;
  TFont light_font_;
  bool light_enabled_ = true;
  QColor default_color_;
  TFont default_font_;
  bool default_enabled_ = true;
  QColor click_color_;
  TFont click_font_;
  bool click_enabled_ = true;
  TJumpType jump_type_ = jtCust;
  QString jump_to_;

  QColor color_;
  TFont font_;
  bool pointer_inside_ = false;
  bool left_pressed_ = false;
};

}  // namespace kevrale
