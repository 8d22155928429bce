// A plug-in called through its runner process gives what it gives when it
// is called in this process: the same results, the same blocks byte for
// byte, the same progress calls, and the same verdict of the host's check.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "Mappings.h"
#include "RunnerSupport.h"

namespace kevrale::test {
namespace {

// The inputs of one picture: file and memory, at offset 0 and after a
// 128-byte header.
std::vector<Input> InputsOf(const TempFolder& folder, const Pixels& picture) {
  const std::string plain = folder.File("plain.kvt");
  const std::string prefixed = folder.File("prefixed.kvt");
  WriteBytes(plain, KvtBytes(picture));
  WriteBytes(prefixed, KvtBytes(picture, 128));
  return {Input::FromFile(plain), Input::FromFile(prefixed, 128),
          Input::FromMemory(KvtBytes(picture)), Input::FromMemory(KvtBytes(picture, 128), 128)};
}

std::string Describe(const Input& input) {
  return (input.Memory() ? "memory" : "file") + std::string(" at ") + std::to_string(input.Offset);
}

TEST(ProtocolParity, InformationStringsAndUntouchedBufferBytes) {
  TInSPI local(TestSpi("kvt_basic"));
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions());
  for (int32_t n = 0; n < 6; ++n) {
    char a[256], b[256];
    memset(a, '#', sizeof a);
    memset(b, '#', sizeof b);
    const int32_t ra = local.GetPluginInfo(n, a, 255);
    const int32_t rb = remote.GetPluginInfo(n, b, 255);
    EXPECT_EQ(ra, rb) << "information " << n;
    EXPECT_EQ(0, memcmp(a, b, sizeof a)) << "information " << n;
  }
  // A buffer of 3: the plug-in stores what fits.
  char small[8] = "xxxxxxx";
  EXPECT_EQ(remote.GetPluginInfo(0, small, 3), 2);
  EXPECT_STREQ(small, "00");
  EXPECT_EQ(std::string(small + 3, 4), "xxxx");
}

TEST(ProtocolParity, ExportsAreReportedAsTheLibraryHasThem) {
  PluginProcess full(TestSpi("kvt_basic"), TestOptions());
  EXPECT_EQ(full.Exports(), SPI_EXPORTS_GETPLUGININFO | SPI_EXPORTS_ISSUPPORTED |
                                SPI_EXPORTS_GETPICTUREINFO | SPI_EXPORTS_GETPICTURE |
                                SPI_EXPORTS_GETPREVIEW);
  PluginProcess archive(TestSpi("am_full"), TestOptions());
  EXPECT_EQ(archive.Exports(),
            SPI_EXPORTS_GETPLUGININFO | SPI_EXPORTS_CONFIGURATIONDLG | SPI_EXPORTS_ISSUPPORTED |
                SPI_EXPORTS_GETPICTUREINFO | SPI_EXPORTS_GETPICTURE | SPI_EXPORTS_GETPREVIEW |
                SPI_EXPORTS_GETARCHIVEINFO | SPI_EXPORTS_GETFILEINFO | SPI_EXPORTS_GETFILE);
}

TEST(ProtocolParity, IsSupportedSeesTheSameNameAndHead) {
  DecoderLog log;
  TInSPI local(TestSpi("kvt_basic"));
  PluginProcessOptions unconfined = TestOptions();  // the log is a file it writes
  unconfined.confine = false;
  PluginProcess remote(TestSpi("kvt_basic"), unconfined);
  std::vector<uint8_t> head(2176);
  for (size_t i = 0; i < head.size(); ++i) head[i] = uint8_t(i * 31 + 7);
  const std::vector<uint8_t> kvt = KvtBytes(FourColours());
  for (const std::string name : {"pictures/a.kvt", ""}) {
    for (const bool magic : {true, false}) {
      std::copy(kvt.begin(), kvt.begin() + 4, head.begin());
      if (!magic) head[0] = 'X';
      for (const intptr_t offset : {intptr_t(0), intptr_t(128)}) {
        const intptr_t dw = reinterpret_cast<intptr_t>(head.data() + offset);
        log.Clear();
        const int32_t ra = local.IsSupported(name.c_str(), dw);
        const std::vector<std::string> la = log.Lines();
        log.Clear();
        const int32_t rb = remote.IsSupported(name.c_str(), dw);
        EXPECT_EQ(ra, rb) << name << " " << magic << " " << offset;
        EXPECT_EQ(la, log.Lines()) << name << " " << magic << " " << offset;
        ASSERT_EQ(la.size(), 1u);
      }
    }
  }
}

// Every depth and row order of the test decoders, a picture that the
// indexed ones can hold and one that 1 bit cannot.
// Blocks read in place or sent through the pipe alike.
class ProtocolParityBothWays : public ::testing::TestWithParam<bool> {};

TEST_P(ProtocolParityBothWays, PicturesAndInformationAreTheSameByteForByte) {
  TempFolder folder;
  for (const std::string decoder :
       {"kvt_basic", "kvt_pal1", "kvt_pal4", "kvt_pal8", "kvt_pal8_exact", "kvt_pal4_topdown",
        "kvt_rgb16", "kvt_rgb32", "kvt_topdown", "kvt_zero", "kvt_text"}) {
    TInSPI local(TestSpi(decoder));
    PluginProcess remote(TestSpi(decoder), TestOptions(30, GetParam()));
    for (const Pixels& picture : {TestPicture(5, 3, 2), TestPicture(7, 4, 5, 9)}) {
      for (const Input& input : InputsOf(folder, picture)) {
        SCOPED_TRACE(decoder + " " + Describe(input) + " " + std::to_string(picture.width));
        const InfoOutcome info = PictureInfo(local, input);
        EXPECT_EQ(info, PictureInfo(remote, input));
        const PictureOutcome a = Picture(local, input);
        const PictureOutcome b = Picture(remote, input);
        EXPECT_EQ(a, b);
        if (decoder != "kvt_pal1" || picture.width == 5) {
          EXPECT_EQ(a.Result, SPI_SUCCESS);
          EXPECT_TRUE(a.Accepted);
          EXPECT_EQ(a.Progress.size(), size_t(decoder == "kvt_zero" ? 1 : picture.height + 1));
        }
        EXPECT_EQ(Picture(local, input, true), Picture(remote, input, true));
      }
    }
  }
}

TEST(ProtocolParity, NoCallbackGivenMeansNoneForThePlugin) {
  TempFolder folder;
  TInSPI local(TestSpi("kvt_basic"));
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions());
  for (const Input& input : InputsOf(folder, TestPicture(4, 4, 3))) {
    const PictureOutcome b = Picture(remote, input, false, 0, false);
    EXPECT_EQ(Picture(local, input, false, 0, false), b);
    EXPECT_EQ(b.Result, SPI_SUCCESS);
  }
}

