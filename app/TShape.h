// A colour swatch: a square filled with its brush colour and framed by a
// black line one pixel wide.
#pragma once

#include <QWidget>

#include "platform/Color.h"

namespace kevrale {

class TShape : public QWidget {
  Q_OBJECT
 public:
  explicit TShape(TColor brush, QWidget* parent = nullptr);

  TColor BrushColor() const { return brush_; }
  void SetBrushColor(TColor color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TColor brush_;
};

}  // namespace kevrale
