// TSPIBitmap: which reader comes first for a name, what the picture's
// listener is told, the palette of a 4-bit image, and the registration.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <new>

#include "DecodingSupport.h"
#include "picture/BmpReader.h"
#include "picture/LoadOutcome.h"
#include "platform/Exception.h"
#include "plugins/SPIBitmapRegistration.h"
#include "plugins/TSPIBitmap.h"

namespace kevrale {
namespace {

using test::DecoderLog;
using test::Pixels;
using test::TestHost;
using ::testing::ElementsAre;

class SPIBitmapTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = folder_.File(name);
    test::WriteBytes(path, bytes);
    return path;
  }
  std::string Kvt(const std::string& name) {
    return Write(name, test::KvtBytes(test::FourColours()));
  }
  std::string Bmp(const std::string& name, const Pixels& p) {
    return Write(name, test::BmpBytes(p));
  }

  // A picture unlike FourColours.
  static Pixels Other() {
    return test::MakePixels(2, 5,
                            [](int x, int y) { return RGB(uint8_t(10 * x), uint8_t(40 * y), 7); });
  }

  test::TempFolder folder_;
  DecoderLog log_;
};

// Whether the test decoders were asked anything.
bool PluginsAsked(const DecoderLog& log) {
  return !log.Lines().empty();
}

TEST_F(SPIBitmapTest, ABmpNameIsReadByTheBitmapReaderFirstWhateverItsCase) {
  TestHost host({"kvt_fails"});  // says yes to everything, decodes nothing
  for (const char* name : {"a.bmp", "b.BMP", "c.BmP", "dir.kvt/d.bmp"}) {
    SCOPED_TRACE(name);
    if (std::string(name).find('/') != std::string::npos)
      std::filesystem::create_directories(folder_.File("dir.kvt"));
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(Bmp(name, Other()));
    EXPECT_EQ(test::PixelsOf(bitmap), Other());
    EXPECT_FALSE(PluginsAsked(log_));
  }
}

TEST_F(SPIBitmapTest, ABmpNameThatTheBitmapReaderRefusesGoesToThePlugins) {
  TestHost host({"kvt_plain"});
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(Kvt("really-kvt.bmp"));
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
  EXPECT_TRUE(PluginsAsked(log_));
}

TEST_F(SPIBitmapTest, OtherNamesGoToThePluginsFirstAndARealBmpStillOpens) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(Bmp("picture.kvt", Other()));
  EXPECT_EQ(test::PixelsOf(bitmap), Other());
  EXPECT_TRUE(PluginsAsked(log_)) << "the plug-ins came first";

  bitmap.LoadFromFile(Kvt("no-extension"));
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
}

TEST_F(SPIBitmapTest, NothingReadsTheFileAndTheBitmapKeepsItsImage) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(Kvt("good.kvt"));
  std::vector<uint8_t> broken_bmp = test::BmpBytes(Other());
  broken_bmp.resize(30);
  for (const std::string& path :
       {Write("junk.kvt", std::vector<uint8_t>(50, 'j')), Write("broken.bmp", broken_bmp)}) {
    SCOPED_TRACE(path);
    try {
      bitmap.LoadFromFile(path);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
    }
    EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
  }
  EXPECT_THROW(bitmap.LoadFromFile(folder_.File("missing.kvt")), EFOpenError);
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
}

TEST_F(SPIBitmapTest, ThePicturesListenerHearsTheSourceAndOneClosingReport) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  test::ProgressRecorder progress;
  bitmap.OnProgress = progress.Listener();
  bitmap.LoadFromFile(Kvt("a.kvt"));
  EXPECT_THAT(
      progress.Summary(),
      ElementsAre("S 0 Loading Graphic by Susie Plugin", "R 1 Seeking enabled Susie Plugins",
                  "R 1 Loading by [kvt_basic.spi]", "R 2", "R 51", "R 99", "E 100 Loaded Graphic"));
  for (const test::Report& r : progress.Reports) EXPECT_EQ(r.Sender, &bitmap);
  const test::Report& last = progress.Reports.back();
  EXPECT_TRUE(last.RedrawNow);
  EXPECT_EQ(last.R.Left, 0);
  EXPECT_EQ(last.R.Top, 0);
  EXPECT_EQ(last.R.Right, 3);
  EXPECT_EQ(last.R.Bottom, 2);
}

