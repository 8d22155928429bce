// The tool bar along the top edge of the main window: flat buttons of
// 25 x 25 pixels and separators placed left to right from an indent, with
// etched lines along its top and bottom edges.
#pragma once

#include <QIcon>
#include <QWidget>

class QToolButton;

namespace kevrale {

class TToolBar : public QWidget {
  Q_OBJECT
 public:
  explicit TToolBar(QWidget* parent = nullptr);

  QToolButton* AddButton(const QString& name, const QIcon& glyph, const QString& hint);
  QWidget* AddSeparator(const QString& name, int width);

  static constexpr int kHeight = 29;
  static constexpr int kButtonSize = 25;
  static constexpr int kIndent = 7;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int next_x_ = kIndent;
};

}  // namespace kevrale
