// The plug-in host: the search and its places, classification, format
// registration, the order of CollectSPIs, the events and the single host.
#include "plugins/TSPIs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "platform/DynamicLibrary.h"
#include "platform/Folders.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TAmSPI.h"
#include "plugins/TXnSPI.h"

namespace kevrale {
namespace {

using test::CopySpi;
using test::ScopedSusieFolder;
using test::TempFolder;
using test::TestSpi;

// Graphic kinds that only these tests register, so that their entries can
// be told from the others and withdrawn afterwards.
const TGraphicClassInfo kPluginGraphic("TTestPluginGraphic", &TBitmap::Class,
                                       &MakeInstance<TBitmap, TGraphic>);
const TGraphicClassInfo kOtherGraphic("TTestOtherGraphic", &TBitmap::Class,
                                      &MakeInstance<TBitmap, TGraphic>);

struct Entry {
  std::string extension, description;
  TGraphicClass graphic_class;
  bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << e.extension << "/" << e.description << "/"
            << (e.graphic_class ? e.graphic_class->Name() : "none");
}

class TSPIsTest : public ::testing::Test {
 protected:
  void SetUp() override { TSPIs::SetDefaultGraphicClass(&kPluginGraphic); }
  void TearDown() override {
    TSPIs::SetDefaultGraphicClass(nullptr);
    TPicture::UnregisterGraphicClass(&kPluginGraphic);
    TPicture::UnregisterGraphicClass(&kOtherGraphic);
  }

  // The registry entries of the test kinds, oldest first.
  static std::vector<Entry> Registered() {
    std::vector<Entry> entries;
    for (const TFileFormat& f : TPicture::FileFormats())
      if (f.GraphicClass == &kPluginGraphic || f.GraphicClass == &kOtherGraphic)
        entries.push_back({f.Extension, f.Description, f.GraphicClass});
    return entries;
  }

  static std::vector<std::string> FileNames(const TSPIs& host) {
    std::vector<std::string> names;
    for (int i = 0; i < host.Count(); ++i) names.push_back(host.Items(i).FileName());
    return names;
  }

  // A host that searches nothing but the given places.
  std::unique_ptr<TSPIs> Host(TSPISearchOptions options, const std::string& app_folder) {
    auto host = std::make_unique<TSPIs>();
    host->SearchOptions = options;
    host->SetAppFolder(app_folder);
    return host;
  }

