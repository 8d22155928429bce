// kevrale-thin with the bundled import plug-ins of the program's folder:
// the formats it lists, pictures in those formats thinned like BMP
// pictures, libraries of the plug-in folder that are skipped with a
// warning, and Windows plug-ins listed with their machine type.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "CliProcess.h"
#include "Drawings.h"
#include "Files.h"
#include "TestPlugins.h"
#include "ipc/PluginInfoCache.h"
#include "ipc/WineSetup.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "plugins/SpiLibrary.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::Quote;
using test::RunCli;
using test::RunCommand;
using test::RunResult;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class PluginRunTest : public test::CliFolderTest {
 protected:
  // drawing::CrossingStrokes() as a BMP file.
  std::string WriteStrokes(const std::string& name) {
    drawing::CrossingStrokes().SaveToFile(Path(name));
    return Path(name);
  }

  // The BMP file converted by ImageMagick into the format of `name`.
  std::string Convert(const std::string& bmp, const std::string& name,
                      const std::string& args = "") {
    const RunResult r = RunCommand("convert " + Quote(bmp) + " " + args + " " + Quote(Path(name)));
    EXPECT_EQ(r.status, 0) << r.output;
    return Path(name);
  }

  // The pixels that the engine makes of the BMP picture, as the CLI saves them.
  TBitmap ThinnedInProcess(const std::string& bmp) {
    TPicture picture;
    picture.LoadFromFile(bmp);
    EXPECT_EQ(RunThinning(picture, clBlack, clWhite), ThinningResult::Thinned);
    return TBitmap(picture.Bitmap());
  }

  static void ExpectSamePixels(const TBitmap& a, const std::string& path) {
    TBitmap b;
    b.LoadFromFile(path);
    ASSERT_EQ(a.Width(), b.Width()) << path;
    ASSERT_EQ(a.Height(), b.Height()) << path;
    int differing = 0;
    for (int y = 0; y < a.Height(); ++y)
      for (int x = 0; x < a.Width(); ++x) differing += a.Pixel(x, y) != b.Pixel(x, y);
    EXPECT_EQ(differing, 0) << path;
  }
};

TEST_F(PluginRunTest, FormatsListsThePluginKindsNewestFirstWithTheirFiles) {
  const RunResult r = RunCli("--formats");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> lines = Lines(r.output);
  ASSERT_GE(lines.size(), 4u) << r.output;
  // The confinement of the plug-in processes comes first.
  EXPECT_TRUE(lines[0].starts_with("(confinement)\tLinux plug-in processes: no_new_privs"))
      << r.output;
  // The four built-in kinds close the list, the oldest last.
  const size_t n = lines.size();
  EXPECT_TRUE(lines[n - 1].starts_with("wmf\t")) << r.output;
  EXPECT_TRUE(lines[n - 2].starts_with("emf\t")) << r.output;
  EXPECT_TRUE(lines[n - 3].starts_with("ico\t")) << r.output;
  EXPECT_TRUE(lines[n - 4].starts_with("bmp\t")) << r.output;
  EXPECT_TRUE(lines[n - 1].ends_with("\t(built in)")) << r.output;
  // Every plug-in extension comes before them, naming its file.
  for (const char* extension : {"png", "jpg", "jpeg", "gif", "tif", "tiff", "webp"}) {
    bool found = false;
    for (size_t i = 0; i + 4 < n; ++i)
      if (lines[i].starts_with(std::string(extension) + "\t")) {
        found = true;
        EXPECT_TRUE(Contains(lines[i], KEVRALE_BIN_DIR "/plugins/if")) << lines[i];
        EXPECT_TRUE(lines[i].ends_with(".spi")) << lines[i];
      }
    EXPECT_TRUE(found) << extension << " missing in\n" << r.output;
  }
}

TEST_F(PluginRunTest, PluginFormatsAreThinnedLikeBitmaps) {
  const std::string bmp = WriteStrokes("strokes.bmp");
  const TBitmap expected = ThinnedInProcess(bmp);
  const std::string png = Convert(bmp, "scan.png");
  const std::string gif = Convert(bmp, "scan.gif");
  const std::string tif = Convert(bmp, "scan.TIF", "-compress LZW");
  const RunResult r = RunCli(Quote(png) + " " + Quote(gif) + " " + Quote(tif));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSamePixels(expected, Path("scan_s.bmp"));  // written three times, the last one TIFF
  for (const std::string& source : {png, gif}) {
    const RunResult one = RunCli("-o " + Quote(Path("one.bmp")) + " " + Quote(source));
    ASSERT_EQ(one.status, 0) << one.output;
    ExpectSamePixels(expected, Path("one.bmp"));
  }
}

