// What every bundled plug-in does at its entry points apart from decoding
// good files: its self-description, the magic-byte test, the input forms
// and their errors, broken and cut-short files, and stopping when the
// progress callback asks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

class EntryPointTest : public ::testing::TestWithParam<std::string> {
 protected:
  EntryPointTest() : plugin_(GetParam()) {}
  const std::vector<uint8_t>& Bytes() const { return Sample(GetParam()); }
  const char* Data(const std::vector<uint8_t>& bytes) const {
    return reinterpret_cast<const char*>(bytes.data());
  }
  int32_t Picture(const std::vector<uint8_t>& bytes, SpiProgressCallback progress = nullptr,
                  intptr_t data = 0) {
    SpiHandle info = reinterpret_cast<SpiHandle>(1), bits = reinterpret_cast<SpiHandle>(1);
    const int32_t result = plugin_.Picture(Data(bytes), intptr_t(bytes.size()), SPI_INPUT_MEMORY,
                                           &info, &bits, progress, data);
    if (result == SPI_SUCCESS) {
      LocalFree(info);
      LocalFree(bits);
    } else {
      EXPECT_EQ(info, nullptr);
      EXPECT_EQ(bits, nullptr);
    }
    return result;
  }
  int32_t Info(const std::vector<uint8_t>& bytes) {
    SpiPictureInfo info;
    return plugin_.PictureInfo(Data(bytes), intptr_t(bytes.size()), SPI_INPUT_MEMORY, &info);
  }

  Plugin plugin_;
};

struct Description {
  const char* format;
  const char* name;
  const char* filter;
  const char* kind;
};

const Description kDescriptions[] = {
    {"png", "Kevrale PNG plug-in 1.0", "*.png", "PNG"},
    {"jpeg", "Kevrale JPEG plug-in 1.0", "*.jpg;*.jpeg;*.jpe;*.jfif", "JPEG"},
    {"gif", "Kevrale GIF plug-in 1.0", "*.gif", "GIF"},
    {"tiff", "Kevrale TIFF plug-in 1.0", "*.tif;*.tiff", "TIFF"},
    {"webp", "Kevrale WebP plug-in 1.0", "*.webp", "WebP"},
};

TEST_P(EntryPointTest, DescribesItself) {
  ASSERT_TRUE(plugin_.Loaded());
  const Description* d = nullptr;
  for (const Description& each : kDescriptions)
    if (GetParam() == each.format) d = &each;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(plugin_.Info(0), "00IN");
  EXPECT_EQ(plugin_.Info(1), d->name);
  EXPECT_EQ(plugin_.Info(2), d->filter);
  EXPECT_EQ(plugin_.Info(3), d->kind);
  int32_t stored = -1;
  EXPECT_EQ(plugin_.Info(4, 512, &stored), "");
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(plugin_.Info(-1, 512, &stored), "");
  EXPECT_EQ(stored, 0);
}

TEST_P(EntryPointTest, TruncatesItsDescriptionToTheBuffer) {
  ASSERT_TRUE(plugin_.Loaded());
  int32_t stored = -1;
  // The buffer holds buflen bytes, the terminating NUL among them.
  EXPECT_EQ(plugin_.Info(0, 3, &stored), "00");
  EXPECT_EQ(stored, 2);
  EXPECT_EQ(plugin_.Info(1, 8, &stored), "Kevrale");
  EXPECT_EQ(stored, 7);
  EXPECT_EQ(plugin_.Info(0, 1, &stored), "");
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(plugin_.Info(0, 0, &stored), "");
  EXPECT_EQ(stored, 0);
}

TEST_P(EntryPointTest, TakesItsOwnMagicOnly) {
  ASSERT_TRUE(plugin_.Loaded());
  for (const char* other : kFormats)
    EXPECT_EQ(plugin_.Supports(Sample(other)), GetParam() == other) << "a file of " << other;
  // The name decides nothing.
  EXPECT_TRUE(plugin_.Supports(Bytes(), "picture.txt"));
  const std::string text = "This is plain text, not a picture.\n";
  EXPECT_FALSE(plugin_.Supports(std::vector<uint8_t>(text.begin(), text.end()), "a." + GetParam()));
  EXPECT_FALSE(plugin_.Supports({}, "a." + GetParam()));
}