  TempFolder temp;
};

// Left at its defaults, a new host is the program's host and its search
// finds the plug-ins of the Susie folder and of the program's folder, but
// not those of the current folder.
TEST_F(TSPIsTest, ANewHostSearchesTheSusieAndProgramFoldersByDefault) {
  const std::string susie = temp.Sub("susie");
  const std::string app = temp.Sub("app");
  const std::string current = temp.Sub("current");
  const std::string gif = CopySpi("in_gif", susie);
  const std::string png = CopySpi("in_png", app);
  CopySpi("in_png", current);
  ScopedSusieFolder setting(temp, susie);
  test::ScopedCurrentFolder cwd(current);
  TSPIs host;
  EXPECT_EQ(GlobalSPIs(), &host);
  EXPECT_EQ(host.Count(), 0) << "nothing is loaded before the search";
  host.SetAppFolder(app);
  host.Search("*.spi");
  EXPECT_EQ(FileNames(host), (std::vector<std::string>{gif, png}));
}

TEST_F(TSPIsTest, SusieFolderComesBeforeTheProgramFolder) {
  const std::string susie = temp.Sub("susie");
  const std::string app = temp.Sub("app");
  const std::string gif = CopySpi("in_gif", susie);
  const std::string png = CopySpi("in_png", app);
  ScopedSusieFolder setting(temp, susie);
  auto host = Host({spsSusieDir, spsAppDir}, app);
  host->Search("*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{gif, png}));
  EXPECT_EQ(Registered(),
            (std::vector<Entry>{{"gif", "GIF", &kPluginGraphic}, {"png", "PNG", &kPluginGraphic}}));
  // The order of the places does not depend on the order of the options.
  auto other = std::move(host);
  other.reset();
  auto reversed = Host({spsAppDir, spsSusieDir}, app);
  reversed->Search("*.spi");
  EXPECT_EQ(FileNames(*reversed), (std::vector<std::string>{gif, png}));
}

TEST_F(TSPIsTest, SameNameInBothFoldersLoadsBoth) {
  const std::string susie = temp.Sub("susie");
  const std::string app = temp.Sub("app");
  const std::string first = CopySpi("in_png", susie);
  const std::string second = CopySpi("in_png", app);
  ScopedSusieFolder setting(temp, susie + "/");  // a trailing "/" is not doubled
  auto host = Host({spsSusieDir, spsAppDir}, app);
  host->Search("*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{first, second}));
  EXPECT_NE(host->Items(0).Handle(), host->Items(1).Handle());
}

TEST_F(TSPIsTest, FolderNamedTwiceLoadsEachLibraryOnce) {
  const std::string dir = temp.Sub("both");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  ScopedSusieFolder setting(temp, dir + "/");
  auto host = Host({spsSusieDir, spsAppDir, spsCurrentDir}, dir);
  test::ScopedCurrentFolder cwd(dir);
  host->Search("*.spi");
  EXPECT_EQ(host->Count(), 2);
  EXPECT_NE(host->IndexOf(png), -1);
  EXPECT_NE(host->IndexOf(gif), -1);
  EXPECT_EQ(Registered().size(), 2u);
}

TEST_F(TSPIsTest, IndexOfIgnoresTheCaseOfAsciiLettersOnly) {
  const std::string dir = temp.Sub("Mixed");
  const std::string png = CopySpi("in_png", dir, "ÄPlug.spi");
  TSPIs host;
  host.Add(CreateSPI(png));
  std::string upper = png;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
  EXPECT_EQ(host.IndexOf(upper), 0);
  EXPECT_EQ(host.IndexOf(dir + "/äplug.spi"), -1);  // not an ASCII letter
  EXPECT_EQ(host.IndexOf(dir + "/Plug.spi"), -1);
}

TEST_F(TSPIsTest, MaskWithAFolderSearchesOnlyThatFolder) {
  const std::string susie = temp.Sub("susie");
  const std::string only = temp.Sub("only");
  CopySpi("in_gif", susie);
  const std::string png = CopySpi("in_png", only);
  CopySpi("in_pic", only, "in_pic.dll");
  ScopedSusieFolder setting(temp, susie);
  for (TSPISearchOptions options : {TSPISearchOptions{}, TSPISearchOptions{spsSusieDir}}) {
    auto host = Host(options, susie);
    host->Search(only + "/*.spi");
    EXPECT_EQ(FileNames(*host), (std::vector<std::string>{png}));
  }
}

TEST_F(TSPIsTest, EmptyOptionsSearchNothing) {
  const std::string dir = temp.Sub("dir");
  CopySpi("in_png", dir);
  ScopedSusieFolder setting(temp, dir);
  test::ScopedCurrentFolder cwd(dir);
  auto host = Host({}, dir);
  host->Search("*.spi");
  EXPECT_EQ(host->Count(), 0);
}

TEST_F(TSPIsTest, CurrentFolderPlaceAndWindowsOnlyPlaces) {
  const std::string dir = temp.Sub("cwd");
  const std::string png = CopySpi("in_png", dir);
  test::ScopedCurrentFolder cwd(dir);
  auto windows_only = Host({spsSystemDir, spsWindowsDir}, temp.Sub("empty"));
  windows_only->Search("*.spi");
  EXPECT_EQ(windows_only->Count(), 0);
  windows_only.reset();
  auto host = Host({spsCurrentDir}, temp.Sub("empty"));
  host->Search("*.spi");
  ASSERT_EQ(host->Count(), 1);
  EXPECT_EQ(std::filesystem::canonical(host->Items(0).FileName()), std::filesystem::canonical(png));
}

TEST_F(TSPIsTest, MissingSettingSkipsTheSusiePlace) {
  const std::string app = temp.Sub("app");
  const std::string png = CopySpi("in_png", app);
  test::ScopedEnv xdg("XDG_CONFIG_HOME", temp.Sub("noconfig"));
  auto host = Host({spsSusieDir, spsAppDir}, app);
  host->Search("*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{png}));
}

TEST_F(TSPIsTest, CreateSPIChoosesTheKindByTheVersionString) {
  struct Case {
    const char* spi;
    TSPIClass kind;
  };
  for (const Case& c : {Case{"in_png", &TInSPI::Class}, Case{"am_full", &TAmSPI::Class},
                        Case{"xn", &TXnSPI::Class}, Case{"noversion", &TSPI::Class},
                        Case{"in_lower", &TSPI::Class}, Case{"in_nopicture", nullptr}}) {
    SCOPED_TRACE(c.spi);
    if (c.kind == nullptr) {
      EXPECT_THROW(CreateSPI(TestSpi(c.spi)), ESPIInvalidAPI);
    } else {
      std::unique_ptr<TSPI> module = CreateSPI(TestSpi(c.spi));
      ASSERT_NE(module, nullptr);
      EXPECT_EQ(module->ClassType(), c.kind);
      EXPECT_EQ(module->FileName(), TestSpi(c.spi));
      module.reset();
    }
    // The probing module is gone too: nothing holds the library now.
    EXPECT_FALSE(DynamicLibrary::IsLoaded(TestSpi(c.spi)));
  }
  const std::string text = temp.Path() + "/notalib.spi";
  test::WriteText(text, "plain text");
  EXPECT_EQ(CreateSPI(text), nullptr);
  EXPECT_EQ(CreateSPI(temp.Path() + "/missing.spi"), nullptr);
  try {
    CreateSPI(TestSpi("nogpi"));
    ADD_FAILURE() << "no exception";
  } catch (const ESPIInvalidAPI& e) {
    EXPECT_EQ(e.Message(),
              "GetPluginInfoは[" + TestSpi("nogpi") + "]では使えないSusie Plugin APIです");
  }
}

TEST_F(TSPIsTest, LowerCaseVersionIsAPlainModuleThatRegistersNothing) {
  const std::string dir = temp.Sub("dir");
  CopySpi("in_lower", dir);
  auto host = Host({}, dir);
  host->Search(dir + "/*.spi");
  ASSERT_EQ(host->Count(), 1);
  EXPECT_EQ(host->Items(0).ClassType(), &TSPI::Class);
  EXPECT_EQ(host->Items(0).Extensions(), (std::vector<std::string>{"*.png"}));
  EXPECT_TRUE(Registered().empty());
  std::vector<TSPI*> list;
  host->CollectSPIs({&TInSPI::Class}, "a.png", list);
  EXPECT_TRUE(list.empty());
}

TEST_F(TSPIsTest, RegistersEveryPieceOfEveryFilterString) {
  TSPIs host;
  host.Add(CreateSPI(TestSpi("in_pic")));
  EXPECT_EQ(Registered(), (std::vector<Entry>{{"pic", "PIC", &kPluginGraphic}}));
  // "*.jpg;*.jpeg;*.jpe", then "*.aa;;*.;bb;": empty pieces claim nothing, a
  // piece without a dot is taken whole.
  host.Add(CreateSPI(TestSpi("in_pieces")));
  EXPECT_EQ(Registered(), (std::vector<Entry>{{"pic", "PIC", &kPluginGraphic},
                                              {"jpg", "JPEG", &kPluginGraphic},
                                              {"jpeg", "JPEG", &kPluginGraphic},
                                              {"jpe", "JPEG", &kPluginGraphic},
                                              {"aa", "AB", &kPluginGraphic},
                                              {"bb", "AB", &kPluginGraphic}}));
  EXPECT_EQ(TPicture::FindGraphicClass("JPE"), &kPluginGraphic);
  // Formats stay registered when their module goes.
  host.Clear();
  EXPECT_EQ(Registered().size(), 6u);
}

TEST_F(TSPIsTest, RegisterHandlerChoiceCarriesOverWithinOneFilterString) {
  struct Call {
    std::string extension, description;
    TGraphicClass offered;
  };
  std::vector<Call> calls;
  TSPIs host;
  TInSPI* seen = nullptr;
  host.OnPictureRegister = [&](TSPIs& sender, TInSPI& spi, const std::string& extension,
                               const std::string& description, TGraphicClass& graphic_class) {
    EXPECT_EQ(&sender, &host);
    seen = &spi;
    calls.push_back({extension, description, graphic_class});
    if (extension == "jpg") graphic_class = nullptr;
  };
  host.Add(CreateSPI(TestSpi("in_jpeg")));  // "*.jpg;*.jpeg" JPEG, "*.png" PNG
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(seen, &host.Items(0));
  EXPECT_EQ(calls[0].extension, "jpg");
  EXPECT_EQ(calls[0].offered, &kPluginGraphic);
  EXPECT_EQ(calls[1].extension, "jpeg");
  EXPECT_EQ(calls[1].description, "JPEG");
  EXPECT_EQ(calls[1].offered, nullptr);  // carried over from jpg
  EXPECT_EQ(calls[2].extension, "png");
  EXPECT_EQ(calls[2].offered, &kPluginGraphic);  // a new filter string starts again
  EXPECT_EQ(Registered(), (std::vector<Entry>{{"png", "PNG", &kPluginGraphic}}));

  // A kind chosen for jpg holds for jpeg as well.
  TPicture::UnregisterGraphicClass(&kPluginGraphic);
  host.OnPictureRegister = [](TSPIs&, TInSPI&, const std::string& extension, const std::string&,
                              TGraphicClass& graphic_class) {
    if (extension == "jpg") graphic_class = &kOtherGraphic;
  };
  host.Add(CreateSPI(TestSpi("in_jpeg")));
  EXPECT_EQ(Registered(), (std::vector<Entry>{{"jpg", "JPEG", &kOtherGraphic},
                                              {"jpeg", "JPEG", &kOtherGraphic},
                                              {"png", "PNG", &kPluginGraphic}}));
}

TEST_F(TSPIsTest, NoDefaultGraphicClassRegistersNothing) {
  TSPIs::SetDefaultGraphicClass(nullptr);
  const size_t before = TPicture::FileFormats().size();
  const std::string dir = temp.Sub("dir");
  CopySpi("in_png", dir);
  CopySpi("in_jpeg", dir);
  auto host = Host({}, dir);
  host->Search(dir + "/*.spi");
  EXPECT_EQ(host->Count(), 2);
  EXPECT_EQ(TPicture::FileFormats().size(), before);
}

TEST_F(TSPIsTest, CollectSPIsPutsClaimingModulesFirst) {
  const std::string dir = temp.Sub("dir");
  TSPIs host;
  host.Add(CreateSPI(CopySpi("am_full", dir, "p.spi")));  // archive
  host.Add(CreateSPI(CopySpi("in_png", dir, "q.spi")));   // *.png
  host.Add(CreateSPI(CopySpi("in_gif", dir, "r.spi")));   // *.gif
  host.Add(CreateSPI(CopySpi("in_png", dir, "s.spi")));   // *.png
  TSPI* p = &host.Items(0);
  TSPI* q = &host.Items(1);
  TSPI* r = &host.Items(2);
  TSPI* s = &host.Items(3);
  const auto collect = [&](std::vector<TSPIClass> classes, const std::string& name) {
    std::vector<TSPI*> list;
    host.CollectSPIs(classes, name, list);
    return list;
  };
  EXPECT_EQ(collect({&TInSPI::Class}, "/img/photo.png"), (std::vector<TSPI*>{s, q, r}));
  EXPECT_EQ(collect({&TInSPI::Class}, "/img/PHOTO.Png"), (std::vector<TSPI*>{s, q, r}));
  EXPECT_EQ(collect({&TInSPI::Class}, "/img/photo"), (std::vector<TSPI*>{q, r, s}));
  EXPECT_EQ(collect({&TInSPI::Class}, "/img.png/photo"), (std::vector<TSPI*>{q, r, s}));
  EXPECT_EQ(collect({&TInSPI::Class}, ""), (std::vector<TSPI*>{q, r, s}));
  EXPECT_EQ(collect({&TLoaderSPI::Class}, "a.gif"), (std::vector<TSPI*>{r, p, q, s}));
  EXPECT_EQ(collect({&TAmSPI::Class, &TXnSPI::Class}, "a.png"), (std::vector<TSPI*>{p}));
  EXPECT_TRUE(collect({}, "a.png").empty());

  // The list is appended to, claiming modules going to its very front.
  std::vector<TSPI*> list{p};
  host.CollectSPIs({&TInSPI::Class}, "x.gif", list);
  EXPECT_EQ(list, (std::vector<TSPI*>{r, p, q, s}));

  // Only the last extension of a filter string counts.
  host.Add(CreateSPI(CopySpi("in_jpeg", dir, "j.spi")));  // *.jpg;*.jpeg and *.png
  TSPI* j = &host.Items(4);
  EXPECT_EQ(collect({&TInSPI::Class}, "a.jpeg"), (std::vector<TSPI*>{j, q, r, s}));
  EXPECT_EQ(collect({&TInSPI::Class}, "a.jpg"), (std::vector<TSPI*>{q, r, s, j}));
  EXPECT_EQ(collect({&TInSPI::Class}, "a.png"), (std::vector<TSPI*>{j, s, q, r}));
}

TEST_F(TSPIsTest, OnSearchingRefusalLoadsNothing) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  auto host = Host({}, dir);
  std::vector<std::string> asked;
  host->OnSearching = [&](TSPIs& sender, const std::string& file_name, bool& accept) {
    EXPECT_EQ(&sender, host.get());
    EXPECT_TRUE(accept);
    EXPECT_FALSE(DynamicLibrary::IsLoaded(file_name));  // asked before loading
    asked.push_back(file_name);
    accept = file_name != gif;
  };
  host->Search(dir + "/*.spi");
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{gif, png}));
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{png}));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(gif));
}

