#include "cli/Options.h"

#include <gtest/gtest.h>

namespace kevrale::cli {
namespace {

Options Parse(std::vector<std::string> args) {
  return ParseOptions(args);
}

TEST(CliOptionsTest, ColoursInBothSpellings) {
  EXPECT_EQ(ParseColor("#FF0000"), RGB(255, 0, 0));
  EXPECT_EQ(ParseColor("00ff00"), RGB(0, 255, 0));
  EXPECT_EQ(ParseColor("#0000Fe"), RGB(0, 0, 254));
  for (const char* bad : {"", "#", "FF00", "#FF00000", "GG0000", "#-10000", "0x1234"})
    EXPECT_FALSE(ParseColor(bad)) << bad;
}

TEST(CliOptionsTest, DefaultsAreBlackOnWhite) {
  const Options o = Parse({"a.bmp", "b.bmp"});
  EXPECT_EQ(o.target, clBlack);
  EXPECT_EQ(o.surround, clWhite);
  EXPECT_FALSE(o.target_at);
  EXPECT_EQ(o.images, (std::vector<std::string>{"a.bmp", "b.bmp"}));
}

TEST(CliOptionsTest, ReadsEveryOption) {
  const Options o =
      Parse({"--target-at", "3,4", "--surround", "#102030", "-o", "out.bmp", "in.bmp"});
  ASSERT_TRUE(o.target_at);
  EXPECT_EQ(o.target_at->x, 3);
  EXPECT_EQ(o.target_at->y, 4);
  EXPECT_EQ(o.surround, RGB(0x10, 0x20, 0x30));
  EXPECT_EQ(o.output, "out.bmp");
  // After "--" a name that looks like an option is an image.
  EXPECT_EQ(Parse({"--", "-odd.bmp"}).images, std::vector<std::string>{"-odd.bmp"});
}

TEST(CliOptionsTest, ToleranceAndTransparentSurround) {
  EXPECT_EQ(Parse({"a.bmp"}).thinning.tolerance, 0);
  EXPECT_FALSE(Parse({"a.bmp"}).thinning.transparent_surround);
  EXPECT_EQ(Parse({"--tolerance", "0", "a.bmp"}).thinning.tolerance, 0);
  EXPECT_EQ(Parse({"--tolerance", "255", "a.bmp"}).thinning.tolerance, 255);
  EXPECT_EQ(Parse({"--list", "l.txt", "--tolerance", "12"}).thinning.tolerance, 12);
  for (const char* bad : {"256", "-1", "", "7x", "1.5", "0x10", "99999999999"})
    EXPECT_THROW(ParseOptions({"--tolerance", bad, "a.bmp"}), UsageError) << bad;
  EXPECT_THROW(ParseOptions({"a.bmp", "--tolerance"}), UsageError);

  // "transparent" keeps the colour bytes given before; a colour after it
  // makes the surround opaque again.
  const Options clear = Parse({"--surround", "102030", "--surround", "transparent", "a.bmp"});
  EXPECT_TRUE(clear.thinning.transparent_surround);
  EXPECT_EQ(clear.surround, RGB(0x10, 0x20, 0x30));
  const Options opaque = Parse({"--surround", "transparent", "--surround", "#00FF00", "a.bmp"});
  EXPECT_FALSE(opaque.thinning.transparent_surround);
  EXPECT_EQ(opaque.surround, RGB(0, 255, 0));
  EXPECT_TRUE(
      Parse({"--list", "l.txt", "--surround", "transparent"}).thinning.transparent_surround);
  EXPECT_THROW(ParseOptions({"--surround", "Transparent", "a.bmp"}), UsageError);
}

TEST(CliOptionsTest, UsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                // no image
      {"--target"},                      // missing value
      {"--target", "red", "a.bmp"},      // not a colour
      {"--target-at", "1;2", "a.bmp"},   // not a position
      {"--target-at", "-1,2", "a.bmp"},  // negative
      {"--target", "000000", "--target-at", "1,1", "a.bmp"},
      {"-o", "x.bmp", "a.bmp", "b.bmp"},  // -o with two images
      {"--frobnicate", "a.bmp"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseOptions(args), UsageError);
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(CliOptionsTest, TheResultFormatComesFromTheOutputNameOrFormat) {
  EXPECT_EQ(ResultFormat(Parse({"a.bmp"})), TImageFileFormat::Bmp);
  EXPECT_EQ(ResultFormat(Parse({"-o", "x.svg", "a.bmp"})), TImageFileFormat::Svg);
  EXPECT_EQ(ResultFormat(Parse({"-o", "/d.svg/X.SvG", "a.bmp"})), TImageFileFormat::Svg);
  EXPECT_EQ(ResultFormat(Parse({"-o", "x.svg.bmp", "a.bmp"})), TImageFileFormat::Bmp);
  EXPECT_EQ(ResultFormat(Parse({"-o", "/d.svg/x", "a.bmp"})), TImageFileFormat::Bmp);
  EXPECT_EQ(ResultFormat(Parse({"-o", "svg", "a.bmp"})), TImageFileFormat::Bmp);
  EXPECT_EQ(ResultFormat(Parse({"--format", "SVG", "a.bmp"})), TImageFileFormat::Svg);
  EXPECT_EQ(ResultFormat(Parse({"--format", "bmp", "--list", "l.txt"})), TImageFileFormat::Bmp);
  const Options o = Parse({"--prune", "7", "--simplify", "0.75", "--format", "svg", "a.bmp"});
  EXPECT_EQ(o.prune, 7);
  EXPECT_EQ(o.simplify, 0.75);
  // A tolerance of 0 is the exact output and goes with any format.
  EXPECT_EQ(Parse({"--simplify", "0", "a.bmp"}).simplify, 0);

  const std::vector<std::vector<std::string>> bad = {
      {"--simplify", "1", "a.bmp"},                     // BMP output
      {"--simplify", "1", "--list", "l.txt"},           // BMP output
      {"--simplify", "-1", "-o", "x.svg", "a.bmp"},     // negative
      {"--simplify", "nan", "-o", "x.svg", "a.bmp"},    // not a number of pixels
      {"--simplify", "1e999", "-o", "x.svg", "a.bmp"},  // infinite
      {"--prune", "-2", "a.bmp"},                       // negative
      {"--prune", "three", "a.bmp"},                    // not a number
      {"--format", "gif", "a.bmp"},                     // no such format
      {"--format", "svg", "-o", "x.svg", "a.bmp"},      // two ways to name the format
  };
  for (const auto& args : bad) EXPECT_THROW(ParseOptions(args), UsageError) << args[0];
}

TEST(CliOptionsTest, PluginTimeoutInSecondsForEveryForm) {
  EXPECT_EQ(Parse({"a.bmp"}).plugin_timeout, 60);
  EXPECT_EQ(Parse({"--plugin-timeout", "0", "a.bmp"}).plugin_timeout, 0);
  EXPECT_EQ(Parse({"--list", "l.txt", "--plugin-timeout", "5"}).plugin_timeout, 5);
  EXPECT_EQ(Parse({"--formats", "--plugin-timeout", "86400"}).plugin_timeout, 86400);
  for (const char* bad : {"-1", "", "1.5", "86401", "5s"})
    EXPECT_THROW(ParseOptions({"--plugin-timeout", bad, "a.bmp"}), UsageError) << bad;
  EXPECT_THROW(ParseOptions({"a.bmp", "--plugin-timeout"}), UsageError);
}

}  // namespace
}  // namespace kevrale::cli
