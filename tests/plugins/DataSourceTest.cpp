// The decode loop of the data sources: which plug-ins are asked, in which
// order, with which arguments, what is reported on the way, and what
// happens to errors and to bitmaps that a plug-in gets wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "DecodingSupport.h"
#include "localmem/LocalMemoryCount.h"
#include "platform/Exception.h"
#include "plugins/TInSPIAbleFromFile.h"
#include "plugins/TInSPIAbleFromStream.h"
#include "plugins/TSPIGraphic.h"

namespace kevrale {
namespace {

using test::DecoderLog;
using test::KvtBytes;
using test::ProgressRecorder;
using test::TestHost;
using ::testing::ElementsAre;

class DataSourceTest : public ::testing::Test {
 protected:
  // A file of the KVT form of `pixels`, after `prefix` bytes.
  std::string KvtFile(const std::string& name, size_t prefix = 0) {
    const std::string path = folder_.File(name);
    test::WriteBytes(path, KvtBytes(test::FourColours(), prefix));
    return path;
  }

  test::TempFolder folder_;
  DecoderLog log_;
  TSPIGraphic owner_;
  ProgressRecorder progress_;
};

TEST_F(DataSourceTest, ReportsEveryStepOfASuccessfulDecode) {
  TestHost host({"kvt_basic"});
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  source.Decode();
  ASSERT_FALSE(source.IsEmpty());
  // The picture has two rows: progress 0/2, 1/2 (48.5 rounds up), 2/2.
  EXPECT_THAT(progress_.Summary(),
              ElementsAre("S 0 Loading Graphic by Susie Plugin",
                          "R 1 Seeking enabled Susie Plugins", "R 1 Loading by [kvt_basic.spi]",
                          "R 2", "R 51", "R 99", "E 100 Loaded Graphic by Susie Plugin"));
  for (const test::Report& r : progress_.Reports) {
    EXPECT_EQ(r.Sender, &owner_);
    EXPECT_EQ(r.RedrawNow, r.Stage == psEnding);
    EXPECT_EQ(r.R.Left | r.R.Top | r.R.Right | r.R.Bottom, 0);
  }
}

TEST_F(DataSourceTest, WithMacBinaryEveryCandidateIsAskedAtBothOffsets) {
  TestHost host({"kvt_never", "kvt_plain"});
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt", 128));
  source.OnProgress = progress_.Listener();
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_THAT(
      progress_.Summary(),
      ElementsAre("S 0 Loading Graphic by Susie Plugin", "R 1 Seeking enabled Susie Plugins",
                  "R 1 Loading by [kvt_never.spi]", "R 1 Loading by [kvt_never.spi]",
                  "R 1 Loading by [kvt_plain.spi]", "R 1 Loading by [kvt_plain.spi]", "R 2", "R 51",
                  "R 99", "E 100 Loaded Graphic by Susie Plugin"));
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "kvt_plain GetPictureInfo file=" + source.SourceName() + " offset=128");
  EXPECT_EQ(lines[5], "kvt_plain GetPicture file=" + source.SourceName() + " offset=128");
}

TEST_F(DataSourceTest, WithoutMacBinaryOnlyOffsetZeroIsTried) {
  TestHost host({"kvt_basic"}, /*mac_binary=*/false);
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt", 128));
  source.OnProgress = progress_.Listener();
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_THAT(
      progress_.Summary(),
      ElementsAre("S 0 Loading Graphic by Susie Plugin", "R 1 Seeking enabled Susie Plugins",
                  "R 1 Loading by [kvt_basic.spi]", "E 100 Loaded Graphic by Susie Plugin"));
  EXPECT_EQ(log_.Lines().size(), 1u);
}

TEST_F(DataSourceTest, WithoutAHostNothingIsAskedButEveryMilestoneIsReported) {
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_THAT(progress_.Summary(), ElementsAre("S 0 Loading Graphic by Susie Plugin",
                                               "R 1 Seeking enabled Susie Plugins",
                                               "E 100 Loaded Graphic by Susie Plugin"));
}

TEST_F(DataSourceTest, CandidatesComeInHostOrderClaimersFirstAndTheLoopEndsAtTheFirstSuccess) {
  // kvt_second and kvt_basic claim *.kvt: the later one goes first.
  TestHost host({"kvt_plain", "kvt_basic", "kvt_second"});
  {
    TInSPIAbleFromFile junk(&owner_, GlobalSPIs(), folder_.File("junk.kvt"));
    test::WriteBytes(junk.SourceName(), std::vector<uint8_t>(300, 'x'));
    junk.Decode();
    EXPECT_TRUE(junk.IsEmpty());
    std::vector<std::string> askers;
    for (const std::string& line : log_.Lines()) askers.push_back(line.substr(0, line.find(' ')));
    EXPECT_THAT(askers, ElementsAre("kvt_second", "kvt_second", "kvt_basic", "kvt_basic",
                                    "kvt_plain", "kvt_plain"));
  }
  log_.Clear();
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("mac.kvt", 128));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("kvt_second IsSupported", 0), 0u);
  EXPECT_EQ(lines[1].rfind("kvt_second IsSupported", 0), 0u);
  EXPECT_EQ(lines[3], "kvt_second GetPicture file=" + source.SourceName() + " offset=128");
}

