// The host as the front ends create it, and the format list of the command
// line.
#include "plugins/ProgramPluginHost.h"

#include <gtest/gtest.h>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {
namespace {

using test::CopySpi;
using test::TempFolder;

const TGraphicClassInfo kListedGraphic("TTestListedGraphic", &TBitmap::Class,
                                       &MakeInstance<TBitmap, TGraphic>);

class ProgramPluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override { TSPIs::SetDefaultGraphicClass(&kListedGraphic); }
  void TearDown() override {
    TSPIs::SetDefaultGraphicClass(nullptr);
    TPicture::UnregisterGraphicClass(&kListedGraphic);
  }
  TempFolder temp;
};

TEST_F(ProgramPluginHostTest, HasTheProgramsSettings) {
  std::unique_ptr<TSPIs> host = NewProgramPluginHost();
  EXPECT_EQ(GlobalSPIs(), host.get());
  EXPECT_EQ(host->SearchOptions, (TSPISearchOptions{spsSusieDir, spsAppDir}));
  EXPECT_FALSE(host->GraphicPreview);
  EXPECT_TRUE(host->AutoSearch);
  EXPECT_TRUE(host->MacBinary);
  EXPECT_EQ(host->Count(), 0);  // not searched yet
  EXPECT_THROW(CreateProgramPluginHost(), ESPIDupCreateSPIs);
  EXPECT_EQ(GlobalSPIs(), host.get());
}

TEST_F(ProgramPluginHostTest, SearchesTheSusieFolderFirst) {
  const std::string susie = temp.Sub("susie");
  const std::string png = CopySpi("in_png", susie);
  test::ScopedSusieFolder setting(temp, susie);
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost();
  ASSERT_GE(host->Count(), 1);
  EXPECT_EQ(host->Items(0).FileName(), png);
  EXPECT_EQ(TPicture::FindGraphicClass("png"), &kListedGraphic);
}

TEST_F(ProgramPluginHostTest, RegistryEntriesNameThePluginThatMadeThem) {
  const std::string dir = temp.Sub("dir");
  const std::string first = CopySpi("in_png", dir, "first.spi");
  const std::string second = CopySpi("in_jpeg", dir, "second.spi");
  const size_t before = TPicture::FileFormats().size();
  TSPIs host;
  host.Add(CreateSPI(first));
  TPicture::RegisterFileFormat("png", "PNG", &kListedGraphic);  // by someone else
  host.Add(CreateSPI(second));

  const std::vector<TFileFormat>& formats = TPicture::FileFormats();
  ASSERT_EQ(formats.size(), before + 5);
  const auto at = [&](size_t i) {
    const TFileFormat& f = formats[before + i];
    return f.Extension + " " + f.Description + " " + f.Origin;
  };
  EXPECT_EQ(at(0), "png PNG " + first);
  EXPECT_EQ(at(1), "png PNG ");  // not registered by the host
  EXPECT_EQ(at(2), "jpg JPEG " + second);
  EXPECT_EQ(at(3), "jpeg JPEG " + second);
  EXPECT_EQ(at(4), "png PNG " + second);
  EXPECT_EQ(formats.back().GraphicClass, &kListedGraphic);
  // The built-in kinds name no plug-in.
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(formats[i].Origin, "") << formats[i].Extension;
}

}  // namespace
}  // namespace kevrale
