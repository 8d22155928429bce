#include "app/TColorDialog.h"

#include "desktop/DesktopServices.h"

namespace kevrale {

bool TColorDialog::Execute(QWidget* parent) {
  const std::optional<TColor> chosen = Services().ChooseColor(parent, Color);
  if (!chosen) return false;
  Color = *chosen & kColorMask;
  return true;
}

}  // namespace kevrale