TEST(ProtocolParity, AbortFromTheProgressCallbackEndsTheCallAlike) {
  TempFolder folder;
  TInSPI local(TestSpi("kvt_basic"));
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions());
  for (const Input& input : InputsOf(folder, TestPicture(6, 5, 4))) {
    for (const size_t at : {size_t(1), size_t(3), size_t(6)}) {
      SCOPED_TRACE(Describe(input) + " abort at " + std::to_string(at));
      const PictureOutcome b = Picture(remote, input, false, at);
      EXPECT_EQ(Picture(local, input, false, at), b);
      EXPECT_EQ(b.Result, SPI_ABORTED);
      EXPECT_EQ(b.Progress.size(), at);
    }
    // The process goes on serving after an abort.
    EXPECT_EQ(Picture(remote, input).Result, SPI_SUCCESS);
  }
}

// Faults of a bad plug-in that still returns success: the copies keep what
// the host's check refuses.
TEST_P(ProtocolParityBothWays, LyingBitmapsAreStillRefusedAfterTheCopy) {
  TempFolder folder;
  for (const std::string decoder :
       {"kvt_lie_bits", "kvt_lie_table", "kvt_lie_size", "kvt_bad_index", "kvt_foreign",
        "kvt_one_handle", "kvt_same_handle"}) {
    TInSPI local(TestSpi(decoder));
    PluginProcess remote(TestSpi(decoder), TestOptions(30, GetParam()));
    for (const Input& input : InputsOf(folder, TestPicture(6, 3, 2))) {
      SCOPED_TRACE(decoder + " " + Describe(input));
      const PictureOutcome a = Picture(local, input);
      const PictureOutcome b = Picture(remote, input);
      EXPECT_EQ(a, b);
      EXPECT_EQ(b.Result, SPI_SUCCESS);
      EXPECT_FALSE(b.Accepted);
    }
  }
}