TEST_F(TSPIsTest, OnSearchRefusalFreesTheModule) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  auto host = Host({}, dir);
  host->OnSearch = [&](TSPIs& sender, TSPI& spi, bool& accept) {
    EXPECT_EQ(&sender, host.get());
    EXPECT_EQ(spi.ClassType(), &TInSPI::Class);
    accept = spi.FileName() != png;
  };
  host->Search(dir + "/*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{gif}));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(png));
  EXPECT_EQ(Registered(), (std::vector<Entry>{{"gif", "GIF", &kPluginGraphic}}));
}

TEST_F(TSPIsTest, ErrorsOfOnSearchAreAbsorbedThoseOfOnSearchingAreNot) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  {
    auto host = Host({}, dir);
    host->OnSearch = [&](TSPIs&, TSPI& spi, bool&) {
      if (spi.FileName() == png) throw EAbort("refused");
    };
    host->Search(dir + "/*.spi");
    EXPECT_EQ(FileNames(*host), (std::vector<std::string>{gif}));
    EXPECT_FALSE(DynamicLibrary::IsLoaded(png));
  }
  auto host = Host({}, dir);
  host->OnSearching = [](TSPIs&, const std::string&, bool&) { throw EAbort("stop"); };
  EXPECT_THROW(host->Search(dir + "/*.spi"), EAbort);
  EXPECT_EQ(host->Count(), 0);
}

