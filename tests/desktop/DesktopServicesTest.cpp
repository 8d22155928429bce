// The seam through which every dialog and message box goes: the services
// in use are the real ones until a test puts its own in, and the previous
// ones come back when they are put back.
#include "desktop/DesktopServices.h"

#include <gtest/gtest.h>

#include <memory>

#include "ScriptedServices.h"
#include "desktop/QtDesktopServices.h"

namespace kevrale {
namespace {

TEST(DesktopServicesTest, TheRealServicesUntilOthersArePutIn) {
  EXPECT_NE(dynamic_cast<QtDesktopServices*>(&Services()), nullptr);
  auto scripted = std::make_unique<test::ScriptedServices>();
  test::ScriptedServices* in_use = scripted.get();
  std::unique_ptr<DesktopServices> real = SetServices(std::move(scripted));
  ASSERT_NE(dynamic_cast<QtDesktopServices*>(real.get()), nullptr);
  EXPECT_EQ(&Services(), in_use);

  Services().ShowMessage(nullptr, QStringLiteral("Kevrale"), QStringLiteral("終了しました"),
                         MessageKind::Plain);
  ASSERT_EQ(in_use->messages.size(), 1u);
  EXPECT_EQ(in_use->messages[0].text, QStringLiteral("終了しました"));

  const std::unique_ptr<DesktopServices> back = SetServices(std::move(real));
  EXPECT_EQ(back.get(), in_use);
  EXPECT_NE(dynamic_cast<QtDesktopServices*>(&Services()), nullptr);
}

}  // namespace
}  // namespace kevrale
