#include "app/Startup.h"

#include <exception>

#include <QString>

#include "app/ErrorHandler.h"
#include "desktop/DesktopServices.h"

namespace kevrale {

int RunStartup(const std::function<void()>& create, const std::function<int()>& run) {
  try {
    create();
  } catch (const std::exception& error) {
    Services().ShowMessage(nullptr, QStringLiteral("Application Error"), StartupErrorText(error),
                           MessageKind::Error);
    return 1;
  } catch (...) {
    Services().ShowMessage(nullptr, QStringLiteral("Application Error"),
                           QStringLiteral("Exception: 不明なエラーが発生しました"),
                           MessageKind::Error);
    return 1;
  }
  return run();
}

}  // namespace kevrale