TEST_F(TSPIsTest, UnloadableFilesAreSkipped) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  test::WriteText(dir + "/text.spi", "not a library");
  test::WriteText(dir + "/empty.spi", "");
  auto host = Host({}, dir);
  host->Search(dir + "/*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{png}));
}

TEST_F(TSPIsTest, LibrariesThatCannotBeUsedAreSkippedWithTheirReasons) {
  const std::string susie = temp.Sub("susie");
  const std::string app = temp.Sub("app");
  const std::string gif = CopySpi("in_gif", susie);
  for (const char* name : {"in_png", "in_pic", "nogpi", "xn", "in_nopicture", "in_jpeg"})
    CopySpi(name, app);
  test::WriteText(app + "/text.spi", "not a library");
  ScopedSusieFolder setting(temp, susie);
  auto host = Host({spsSusieDir, spsAppDir, spsCurrentDir}, app);
  host->Search("*.spi");
  // Every usable library is loaded, those after the broken ones included.
  EXPECT_EQ(FileNames(*host),
            (std::vector<std::string>{gif, app + "/in_jpeg.spi", app + "/in_pic.spi",
                                      app + "/in_png.spi", app + "/xn.spi"}));
  ASSERT_EQ(host->Skipped().size(), 3u);
  const TSPISkipped& no_picture = host->Skipped()[0];
  EXPECT_EQ(no_picture.FileName, app + "/in_nopicture.spi");
  EXPECT_EQ(no_picture.ErrorClass, "ESPIInvalidAPI");
  EXPECT_EQ(no_picture.Text(),
            "GetPictureは[" + app + "/in_nopicture.spi]では使えないSusie Plugin APIです");
  const TSPISkipped& no_info = host->Skipped()[1];
  EXPECT_EQ(no_info.ErrorClass, "ESPIInvalidAPI");
  EXPECT_EQ(no_info.Message,
            "GetPluginInfoは[" + app + "/nogpi.spi]では使えないSusie Plugin APIです");
  const TSPISkipped& text = host->Skipped()[2];
  EXPECT_EQ(text.ErrorClass, "ESPIFOpenErrorSPI");
  EXPECT_EQ(text.Message, app + "/text.spi:Susie Pluginがロードできませんでした");
  EXPECT_FALSE(text.Reason.empty());  // the loader's own words follow the message
  EXPECT_EQ(text.Text(), text.Message + ": " + text.Reason);
  for (const char* name : {"/nogpi.spi", "/in_nopicture.spi"})
    EXPECT_FALSE(DynamicLibrary::IsLoaded(app + name)) << name;
  EXPECT_EQ(TPicture::FindGraphicClass("gif"), &kPluginGraphic);

  // A second search meets them again and says so again.
  host->Search(app + "/*.spi");
  EXPECT_EQ(host->Skipped().size(), 6u);
}

