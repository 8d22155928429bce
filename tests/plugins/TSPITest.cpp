// Plug-in modules: construction, the kinds' entry-point checks in their
// order, the information strings, the wrappers and the error texts.
#include "plugins/TSPI.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "platform/DynamicLibrary.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TAmSPI.h"
#include "plugins/TInSPI.h"
#include "plugins/TSPIs.h"
#include "plugins/TXnSPI.h"

namespace kevrale {
namespace {

using test::TestSpi;

// The message of the exception `f` raises, which must be of class E.
template <class E, class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no exception";
  return std::string();
}

std::string InvalidApi(const std::string& api, const std::string& file) {
  return api + "は[" + file + "]では使えないSusie Plugin APIです";
}

TEST(TSPITest, ReadsTheInformationOfAnImportPlugin) {
  TInSPI spi(TestSpi("in_jpeg"));
  EXPECT_EQ(spi.FileName(), TestSpi("in_jpeg"));
  EXPECT_EQ(spi.APIVersion(), "00IN");
  EXPECT_EQ(spi.PluginName(), "Kevrale test plug-in");
  EXPECT_EQ(spi.Extensions(), (std::vector<std::string>{"*.jpg;*.jpeg", "*.png"}));
  EXPECT_EQ(spi.Descriptions(), (std::vector<std::string>{"JPEG", "PNG"}));
  EXPECT_NE(spi.Handle(), nullptr);
  EXPECT_EQ(spi.ClassType(), &TInSPI::Class);
  EXPECT_TRUE(spi.ClassType()->InheritsFrom(&TLoaderSPI::Class));
  EXPECT_TRUE(spi.ClassType()->InheritsFrom(&TSPI::Class));
  EXPECT_NO_THROW(spi.CheckAPIs());
}

TEST(TSPITest, FilterStringWithoutDescriptionIsDropped) {
  // Information 2, 3 and 4, but not 5.
  TInSPI spi(TestSpi("in_half"));
  EXPECT_EQ(spi.Extensions(), (std::vector<std::string>{"*.png"}));
  EXPECT_EQ(spi.Descriptions(), (std::vector<std::string>{"PNG"}));
}

TEST(TSPITest, PluginAnsweringEveryNumberIsCapped) {
  TInSPI spi(TestSpi("in_endless"));
  ASSERT_EQ(spi.Extensions().size(), size_t(TSPI::kMaxFilterPairs));
  ASSERT_EQ(spi.Descriptions().size(), size_t(TSPI::kMaxFilterPairs));
  EXPECT_EQ(spi.Extensions().front(), "*.e2");
  EXPECT_EQ(spi.Descriptions().back(), "E2049");
}

TEST(TSPITest, NoVersionGivesAnEmptyVersion) {
  TSPI spi(TestSpi("noversion"));
  EXPECT_EQ(spi.APIVersion(), "");
  EXPECT_EQ(spi.Extensions(), (std::vector<std::string>{"*.png"}));
}

TEST(TSPITest, WrappersCallThePlugin) {
  TInSPI spi(TestSpi("in_png"));
  char buf[256] = {};
  EXPECT_EQ(spi.GetPluginInfo(2, buf, 255), 5);
  EXPECT_STREQ(buf, "*.png");
  EXPECT_EQ(spi.GetPluginInfo(40, buf, 255), 0);

  char head[2176] = "KVSPI";
  EXPECT_NE(spi.IsSupported("x.png", intptr_t(head)), 0);
  char other[2176] = "GIF89a";
  EXPECT_EQ(spi.IsSupported("x.png", intptr_t(other)), 0);

  SpiPictureInfo info{};
  EXPECT_EQ(spi.GetPictureInfo(head, 5, SPI_INPUT_MEMORY, &info), SPI_SUCCESS);
  EXPECT_EQ(info.width, 2);
  EXPECT_EQ(spi.GetPictureInfo(other, 6, SPI_INPUT_MEMORY, &info), SPI_UNKNOWN_FORMAT);

  // The picture comes back in local-memory handles that the host frees.
  struct Progress {
    int calls = 0;
    static int32_t Callback(int32_t num, int32_t denom, intptr_t data) {
      auto* self = reinterpret_cast<Progress*>(data);
      ++self->calls;
      return num > denom ? 1 : 0;
    }
  } progress;
  SpiHandle hinfo = nullptr;
  SpiHandle hbits = nullptr;
  ASSERT_EQ(spi.GetPicture(head, 5, SPI_INPUT_MEMORY, &hinfo, &hbits, &Progress::Callback,
                           intptr_t(&progress)),
            SPI_SUCCESS);
  EXPECT_EQ(progress.calls, 2);
  ASSERT_EQ(LocalSize(hinfo), 40u);
  const auto* header = static_cast<const unsigned char*>(LocalLock(hinfo));
  int32_t width = 0;
  std::memcpy(&width, header + 4, 4);
  EXPECT_EQ(width, 2);
  EXPECT_EQ(LocalSize(hbits), 8u);
  LocalUnlock(hinfo);
  EXPECT_EQ(LocalFree(hinfo), nullptr);
  EXPECT_EQ(LocalFree(hbits), nullptr);

  ASSERT_EQ(spi.GetPreview(head, 5, SPI_INPUT_MEMORY, &hinfo, &hbits, nullptr, 0), SPI_SUCCESS);
  EXPECT_EQ(LocalSize(hbits), 4u);  // the 1 x 1 preview
  EXPECT_EQ(LocalFree(hinfo), nullptr);
  EXPECT_EQ(LocalFree(hbits), nullptr);
}

TEST(TSPITest, MissingPreviewRaisesFromTheWrapperOnly) {
  TInSPI spi(TestSpi("in_nopreview"));  // builds without GetPreview
  SpiHandle hinfo = nullptr;
  SpiHandle hbits = nullptr;
  EXPECT_EQ(MessageOf<ESPIInvalidAPI>(
                [&] { spi.GetPreview("x", 0, SPI_INPUT_FILE, &hinfo, &hbits, nullptr, 0); }),
            InvalidApi("GetPreview", TestSpi("in_nopreview")));
  EXPECT_EQ(hinfo, nullptr);
  char head[2176] = "KVSPI";
  EXPECT_NE(spi.IsSupported("", intptr_t(head)), 0);  // still usable
}

TEST(TSPITest, KindsCheckTheirEntryPointsInOrder) {
  // 00IN without GetPicture (IsSupported and GetPictureInfo present).
  EXPECT_EQ(MessageOf<ESPIInvalidAPI>([] { TInSPI spi(TestSpi("in_nopicture")); }),
            InvalidApi("GetPicture", TestSpi("in_nopicture")));
  // 00AM without IsSupported and without the archive entry points: the
  // loader kind's check comes first.
  EXPECT_EQ(MessageOf<ESPIInvalidAPI>([] { TAmSPI spi(TestSpi("am_nosupport")); }),
            InvalidApi("IsSupported", TestSpi("am_nosupport")));
  // An import plug-in is no archive plug-in.
  EXPECT_EQ(MessageOf<ESPIInvalidAPI>([] { TAmSPI spi(TestSpi("in_png")); }),
            InvalidApi("GetArchiveInfo", TestSpi("in_png")));
  // Every kind needs GetPluginInfo.
  for (TSPIClass kind : {&TSPI::Class, &TXnSPI::Class, &TInSPI::Class}) {
    EXPECT_EQ(MessageOf<ESPIInvalidAPI>([&] { kind->Create(TestSpi("nogpi")); }),
              InvalidApi("GetPluginInfo", TestSpi("nogpi")))
        << kind->Name();
  }
  // A failed build leaves the library unloaded.
  EXPECT_FALSE(DynamicLibrary::IsLoaded(TestSpi("in_nopicture")));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(TestSpi("nogpi")));

