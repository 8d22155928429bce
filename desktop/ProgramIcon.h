// The program's icon, in the sizes drawn for it (16 to 256 pixels).
#pragma once

#include <QIcon>

namespace kevrale {

QIcon ProgramIcon();

}  // namespace kevrale