TEST_F(TSPIsTest, OneLibraryUnderSeveralSpellingsLoadsOnce) {
  const std::string real = temp.Sub("real");
  const std::string png = CopySpi("in_png", real);
  const std::string gif = CopySpi("in_gif", real);
  // A link to a library in the same folder, and a folder reached through a
  // link, "//" and "./".
  std::filesystem::create_symlink("in_png.spi", real + "/alias.spi");
  std::filesystem::create_directory_symlink(real, temp.Path() + "/link");
  ScopedSusieFolder setting(temp, temp.Path() + "/link");
  for (const std::string& app : {real + "//", temp.Path() + "/./real", temp.Path() + "/link"}) {
    SCOPED_TRACE(app);
    auto host = Host({spsSusieDir, spsAppDir}, app);
    host->Search("*.spi");
    ASSERT_EQ(host->Count(), 2);
    std::vector<std::string> resolved;
    for (const std::string& name : FileNames(*host))
      resolved.push_back(std::filesystem::canonical(name).string());
    std::sort(resolved.begin(), resolved.end());
    EXPECT_EQ(resolved, (std::vector<std::string>{std::filesystem::canonical(gif).string(),
                                                  std::filesystem::canonical(png).string()}));
    EXPECT_TRUE(host->Skipped().empty());
    EXPECT_EQ(Registered().size(), 2u);
    host.reset();
    TPicture::UnregisterGraphicClass(&kPluginGraphic);
  }
  // IndexOf keeps its meaning: the name as the module holds it.
  auto host = Host({}, real);
  host->Search(real + "/*.spi");
  EXPECT_EQ(host->IndexOf(temp.Path() + "/link/in_png.spi"), -1);
}