TEST_P(ProtocolParityBothWays, TheWayIsTheOneAsked) {
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions(30, GetParam()));
  remote.Start();
  // This machine lets a process read its children's memory.
  EXPECT_EQ(remote.BlocksInPlace(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(InPlaceAndThroughThePipe, ProtocolParityBothWays, ::testing::Bool());

TEST(ProtocolParity, MemoryInputFollowsTheCallersBytesNotTheirAddress) {
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions());
  TInSPI local(TestSpi("kvt_basic"));
  const Pixels first = TestPicture(5, 5, 4, 1);
  const Pixels second = TestPicture(5, 5, 4, 2);
  Input input = Input::FromMemory(KvtBytes(first, 128));
  const PictureOutcome at_zero = Picture(remote, input);
  EXPECT_EQ(at_zero.Result, SPI_UNKNOWN_FORMAT);  // the header is no KVT
  input.Offset = 128;
  const PictureOutcome first_picture = Picture(remote, input);
  EXPECT_EQ(first_picture, Picture(local, input));
  // The same buffer, now holding another picture of the same size.
  const std::vector<uint8_t> replaced = KvtBytes(second, 128);
  std::copy(replaced.begin(), replaced.end(), input.Bytes.begin());
  const PictureOutcome second_picture = Picture(remote, input);
  EXPECT_EQ(second_picture, Picture(local, input));
  EXPECT_NE(first_picture.Bits, second_picture.Bits);
  // A shorter piece of the same bytes.
  input.Bytes.pop_back();
  EXPECT_EQ(Picture(remote, input).Result, SPI_BROKEN_DATA);
  remote.ForgetMemoryInput();
  EXPECT_EQ(Picture(remote, input), Picture(local, input));
}

TEST(ProtocolParity, LargeBlocksComeOverInMemoryFilesOrAreCopiedAlike) {
  // A picture whose pixel rows take more than 4 MiB.
  TempFolder folder;
  const std::string file = folder.File("large.kvt");
  WriteBytes(file, KvtBytes(TestPicture(1200, 1200, 9, 4)));
  TInSPI local(TestSpi("kvt_basic"));
  const PictureOutcome expected = Picture(local, Input::FromFile(file));
  ASSERT_EQ(expected.Result, SPI_SUCCESS);
  ASSERT_GE(expected.Bits.Size, size_t(4) << 20);
  using Shared = PluginProcessOptions::SharedBlocks;
  for (const Shared mode : {Shared::Always, Shared::Never}) {
    SCOPED_TRACE(mode == Shared::Always ? "shared" : "copied");
    PluginProcessOptions options = TestOptions();
    options.shared_blocks = mode;
    PluginProcess remote(TestSpi("kvt_basic"), options);
    SpiHandle info = nullptr, bits = nullptr;
    ASSERT_EQ(remote.GetPicture(file.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0),
              SPI_SUCCESS);
    const std::string mapping = MappingOf(LocalLock(bits));
    if (mode == Shared::Always) {
      // The runner's memory file, sealed and mapped read-only here.
      EXPECT_NE(mapping.find(" r--s "), std::string::npos) << mapping;
      EXPECT_NE(mapping.find("memfd:kevrale-block"), std::string::npos) << mapping;
    } else {
      EXPECT_EQ(mapping.find("memfd:"), std::string::npos) << mapping;
    }
    LocalUnlock(bits);
    LocalFree(info);
    LocalFree(bits);
    EXPECT_EQ(Picture(remote, Input::FromFile(file)), expected);
    EXPECT_EQ(Picture(remote, Input::FromMemory(ReadBytes(file))), expected);
  }
}

}  // namespace
}  // namespace kevrale::test