TEST_F(DataSourceTest, TheHeadIsZeroPaddedAndHolds2176Bytes) {
  TestHost host({"kvt_never"});
  // 100 bytes: the head holds them and zeros.
  std::vector<uint8_t> short_data(100);
  std::iota(short_data.begin(), short_data.end(), uint8_t(1));
  test::WriteBytes(folder_.File("short.kvt"), short_data);
  TInSPIAbleFromFile short_source(&owner_, GlobalSPIs(), folder_.File("short.kvt"));
  short_source.Decode();
  const unsigned long short_sum = std::accumulate(short_data.begin(), short_data.end(), 0ul);
  EXPECT_THAT(log_.Lines(),
              ElementsAre("kvt_never IsSupported name=" + short_source.SourceName() +
                              " sum=" + std::to_string(short_sum),
                          "kvt_never IsSupported name=" + short_source.SourceName() + " sum=0"));

  // 3000 bytes: at offset 128 the plug-in sees bytes 128 .. 2175.
  log_.Clear();
  std::vector<uint8_t> long_data(3000);
  for (size_t i = 0; i < long_data.size(); ++i) long_data[i] = uint8_t(i * 7 + 3);
  test::WriteBytes(folder_.File("long.kvt"), long_data);
  TInSPIAbleFromFile long_source(&owner_, GlobalSPIs(), folder_.File("long.kvt"));
  long_source.Decode();
  const unsigned long at0 = std::accumulate(long_data.begin(), long_data.begin() + 2048, 0ul);
  const unsigned long at128 =
      std::accumulate(long_data.begin() + 128, long_data.begin() + 2176, 0ul);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" sum=" + std::to_string(at0)), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" sum=" + std::to_string(at128)), std::string::npos) << lines[1];
}

TEST_F(DataSourceTest, AMissingFileStillAsksThePluginsWithAZeroHead) {
  TestHost host({"kvt_never"}, /*mac_binary=*/false);
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), folder_.File("missing.kvt"));
  source.Decode();
  EXPECT_THAT(log_.Lines(),
              ElementsAre("kvt_never IsSupported name=" + source.SourceName() + " sum=0"));
}

