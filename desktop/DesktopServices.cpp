#include "desktop/DesktopServices.h"

#include "desktop/QtDesktopServices.h"

namespace kevrale {

namespace {

std::unique_ptr<DesktopServices>& Current() {
  static std::unique_ptr<DesktopServices> services;
  return services;
}

}  // namespace

DesktopServices& Services() {
  auto& current = Current();
  if (!current) current = std::make_unique<QtDesktopServices>();
  return *current;
}

std::unique_ptr<DesktopServices> SetServices(std::unique_ptr<DesktopServices> services) {
  auto previous = std::move(Current());
  Current() = std::move(services);
  return previous;
}

}  // namespace kevrale