TEST_F(SPIBitmapTest, AFailedLoadStillClosesWithTheUnchangedSize) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(Bmp("first.bmp", Other()));
  test::ProgressRecorder progress;
  bitmap.OnProgress = progress.Listener();
  EXPECT_THROW(bitmap.LoadFromFile(Write("junk.kvt", std::vector<uint8_t>(9, 0))), EInvalidGraphic);
  const auto summary = progress.Summary();
  EXPECT_EQ(std::count(summary.begin(), summary.end(), "E 100 Loaded Graphic"), 1);
  EXPECT_EQ(summary.back(), "E 100 Loaded Graphic");
  EXPECT_EQ(progress.Reports.back().R.Right, 2);
  EXPECT_EQ(progress.Reports.back().R.Bottom, 5);
}

// Only a reader that does not take the data is passed over: an error of the
// listener is no answer of a reader and ends the load as it is, after the
// closing report, with the bitmap as it was.
TEST_F(SPIBitmapTest, AListenerErrorEndsTheLoadAsItIs) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  std::vector<std::string> messages;
  bitmap.OnProgress = [&](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                          const std::string& msg) {
    messages.push_back(msg);
    if (msg.empty()) throw std::runtime_error("listener failed");
  };
  try {
    bitmap.LoadFromFile(Kvt("a.kvt"));
    FAIL() << "loaded";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "listener failed");
  }
  EXPECT_EQ(bitmap.Width(), 0);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Loaded Graphic");
}

TEST_F(SPIBitmapTest, AFourBitImageKeepsACopyOfItsColourTable) {
  TSPIBitmap bitmap;
  {
    TestHost host({"kvt_pal4"});
    bitmap.LoadFromFile(Kvt("a.kvt"));
  }
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
  const TPalette palette = bitmap.Palette();
  ASSERT_EQ(palette.size(), 16u);
  EXPECT_EQ(palette[0], (TPaletteEntry{255, 0, 0, 0}));
  EXPECT_EQ(palette[1], (TPaletteEntry{0, 255, 0, 0}));
  EXPECT_EQ(palette[3], (TPaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(palette[15], (TPaletteEntry{0, 0, 0, 0}));

  // A copy of the bitmap keeps the palette too.
  TSPIBitmap copy;
  copy.Assign(bitmap);
  EXPECT_EQ(copy.Palette(), palette);

  // Any other bit count leaves no palette behind.
  {
    TestHost host({"kvt_pal8"});
    bitmap.LoadFromFile(Kvt("b.kvt"));
  }
  EXPECT_TRUE(bitmap.Palette().empty());
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
}

TEST_F(SPIBitmapTest, AssigningAPluginGraphicConvertsItAndLeavesItsImage) {
  TestHost host({"kvt_pal4"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Kvt("a.kvt"));
  TSPIBitmap bitmap;
  bitmap.Assign(graphic);
  EXPECT_FALSE(graphic.Empty());
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
  EXPECT_EQ(bitmap.Palette(), graphic.Palette());

  // A plain bitmap brings no palette.
  TBitmap plain(4, 4);
  bitmap.Assign(plain);
  EXPECT_EQ(bitmap.Width(), 4);
  EXPECT_TRUE(bitmap.Palette().empty());
}

TEST_F(SPIBitmapTest, AssignLoadedRefusesNothing) {
  TSPIBitmap bitmap;
  try {
    bitmap.AssignLoaded(nullptr);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
  }
}

TEST_F(SPIBitmapTest, ANamelessStreamGoesToThePluginsFirst) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  TMemoryStream kvt(test::KvtBytes(test::FourColours()));
  bitmap.LoadFromStream(kvt);
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());

  // A BMP behind other bytes: the plug-ins see the whole stream and refuse
  // it; the bitmap reader then reads from the position the stream had.
  std::vector<uint8_t> bytes(10, 'x');
  const std::vector<uint8_t> bmp = test::BmpBytes(Other());
  bytes.insert(bytes.end(), bmp.begin(), bmp.end());
  TMemoryStream stream(bytes);
  stream.SetPosition(10);
  log_.Clear();
  bitmap.LoadFromStream(stream);
  EXPECT_EQ(test::PixelsOf(bitmap), Other());
  EXPECT_TRUE(PluginsAsked(log_));
}

TEST_F(SPIBitmapTest, ANamedStreamFollowsTheRuleOfItsName) {
  TestHost host({"kvt_fails"});
  TSPIBitmap bitmap;
  TMemoryStream bmp(test::BmpBytes(Other()));
  bitmap.LoadFromStreamWithName(bmp, "x.Bmp");
  EXPECT_EQ(test::PixelsOf(bitmap), Other());
  EXPECT_FALSE(PluginsAsked(log_));
  bmp.SetPosition(0);
  bitmap.LoadFromStreamWithName(bmp, "x.kvt");
  EXPECT_TRUE(PluginsAsked(log_));
  EXPECT_EQ(test::PixelsOf(bitmap), Other());
}

TEST_F(SPIBitmapTest, TheStreamEventLoadsAndCannotBeReplaced) {
  TestHost host({"kvt_basic"});
  TSPIBitmap bitmap;
  bool replaced = false;
  bitmap.SetOnLoadFromStreamWithName([&](TStream&, const std::string&) { replaced = true; });
  TMemoryStream stream(test::KvtBytes(test::FourColours()));
  bitmap.OnLoadFromStreamWithName()(stream, "a.kvt");
  EXPECT_FALSE(replaced);
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
}

// The kind is registered for the plug-ins' extensions while the
// registration lasts, and withdrawn with it; BMP stays the plain bitmap's.
TEST_F(SPIBitmapTest, IsRegisteredForThePluginsExtensionsWhileTheRegistrationLasts) {
  {
    SPIBitmapRegistration registration;
    EXPECT_EQ(TSPIs::DefaultGraphicClass(), &TSPIBitmap::Class);
    TestHost host({"kvt_basic"});
    EXPECT_EQ(TPicture::FindGraphicClass("KVT"), &TSPIBitmap::Class);
  }
  EXPECT_EQ(TPicture::FindGraphicClass("kvt"), nullptr);
  {
    // The withdrawal at the end of the registration, without TestHost's.
    SPIBitmapRegistration registration;
    TSPIs host;
    host.Add(CreateSPI(test::TestSpi("kvt_basic")));
    EXPECT_EQ(TPicture::FindGraphicClass("kvt"), &TSPIBitmap::Class);
  }
  EXPECT_EQ(TPicture::FindGraphicClass("kvt"), nullptr);
  EXPECT_EQ(TPicture::FindGraphicClass("bmp"), &TBitmap::Class);
  TSPIs::SetDefaultGraphicClass(nullptr);
}

}  // namespace
}  // namespace kevrale

