#include "desktop/ProgramIcon.h"

namespace kevrale {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/kevrale/icons/kevrale-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace kevrale
