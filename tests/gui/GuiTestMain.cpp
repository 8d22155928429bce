// The window tests run on one TApplication, on Qt's offscreen platform.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "app/TApplication.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no windows.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return RUN_ALL_TESTS();
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  kevrale::TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