namespace kevrale {
namespace {

// A failed load keeps each reader's answer beside the one message, so that
// the command line and the tests can say why.
TEST_F(SPIBitmapTest, AFailedLoadSaysWhatEachReaderAnswered) {
  TestHost host({"kvt_never", "kvt_fails"}, /*mac_binary=*/false);
  const std::string path = Kvt("a.kvt");
  TSPIBitmap bitmap;
  try {
    bitmap.LoadFromFile(path);
    FAIL() << "loaded";
  } catch (const EDecodeFailed& e) {
    EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
    EXPECT_STREQ(e.ClassName(), "EInvalidGraphic");
    const std::vector<LoadAttempt>& a = e.Outcome().Attempts;
    ASSERT_EQ(a.size(), 3u) << e.Outcome().Text();
    // The claiming decoder first, then the other, then the BMP reader.
    EXPECT_EQ(a[0].Reader, "kvt_never.spi");
    EXPECT_EQ(a[0].Failure, LoadFailure::NotThisFormat);
    EXPECT_EQ(a[1].Reader, "kvt_fails.spi");
    EXPECT_EQ(a[1].Failure, LoadFailure::NotThisFormat);
    EXPECT_EQ(a[1].ResultCode, SPI_UNKNOWN_FORMAT);
    EXPECT_EQ(a[2].Reader, "BMP");
    EXPECT_EQ(a[2].Failure, LoadFailure::NotThisFormat);
    EXPECT_EQ(a[2].Detail, BmpRefusalText(BmpRefusal::Signature));
  }
}

// A file that cannot be opened says so, whatever its extension, with the
// system's reason beside the message.
TEST_F(SPIBitmapTest, AFileThatCannotBeOpenedIsReportedAsSuch) {
  TestHost host({"kvt_basic"});
  const std::string folder = folder_.Sub("folder.kvt");
  const struct {
    std::string path;
    int error;
  } cases[] = {{folder_.File("missing.kvt"), ENOENT},
               {folder_.File("missing.bmp"), ENOENT},
               {folder, EISDIR}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TSPIBitmap bitmap;
    try {
      bitmap.LoadFromFile(c.path);
      ADD_FAILURE() << "loaded";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + c.path + " は開けません");
      EXPECT_EQ(e.ErrorNumber(), c.error);
      EXPECT_EQ(e.Reason(), SystemErrorText(c.error));
    }
  }
}

// Cancelling and running out of memory are no answers of a reader: they
// leave the load as what they are instead of "could not decode".
TEST_F(SPIBitmapTest, CancelAndOutOfMemoryGoOnAsTheyAre) {
  TestHost host({"kvt_basic"});
  const std::string path = Kvt("a.kvt");
  TSPIBitmap bitmap;
  bitmap.OnProgress = [](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                         const std::string& msg) {
    if (msg.rfind("Loading by", 0) == 0) throw EAbort("cancelled");
  };
  EXPECT_THROW(bitmap.LoadFromFile(path), EAbort);
  bitmap.OnProgress = [](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                         const std::string& msg) {
    if (msg.rfind("Seeking", 0) == 0) throw std::bad_alloc();
  };
  EXPECT_THROW(bitmap.LoadFromFile(path), std::bad_alloc);
  EXPECT_EQ(bitmap.Width(), 0);
}

}  // namespace
}  // namespace kevrale

