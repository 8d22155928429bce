#include "batch/ListFileError.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace kevrale {
namespace {

TEST(ListFileErrorTest, ErrnoChoosesNumberAndText) {
  const struct {
    int os_error;
    int code;
    const char* text;
  } cases[] = {
      {ENOENT, 2, "File not found"},
      {ENAMETOOLONG, 3, "Invalid filename"},
      {ENOTDIR, 3, "Invalid filename"},
      {EMFILE, 4, "Too many open files"},
      {ENFILE, 4, "Too many open files"},
      {EACCES, 5, "File access denied"},
      {EPERM, 5, "File access denied"},
      {EISDIR, 5, "File access denied"},
      {ENOSPC, 101, "Disk full"},
      {ELOOP, ELOOP, "I/O error 40"},
      // EIO is 5 on Linux, yet it is no access error: it keeps the generic text.
      {EIO, EIO, "I/O error 5"},
  };
  for (const auto& c : cases) {
    const EInOutError e = InOutErrorFor(c.os_error);
    EXPECT_EQ(e.ErrorCode, c.code) << c.os_error;
    EXPECT_EQ(e.Message(), c.text) << c.os_error;
    EXPECT_STREQ(e.ClassName(), "EInOutError");
  }
}

}  // namespace
}  // namespace kevrale