TEST_F(TSPIsTest, TheMaskMatchesWithoutRegardToCase) {
  const std::string dir = temp.Sub("dir");
  const std::string upper = CopySpi("in_png", dir, "IFPNG.SPI");
  const std::string mixed = CopySpi("in_gif", dir, "IfGif.Spi");
  CopySpi("in_pic", dir, "in_pic.spx");
  auto host = Host({}, dir);
  host->Search(dir + "/*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{upper, mixed}));
}

TEST_F(TSPIsTest, RegistrationErrorDuringSearchLeavesNoFreedModuleListed) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  const std::string jpeg = CopySpi("in_jpeg", dir);  // jpg, jpeg, then png
  auto host = Host({}, dir);
  host->OnPictureRegister = [](TSPIs&, TInSPI&, const std::string& extension, const std::string&,
                               TGraphicClass&) {
    if (extension == "png") throw EAbort("no png");
  };
  host->Search(dir + "/*.spi");
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{gif}));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(png));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(jpeg));
  // What was registered before the error stays registered.
  EXPECT_EQ(TPicture::FindGraphicClass("jpeg"), &kPluginGraphic);
  std::vector<TSPI*> list;
  host->CollectSPIs({&TSPI::Class}, "a.gif", list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->FileName(), gif);
}

TEST_F(TSPIsTest, OnlyOneHostAtATime) {
  {
    TSPIs first;
    try {
      TSPIs second;
      ADD_FAILURE() << "no exception";
    } catch (const ESPIDupCreateSPIs& e) {
      EXPECT_EQ(e.Message(), "TSPIs は複数生成できません");
    }
    EXPECT_EQ(GlobalSPIs(), &first);
  }
  EXPECT_EQ(GlobalSPIs(), nullptr);
  TSPIs again;
  EXPECT_EQ(GlobalSPIs(), &again);
}