  TAmSPI archive(TestSpi("am_full"));
  EXPECT_EQ(archive.APIVersion(), "00AM");
  // The plain kind asks for GetPluginInfo only.
  TSPI plain(TestSpi("in_nopicture"));
  EXPECT_EQ(plain.APIVersion(), "00IN");
  EXPECT_NO_THROW(plain.CheckAPIs());
}

TEST(TSPITest, LoadFailureNamesTheFileAsGiven) {
  test::TempFolder temp;
  const std::string text = temp.Path() + "/notalib.spi";
  test::WriteText(text, "MZ not an ELF file");
  EXPECT_EQ(MessageOf<ESPIFOpenErrorSPI>([] { TSPI spi("nosuch.spi"); }),
            "nosuch.spi:Susie Pluginがロードできませんでした");
  EXPECT_EQ(MessageOf<ESPIFOpenErrorSPI>([&] { TInSPI spi(text); }),
            text + ":Susie Pluginがロードできませんでした");
  EXPECT_EQ(MessageOf<ESPIFOpenErrorSPI>([] { TSPI spi(""); }),
            ":Susie Pluginがロードできませんでした");
}

// The start-up error box shows a failure's class name, read through the
// common base: each failure names the class that says what went wrong.
TEST(TSPITest, FailuresNameTheirClassThroughTheCommonBase) {
  const auto class_of = [](const std::function<void()>& fail) -> std::string {
    try {
      fail();
    } catch (const Exception& e) {
      return e.ClassName();
    }
    return "nothing raised";
  };
  EXPECT_EQ(class_of([] { TSPI spi("nosuch.spi"); }), "ESPIFOpenErrorSPI");
  EXPECT_EQ(class_of([] { TInSPI spi(TestSpi("in_nopicture")); }), "ESPIInvalidAPI");
  TSPIs host;
  EXPECT_EQ(class_of([] { TSPIs second; }), "ESPIDupCreateSPIs");
}

TEST(TSPITest, DestroyingTheModuleReleasesTheLibrary) {
  const std::string path = TestSpi("xn");
  {
    TXnSPI spi(path);
    EXPECT_TRUE(DynamicLibrary::IsLoaded(path));
  }
  EXPECT_FALSE(DynamicLibrary::IsLoaded(path));
}

}  // namespace
}  // namespace kevrale