TEST_P(EntryPointTest, RefusesTheOtherFormatsData) {
  ASSERT_TRUE(plugin_.Loaded());
  for (const char* other : kFormats) {
    if (GetParam() == other) continue;
    EXPECT_EQ(Picture(Sample(other)), SPI_UNKNOWN_FORMAT) << "a file of " << other;
    EXPECT_EQ(Info(Sample(other)), SPI_UNKNOWN_FORMAT) << "a file of " << other;
  }
}

TEST_P(EntryPointTest, RefusesCutShortFiles) {
  ASSERT_TRUE(plugin_.Loaded());
  const std::vector<uint8_t>& whole = Bytes();
  ASSERT_GT(whole.size(), 100u);
  for (size_t size : {size_t(1), size_t(7), size_t(40), whole.size() / 3, whole.size() / 2}) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + ptrdiff_t(size));
    const int32_t result = Picture(cut);
    EXPECT_NE(result, SPI_SUCCESS) << size << " bytes";
    EXPECT_NE(result, SPI_INTERNAL_ERROR) << size << " bytes";
  }
  const std::vector<uint8_t> header(whole.begin(), whole.begin() + 7);
  EXPECT_NE(Info(header), SPI_SUCCESS);
}

TEST_P(EntryPointTest, SurvivesDamagedBytes) {
  ASSERT_TRUE(plugin_.Loaded());
  // Every 13th byte after the signature flipped: the result is either a
  // bitmap or an error code, never a crash or a leak.
  std::vector<uint8_t> damaged = Bytes();
  for (size_t i = 16; i < damaged.size(); i += 13) damaged[i] ^= 0x5A;
  const int32_t result = Picture(damaged);
  EXPECT_TRUE(result == SPI_SUCCESS || result == SPI_BROKEN_DATA || result == SPI_UNKNOWN_FORMAT ||
              result == SPI_OUT_OF_MEMORY)
      << result;
}

int32_t StopAtOnce(int32_t, int32_t, intptr_t) {
  return 1;
}

int32_t StopAfterStart(int32_t num, int32_t, intptr_t data) {
  ++*reinterpret_cast<int*>(data);
  return num > 0 ? 1 : 0;
}

TEST_P(EntryPointTest, StopsWhenTheCallbackAsks) {
  ASSERT_TRUE(plugin_.Loaded());
  EXPECT_EQ(Picture(Bytes(), StopAtOnce, 0), SPI_ABORTED);
  int calls = 0;
  EXPECT_EQ(Picture(Bytes(), StopAfterStart, reinterpret_cast<intptr_t>(&calls)), SPI_ABORTED);
  EXPECT_EQ(calls, 2);
  // And without a callback it decodes.
  EXPECT_EQ(Picture(Bytes()), SPI_SUCCESS);
}