TEST_F(DataSourceTest, AMemoryStreamIsUsedInPlaceAndOffset128ShiftsAddressAndLength) {
  TestHost host({"kvt_plain"});
  TMemoryStream stream(KvtBytes(test::FourColours(), 128));
  stream.SetPosition(40);  // the position does not matter
  TInSPIAbleFromStream source(&owner_, GlobalSPIs(), "", stream);
  EXPECT_EQ(source.Memory(), stream.Memory());
  EXPECT_EQ(source.OwnCopy(), nullptr);
  EXPECT_EQ(source.DataSize(), stream.Size());
  source.Decode();
  ASSERT_FALSE(source.IsEmpty());
  const std::string at128 = test::AddressText(stream.Memory() + 128);
  const std::string length = std::to_string(stream.Size() - 128);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("kvt_plain IsSupported name= sum=", 0), 0u) << "an empty name";
  EXPECT_EQ(lines[2], "kvt_plain GetPictureInfo mem=" + at128 + " len=" + length);
  EXPECT_EQ(lines[3], "kvt_plain GetPicture mem=" + at128 + " len=" + length);
}

TEST_F(DataSourceTest, AnotherStreamIsCopiedOnceFromItsFirstByte) {
  TestHost host({"kvt_plain"});
  const std::vector<uint8_t> data = KvtBytes(test::FourColours());
  TBorrowedMemoryStream stream(data.data(), data.size());
  stream.SetPosition(5);
  TInSPIAbleFromStream source(&owner_, GlobalSPIs(), "", stream);
  ASSERT_NE(source.OwnCopy(), nullptr);
  EXPECT_EQ(source.Memory(), source.OwnCopy()->Memory());
  EXPECT_EQ(source.DataSize(), int64_t(data.size()));
  EXPECT_EQ(stream.Position(), int64_t(data.size())) << "left at its end";
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(log_.Lines().at(2), "kvt_plain GetPicture mem=" + test::AddressText(source.Memory()) +
                                    " len=" + std::to_string(data.size()));
}

TEST_F(DataSourceTest, MemoryShorterThanTheOffsetSkipsThatAttempt) {
  TestHost host({"kvt_never"});
  TMemoryStream stream(std::vector<uint8_t>(100, 1));
  TInSPIAbleFromStream source(&owner_, GlobalSPIs(), "short.kvt", stream);
  source.OnProgress = progress_.Listener();
  source.Decode();
  // Both attempts are reported; only the one at offset 0 reaches the plug-in.
  const auto summary = progress_.Summary();
  EXPECT_EQ(std::count(summary.begin(), summary.end(), "R 1 Loading by [kvt_never.spi]"), 2);
  EXPECT_THAT(log_.Lines(), ElementsAre("kvt_never IsSupported name=short.kvt sum=100"));

  // Exactly 128 bytes: offset 128 is tried with an empty rest.
  log_.Clear();
  TMemoryStream exact(std::vector<uint8_t>(128, 1));
  TInSPIAbleFromStream exact_source(&owner_, GlobalSPIs(), "exact.kvt", exact);
  exact_source.Decode();
  EXPECT_EQ(log_.Lines().size(), 2u);
}

TEST_F(DataSourceTest, WithPreviewOnThePreviewIsTakenAndGetPictureIsNotCalled) {
  TestHost host({"kvt_basic"}, true, /*preview=*/true);
  TSPIGraphic graphic;
  graphic.LoadFromFile(KvtFile("a.kvt"));
  EXPECT_EQ(graphic.Width(), 1);
  EXPECT_EQ(graphic.Height(), 1);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].rfind("kvt_basic GetPreview ", 0), 0u);
}

TEST_F(DataSourceTest, WithPreviewOnAPluginWithoutGetPreviewIsDecodedWithGetPicture) {
  TestHost host({"kvt_nopreview"}, true, /*preview=*/true);
  TSPIGraphic graphic;
  graphic.LoadFromFile(KvtFile("a.kvt"));
  EXPECT_EQ(graphic.Width(), 3);
  EXPECT_EQ(graphic.Height(), 2);
  EXPECT_EQ(log_.Lines().back().rfind("kvt_nopreview GetPicture ", 0), 0u);
}