namespace kevrale {
namespace {

// The fourth byte of a plug-in's 32-bit pixels is alpha when it is used:
// the bitmap then carries it; a byte that is 0 in every pixel is "unused".
TEST_F(SPIBitmapTest, ThirtyTwoBitPixelsOfAPluginKeepTheirAlpha) {
  {
    TestHost host({"kvt_rgba32"});
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(Kvt("a.kvt"));
    ASSERT_TRUE(bitmap.HasAlpha());
    EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
    for (int y = 0; y < bitmap.Height(); ++y)
      for (int x = 0; x < bitmap.Width(); ++x) {
        const bool blue = bitmap.Pixel(x, y) == RGB(0, 0, 255);
        EXPECT_EQ(bitmap.ScanLine(y)[4 * x + 3], blue ? 0 : 255) << x << ", " << y;
      }
  }
  TestHost host({"kvt_rgb32"});
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(Kvt("b.kvt"));
  EXPECT_FALSE(bitmap.HasAlpha());
  EXPECT_EQ(test::PixelsOf(bitmap), test::FourColours());
}

}  // namespace
}  // namespace kevrale

namespace kevrale {
namespace {

// A load with a width limit refuses a picture that a plug-in's picture
// information shows too wide before the plug-in is asked for its pixels,
// and one whose BMP header does before a pixel is read.
TEST_F(SPIBitmapTest, AWidthLimitRefusesBeforeThePixelsAreDecoded) {
  TestHost host({"kvt_basic"});
  const TLoadLimits limits{2, "too wide"};
  TSPIBitmap bitmap;
  bitmap.Limits = limits;
  try {
    bitmap.LoadFromFile(Kvt("wide.kvt"));  // 3 x 2
    ADD_FAILURE() << "loaded";
  } catch (const EPictureTooWide& e) {
    EXPECT_STREQ(e.what(), "too wide");
  }
  EXPECT_EQ(bitmap.Width(), 0);
  bool asked_info = false;
  for (const std::string& line : log_.Lines()) {
    EXPECT_EQ(line.find("GetPicture "), std::string::npos) << line;
    asked_info |= line.find("GetPictureInfo") != std::string::npos;
  }
  EXPECT_TRUE(asked_info);

  std::vector<uint8_t> header = test::BmpBytes(test::FourColours());
  header.resize(54);  // the header alone: it claims pixels the file lacks
  EXPECT_THROW(bitmap.LoadFromFile(Write("wide.bmp", header)), EPictureTooWide);
  bitmap.Limits = TLoadLimits{3, "too wide"};
  bitmap.LoadFromFile(Kvt("fits.kvt"));
  EXPECT_EQ(bitmap.Width(), 3);
}

}  // namespace
}  // namespace kevrale