TEST_F(TSPIsTest, LoadedSearchesOnlyWithAutoSearch) {
  const std::string susie = temp.Sub("susie");
  const std::string png = CopySpi("in_png", susie);
  ScopedSusieFolder setting(temp, susie);
  auto host = Host({spsSusieDir}, temp.Sub("empty"));
  host->AutoSearch = false;
  host->Loaded();
  EXPECT_EQ(host->Count(), 0);
  host->AutoSearch = true;
  host->Loaded();
  EXPECT_EQ(FileNames(*host), (std::vector<std::string>{png}));
}

TEST_F(TSPIsTest, ListOperations) {
  const std::string dir = temp.Sub("dir");
  const std::string png = CopySpi("in_png", dir);
  const std::string gif = CopySpi("in_gif", dir);
  const std::string xn = CopySpi("xn", dir);
  {
    TSPIs host;
    host.Add(CreateSPI(png));
    host.Insert(0, CreateSPI(gif));
    host.Insert(1, CreateSPI(xn));
    EXPECT_EQ(FileNames(host), (std::vector<std::string>{gif, xn, png}));
    EXPECT_THROW(host.Items(3), EListError);
    EXPECT_THROW(host.Items(-1), EListError);
    EXPECT_THROW(host.Delete(3), EListError);
    EXPECT_THROW(host.Insert(4, CreateSPI(xn)), EListError);
    try {
      host.Items(7);
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "リストのインデックスが範囲を超えています (7)");
    }
    host.Delete(1);
    EXPECT_FALSE(DynamicLibrary::IsLoaded(xn));
    EXPECT_EQ(FileNames(host), (std::vector<std::string>{gif, png}));
    EXPECT_EQ(TPicture::FindGraphicClass("gif"), &kPluginGraphic);
  }
  // The host frees its modules.
  EXPECT_FALSE(DynamicLibrary::IsLoaded(png));
  EXPECT_FALSE(DynamicLibrary::IsLoaded(gif));
}

}  // namespace
}  // namespace kevrale