TEST_P(EntryPointTest, ReadsAFileFromItsStartToo) {
  ASSERT_TRUE(plugin_.Loaded());
  TempFolder folder;
  const std::string path = folder.File("picture");
  WriteBytes(path, Bytes());
  SpiHandle info = nullptr, bits = nullptr;
  ASSERT_EQ(plugin_.Picture(path.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_SUCCESS);
  EXPECT_GE(LocalSize(info), 40u);
  LocalFree(info);
  LocalFree(bits);
  SpiPictureInfo picture;
  ASSERT_EQ(plugin_.PictureInfo(path.c_str(), 0, SPI_INPUT_FILE, &picture), SPI_SUCCESS);
  EXPECT_EQ(picture.width, SamplePicture(GetParam()).width);
  // Reserved flag bits are ignored.
  ASSERT_EQ(plugin_.PictureInfo(path.c_str(), 0, SPI_INPUT_FILE | 0x100u, &picture), SPI_SUCCESS);
}

// The bytes this process has read through read(2) so far; -1 when the
// system does not count them.
long long BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// The host asks for the information and then for the picture: the file is
// read once for both. A file replaced or rewritten in between is read
// again, and gives its new picture.
TEST_P(EntryPointTest, ReadsAFileOnceForItsInformationAndPicture) {
  ASSERT_TRUE(plugin_.Loaded());
  TempFolder folder;
  const std::string path = folder.File("picture");
  std::vector<uint8_t> bytes = Bytes();
  bytes.resize(bytes.size() + 256 * 1024, 0);  // trailing bytes every decoder ignores
  WriteBytes(path, bytes);
  SpiPictureInfo picture;
  ASSERT_EQ(plugin_.PictureInfo(path.c_str(), 0, SPI_INPUT_FILE, &picture), SPI_SUCCESS);
  const long long before = BytesReadSoFar();
  SpiHandle info = nullptr, bits = nullptr;
  ASSERT_EQ(plugin_.Picture(path.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_SUCCESS);
  const long long read = BytesReadSoFar() - before;
  LocalFree(info);
  LocalFree(bits);
  if (before >= 0) {
    EXPECT_LT(read, 64 * 1024) << "the picture read the file again";
  }

  // Another file under the name, and then the same file rewritten.
  const std::string other = GetParam() == "png" ? "gif" : "png";
  ASSERT_EQ(plugin_.PictureInfo(path.c_str(), 0, SPI_INPUT_FILE, &picture), SPI_SUCCESS);
  const std::string replacement = folder.File("replacement");
  WriteBytes(replacement, Sample(other));
  ASSERT_EQ(std::rename(replacement.c_str(), path.c_str()), 0);
  EXPECT_EQ(plugin_.Picture(path.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT)
      << "the replaced file's old bytes were decoded";
  WriteBytes(path, Bytes());
  ASSERT_EQ(plugin_.PictureInfo(path.c_str(), 0, SPI_INPUT_FILE, &picture), SPI_SUCCESS);
  WriteBytes(path, Sample(other));
  EXPECT_EQ(plugin_.Picture(path.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT)
      << "the rewritten file's old bytes were decoded";
}

TEST_P(EntryPointTest, ReportsInputErrors) {
  ASSERT_TRUE(plugin_.Loaded());
  TempFolder folder;
  SpiHandle info = nullptr, bits = nullptr;
  SpiPictureInfo picture;
  const std::string missing = folder.File("missing");
  EXPECT_EQ(plugin_.Picture(missing.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_FILE_READ_ERROR);
  EXPECT_EQ(plugin_.PictureInfo(missing.c_str(), 0, SPI_INPUT_FILE, &picture), SPI_FILE_READ_ERROR);
  EXPECT_EQ(plugin_.Picture(folder.Path().c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_FILE_READ_ERROR)
      << "a folder";

  // An offset at or past the end leaves no data to decode.
  const std::string path = folder.File("picture");
  WriteBytes(path, Bytes());
  const intptr_t size = intptr_t(Bytes().size());
  EXPECT_EQ(plugin_.Picture(path.c_str(), size, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT);
  EXPECT_EQ(plugin_.Picture(path.c_str(), -5, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT);
  // So does memory of no or negative size (the host's shortened input).
  EXPECT_EQ(plugin_.Picture(Data(Bytes()), 0, SPI_INPUT_MEMORY, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT);
  EXPECT_EQ(plugin_.Picture(Data(Bytes()), -128, SPI_INPUT_MEMORY, &info, &bits, nullptr, 0),
            SPI_UNKNOWN_FORMAT);
  // An input form that does not exist.
  EXPECT_EQ(plugin_.Picture(Data(Bytes()), size, 2, &info, &bits, nullptr, 0), SPI_NOT_IMPLEMENTED);
  // Missing places for the results.
  EXPECT_EQ(plugin_.Picture(Data(Bytes()), size, SPI_INPUT_MEMORY, nullptr, &bits, nullptr, 0),
            SPI_INTERNAL_ERROR);
  EXPECT_EQ(plugin_.PictureInfo(Data(Bytes()), size, SPI_INPUT_MEMORY, nullptr),
            SPI_INTERNAL_ERROR);
  EXPECT_EQ(plugin_.Picture(nullptr, size, SPI_INPUT_MEMORY, &info, &bits, nullptr, 0),
            SPI_INTERNAL_ERROR);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(bits, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, EntryPointTest,
                         ::testing::Values("png", "jpeg", "gif", "tiff", "webp"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kevrale::spitest