TEST_F(PluginRunTest, AListMixesPluginAndBitmapEntries) {
  const std::string bmp = WriteStrokes("a.bmp");
  const TBitmap expected = ThinnedInProcess(bmp);
  Convert(bmp, "b.png");
  // JPEG is lossy: the picture is thinned with the target colour it decodes to,
  // so only the run itself is compared here.
  Convert(bmp, "c.jpg", "-quality 100");
  std::ofstream(Path("list.txt")) << "a.bmp\nb.png\nc.jpg\n";
  for (const char* jobs : {"", "-j 2 "}) {
    const RunResult r = RunCli(std::string(jobs) + "--list " + Quote(Path("list.txt")));
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectSamePixels(expected, Path("a_s.bmp"));
    ExpectSamePixels(expected, Path("b_s.bmp"));
    TBitmap jpeg;
    jpeg.LoadFromFile(Path("c_s.bmp"));
    EXPECT_EQ(jpeg.Width(), 40);
    EXPECT_EQ(jpeg.Height(), 30);
    for (const char* name : {"a_s.bmp", "b_s.bmp", "c_s.bmp"}) fs::remove(Path(name));
  }
}

TEST_F(PluginRunTest, BrokenPluginFilesAreRefusedInTheProgramsWords) {
  std::ofstream(Path("half.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n";
  const RunResult r = RunCli(Quote(Path("half.png")));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      Contains(r.output, "kevrale-thin: " + Path("half.png") + ": Susie Plugins could not decode"))
      << r.output;
  EXPECT_FALSE(fs::exists(Path("half_s.bmp")));
}

TEST_F(PluginRunTest, UnusableLibrariesAreSkippedWithAWarningAndTheRunGoesOn) {
  // The Susie folder setting names a folder holding a library that is no
  // plug-in and a file that is no library at all.
  fs::create_directories(dir_.File("config/Dravello"));
  fs::create_directories(dir_.File("plugins"));
  const std::string library = dir_.File("plugins/notaplugin.spi");
  const std::string text = dir_.File("plugins/text.spi");
  fs::copy_file(KEVRALE_BIN_DIR "/libkevrale-localmem.so.1", library);
  std::ofstream(text) << "not a library";
  std::ofstream(dir_.File("config/Dravello/Susie.conf"))
      << "[Plug-in]\nPath=" << dir_.File("plugins") << "\n";
  const std::string thin = "XDG_CONFIG_HOME=" + Quote(dir_.File("config")) + " " +
                           Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " ";
  // Each line names its file once, though message and reason both hold it.
  const std::string warning_api =
      "kevrale-thin: warning: GetPluginInfoは[" + library + "]では使えないSusie Plugin APIです";
  const std::string warning_load =
      "kevrale-thin: warning: " + text + ":Susie Pluginがロードできませんでした: ";

  const std::string bmp = WriteStrokes("x.bmp");
  const RunResult r = RunCommand(thin + Quote(bmp));
  EXPECT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> lines = Lines(r.output);
  ASSERT_EQ(lines.size(), 2u) << r.output;  // one line per library, nothing else
  EXPECT_EQ(lines[0], warning_api);
  EXPECT_TRUE(lines[1].starts_with(warning_load)) << lines[1];
  EXPECT_EQ(lines[1].find(text, warning_load.size()), std::string::npos) << lines[1];
  ExpectSamePixels(ThinnedInProcess(bmp), Path("x_s.bmp"));

  // --formats lists the formats and ends with the skipped libraries.
  const RunResult formats = RunCommand("{ " + thin + "--formats 2>/dev/null; }");
  ASSERT_EQ(formats.status, 0) << formats.output;
  const std::vector<std::string> listed = Lines(formats.output);
  ASSERT_GE(listed.size(), 6u) << formats.output;
  const size_t n = listed.size();
  EXPECT_TRUE(listed[n - 3].starts_with("wmf\t")) << formats.output;
  EXPECT_EQ(listed[n - 2], "(skipped)\tGetPluginInfoは[" + library +
                               "]では使えないSusie Plugin APIです\t" + library);
  EXPECT_TRUE(listed[n - 1].starts_with("(skipped)\tSusie Plugin")) << listed[n - 1];
  EXPECT_TRUE(listed[n - 1].ends_with("\t" + text)) << listed[n - 1];
}

TEST_F(PluginRunTest, PluginFileNamesAreEscapedInWarningsAndTheFormatList) {
  // A plug-in folder whose file names hold a lone CSI byte, a C1 control
  // and a right-to-left override.
  fs::create_directories(dir_.File("config/Dravello"));
  fs::create_directories(dir_.File("plugins"));
  std::ofstream(
      dir_.File("plugins/a\x9b"
                "2Jb.spi"))
      << "not a library";
  std::ofstream(
      dir_.File("plugins/c\xc2\x9b"
                "2Jd.spi"))
      << "not a library";
  std::ofstream(
      dir_.File("plugins/e\xe2\x80\xae"
                "ipsf.spi"))
      << "not a library";
  std::ofstream(dir_.File("config/Dravello/Susie.conf"))
      << "[Plug-in]\nPath=" << dir_.File("plugins") << "\n";
  const std::string thin = "XDG_CONFIG_HOME=" + Quote(dir_.File("config")) + " " +
                           Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " ";
  for (const std::string& args : {Quote(WriteStrokes("x.bmp")), std::string("--formats")}) {
    SCOPED_TRACE(args);
    const RunResult r = RunCommand(thin + args);
    EXPECT_EQ(r.status, 0) << r.output;
    // (0x9B also ends the UTF-8 of a Japanese character of the message.)
    for (const char* raw : {"a\x9b"
                            "2Jb",
                            "c\xc2\x9b"
                            "2Jd",
                            "e\xe2\x80\xae"
                            "ipsf"})
      EXPECT_EQ(r.output.find(raw), std::string::npos) << r.output;
    for (const char* shown : {"/plugins/a?2Jb.spi", "/plugins/c?2Jd.spi", "/plugins/e?ipsf.spi"})
      EXPECT_TRUE(Contains(r.output, shown)) << r.output;
  }
}

TEST_F(PluginRunTest, WindowsPluginsAreListedWithTheirMachineType) {
  // A Windows plug-in known from the cache: listed without starting Wine,
  // or, where Wine or the bridge is missing, skipped with that reason.
  fs::create_directories(dir_.File("config/Dravello"));
  fs::create_directories(dir_.File("plugins"));
  const std::string dll = dir_.File("plugins/ifwin.spi");
  test::WriteWindowsDllHeader(dll);
  PluginInfoRecord record;
  record.Exports = uint32_t(SpiEntry::GetPluginInfo) | uint32_t(SpiEntry::IsSupported) |
                   uint32_t(SpiEntry::GetPictureInfo) | uint32_t(SpiEntry::GetPicture);
  record.Answers = {{0, 255, 4, "00IN"},
                    {1, 255, 3, "win"},
                    {2, 255, 5, "*.win"},
                    {3, 255, 3, "WIN"},
                    {4, 255, 0, ""}};
  PluginInfoCache(dir_.File("cache/kevrale")).Store(dll, record);
  std::ofstream(dir_.File("config/Dravello/Susie.conf"))
      << "[Plug-in]\nPath=" << dir_.File("plugins") << "\n";
  const RunResult r = RunCommand("XDG_CONFIG_HOME=" + Quote(dir_.File("config")) +
                                 " XDG_CACHE_HOME=" + Quote(dir_.File("cache")) + " " +
                                 Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " --formats");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> lines = Lines(r.output);
  ASSERT_GE(lines.size(), 2u);  // after the confinement line
  const WineOptions wine;
  const bool runnable =
      fs::exists(wine.loader64) && fs::exists(KEVRALE_BIN_DIR "/kevrale-spi-bridge64.exe");
  if (runnable) {
    EXPECT_EQ(lines[1], "win\tWIN\t" + dll + "\tWindows AMD64") << r.output;
  } else {
    EXPECT_TRUE(lines.back().starts_with("(skipped)\t" + dll +
                                         ": the plug-in process could not be started: "))
        << r.output;
  }
}

}  // namespace
}  // namespace kevrale
