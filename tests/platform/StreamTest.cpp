#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempFolder.h"
#include "platform/Exception.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;

class StreamTest : public ::testing::Test {
 protected:
  static std::string Contents(const std::string& path) { return test::ReadText(path); }
  void Write(const std::string& path, const std::string& text) { test::WriteText(path, text); }
  size_t EntriesInDir() const { return dir_.Entries().size(); }

  test::TempFolder dir_;
};

TEST_F(StreamTest, OpenErrorsNameThePath) {
  const std::string missing = dir_.File("missing.bmp");
  try {
    TFileStream s(missing, TFileStream::Mode::Read);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + missing + " は開けません");
  }
  // A folder is not a file to read.
  EXPECT_THROW(TFileStream(dir_.Path(), TFileStream::Mode::Read), EFOpenError);
}

// Room set aside for a file is not part of it: a file written short of
// what was reserved, and one written from its end first (as BMP rows are),
// has exactly the bytes written.
TEST_F(StreamTest, ReservedRoomLeavesTheSizeToTheWrites) {
  const std::string path = dir_.File("reserved.bin");
  {
    TFileStream s(path, TFileStream::Mode::Create);
    s.Reserve(1 << 20);
    EXPECT_EQ(s.Size(), 0);
    s.SetPosition(6);
    s.WriteBuffer("tail", 4);
    s.SetPosition(0);
    s.WriteBuffer("head: ", 6);
    EXPECT_EQ(s.Size(), 10);
  }
  EXPECT_EQ(Contents(path), "head: tail");
}

TEST(MemoryStreamTest, ReadsWritesAndSeeks) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  EXPECT_EQ(m.Size(), 6);
  m.SetPosition(2);
  char buf[3] = {};
  m.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "cde");
  EXPECT_THROW(m.ReadBuffer(buf, 2), EReadError);
  m.Seek(-1, SeekOrigin::End);
  m.WriteBuffer("XYZ", 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())), "abcdeXYZ");
  EXPECT_EQ(m.Seek(-100, SeekOrigin::Current), 8) << "a seek before the start is ignored";
  if (m.Seek(10, SeekOrigin::Beginning) == 10) {
    m.WriteBuffer("Q", 1);
    ASSERT_EQ(m.Size(), 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()) + 6, 5),
              std::string("YZ\0\0Q", 5))
        << "a gap after the end reads as zeros";
  }
}

TEST(MemoryStreamTest, BorrowedStreamNeverReadsPastItsEnd) {
  const char data[] = {1, 2, 3};
  TBorrowedMemoryStream s(data, sizeof data);
  char out[8];
  EXPECT_EQ(s.Read(out, sizeof out), 3u);
  EXPECT_EQ(s.Read(out, sizeof out), 0u);
  s.Seek(10, SeekOrigin::Beginning);
  EXPECT_EQ(s.Read(out, 1), 0u);
  EXPECT_EQ(s.Write(out, 1), 0u);
}

}  // namespace
}  // namespace kevrale