TEST_F(DataSourceTest, WithPreviewOffTheFullPictureIsTaken) {
  TestHost host({"kvt_basic"}, true, /*preview=*/false);
  TSPIGraphic graphic;
  graphic.LoadFromFile(KvtFile("a.kvt"));
  EXPECT_EQ(graphic.Width(), 3);
  for (const std::string& line : log_.Lines())
    EXPECT_EQ(line.find("GetPreview"), std::string::npos) << line;
}

TEST_F(DataSourceTest, AZeroTotalIsReportedAsOnePercent) {
  TestHost host({"kvt_zero"});
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_THAT(
      progress_.Summary(),
      ElementsAre("S 0 Loading Graphic by Susie Plugin", "R 1 Seeking enabled Susie Plugins",
                  "R 1 Loading by [kvt_zero.spi]", "R 1", "E 100 Loaded Graphic by Susie Plugin"));
}

TEST_F(DataSourceTest, AFailingGetPictureMovesOnToTheNextCandidate) {
  TestHost host({"kvt_fails", "kvt_plain"}, /*mac_binary=*/false);
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2].rfind("kvt_fails GetPicture ", 0), 0u);
  EXPECT_EQ(lines[5].rfind("kvt_plain GetPicture ", 0), 0u);
}

TEST_F(DataSourceTest, EAbortInsideAPluginsProgressAbortsThatPluginOnly) {
  TestHost host({"kvt_plain", "kvt_second"}, /*mac_binary=*/false);  // kvt_second first
  bool aborted = false;
  progress_.Throw = [&](const test::Report& r) {
    if (r.Msg.empty() && !aborted) {
      aborted = true;
      throw EAbort("stop");
    }
  };
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  source.Decode();
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(source.IsEmpty()) << "kvt_plain decoded it";
  EXPECT_EQ(log_.Lines().back().rfind("kvt_plain GetPicture ", 0), 0u);
  EXPECT_EQ(progress_.Summary().back(), "E 100 Loaded Graphic by Susie Plugin");
}

// Any other error of the listener inside a plug-in's progress call ends the
// decode with that error once the plug-in has returned.
template <class Error>
void ExpectErrorEndsTheDecode(DecoderLog& log, TSPIGraphic& owner, const std::string& path) {
  TestHost host({"kvt_plain", "kvt_second"}, /*mac_binary=*/false);
  ProgressRecorder progress;
  progress.Throw = [](const test::Report& r) {
    if (r.Msg.empty()) throw Error("listener failed");
  };
  TInSPIAbleFromFile source(&owner, GlobalSPIs(), path);
  source.OnProgress = progress.Listener();
  try {
    source.Decode();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "listener failed");
  }
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(progress.Summary().back(), "E 100 Loaded Graphic by Susie Plugin");
  for (const std::string& line : log.Lines())
    EXPECT_EQ(line.rfind("kvt_plain", 0), std::string::npos) << "no later candidate: " << line;
}

TEST_F(DataSourceTest, AStdErrorOfTheListenerInsideAPluginEndsTheDecode) {
  ExpectErrorEndsTheDecode<std::runtime_error>(log_, owner_, KvtFile("a.kvt"));
}

TEST_F(DataSourceTest, AnExceptionOfTheListenerInsideAPluginEndsTheDecode) {
  ExpectErrorEndsTheDecode<Exception>(log_, owner_, KvtFile("a.kvt"));
}

TEST_F(DataSourceTest, AnErrorOnTheLoopsOwnReportsEndsTheDecodeAfterTheLastReport) {
  TestHost host({"kvt_basic"});
  progress_.Throw = [](const test::Report& r) {
    if (r.Msg == "Seeking enabled Susie Plugins") throw EAbort("stop");
  };
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  EXPECT_THROW(source.Decode(), EAbort);
  EXPECT_THAT(progress_.Summary(), ElementsAre("S 0 Loading Graphic by Susie Plugin",
                                               "R 1 Seeking enabled Susie Plugins",
                                               "E 100 Loaded Graphic by Susie Plugin"));
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(DataSourceTest, AnErrorOnTheFirstReportEndsTheDecodeAtOnce) {
  TestHost host({"kvt_basic"});
  progress_.Throw = [](const test::Report&) { throw std::runtime_error("no"); };
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.OnProgress = progress_.Listener();
  EXPECT_THROW(source.Decode(), std::runtime_error);
  EXPECT_THAT(progress_.Summary(), ElementsAre("S 0 Loading Graphic by Susie Plugin"));
}

TEST_F(DataSourceTest, TheGraphicIsEmptiedWhenTheDecodeFails) {
  TestHost host({"kvt_basic"});
  TSPIGraphic graphic;
  graphic.OnProgress = [](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                          const std::string& msg) {
    if (msg.empty()) throw std::runtime_error("listener failed");
  };
  EXPECT_THROW(graphic.LoadFromFile(KvtFile("a.kvt")), std::runtime_error);
  EXPECT_TRUE(graphic.Empty());
  EXPECT_EQ(graphic.Source(), nullptr);
}

TEST_F(DataSourceTest, TheTextInformationIsFreedWithTheImage) {
  TestHost host({"kvt_text"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(KvtFile("a.kvt"));
  ASSERT_NE(graphic.Source(), nullptr);
  EXPECT_TRUE(graphic.Source()->InfoOK());
  const SpiHandle text = graphic.Source()->PictureInfo().hInfo;
  ASSERT_NE(text, nullptr);
  EXPECT_GT(LocalSize(text), 0u);
  const SpiHandle info = graphic.Source()->InfoHandle();
  graphic.FreeImage();
  EXPECT_EQ(LocalSize(text), 0u);
  EXPECT_EQ(LocalSize(info), 0u);
}

TEST_F(DataSourceTest, LockingLocksOnce) {
  TestHost host({"kvt_basic"});
  TInSPIAbleFromFile source(&owner_, GlobalSPIs(), KvtFile("a.kvt"));
  source.Decode();
  void* info = source.LockInfo();
  EXPECT_EQ(source.LockInfo(), info);
  EXPECT_EQ(source.LockBits(), source.LockBits());
  source.FreeHandles();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(source.InfoHandle(), nullptr);
  EXPECT_EQ(source.BitsHandle(), nullptr);
}

// A plug-in that gets its bitmap wrong, or fails after storing its blocks:
// the bitmap is refused, whatever it handed over is freed, the attempt
// fails and the next candidate decodes the data.
class BadPluginTest : public DataSourceTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadPluginTest, ItsBitmapIsRefusedAndTheNextCandidateTried) {
  const std::string path = KvtFile("a.kvt");
  {
    TestHost host({GetParam()});
    const size_t live_blocks = KevraleLocalBlockCount();
    TSPIGraphic graphic;
    try {
      graphic.LoadFromFile(path);
      ADD_FAILURE() << "the bitmap was taken";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
    }
    EXPECT_TRUE(graphic.Empty());
    EXPECT_EQ(KevraleLocalBlockCount(), live_blocks) << "blocks of the plug-in left behind";
  }
  log_.Clear();
  TestHost host({GetParam(), "kvt_plain"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(path);
  EXPECT_EQ(graphic.Width(), 3);
  EXPECT_EQ(graphic.Height(), 2);
  EXPECT_EQ(log_.Lines().back().rfind("kvt_plain GetPicture ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lies, BadPluginTest,
                         ::testing::Values("kvt_lie_bits", "kvt_lie_table", "kvt_lie_size",
                                           "kvt_bad_index", "kvt_foreign", "kvt_one_handle",
                                           "kvt_same_handle", "kvt_store_then_fail"));

}  // namespace
}  // namespace kevrale
