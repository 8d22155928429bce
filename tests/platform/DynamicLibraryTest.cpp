// Loading shared libraries: the loader's path, symbols of the library
// itself, one shared handle per file, failures without a crash.
#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"

namespace kevrale {
namespace {

using test::CopySpi;
using test::TempFolder;
using test::WriteText;

TEST(DynamicLibraryTest, LoadsAndReportsItsPath) {
  TempFolder temp;
  const std::string path = CopySpi("in_png", temp.Path());
  std::string error = "untouched";
  DynamicLibrary library = DynamicLibrary::Open(path, &error);
  ASSERT_TRUE(library) << error;
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(library.Path(), path);
  EXPECT_TRUE(DynamicLibrary::IsLoaded(path));
  library.Close();
  EXPECT_FALSE(library);
  EXPECT_FALSE(DynamicLibrary::IsLoaded(path));
}

TEST(DynamicLibraryTest, RelativeNameGivesAbsolutePath) {
  TempFolder temp;
  const std::string path = CopySpi("in_png", temp.Path());
  test::ScopedCurrentFolder cwd(temp.Path());
  DynamicLibrary library = DynamicLibrary::Open("./in_png.spi");
  ASSERT_TRUE(library);
  EXPECT_EQ(library.Path(), path);
}

TEST(DynamicLibraryTest, FindsOnlyItsOwnSymbols) {
  DynamicLibrary library = DynamicLibrary::Open(test::TestSpi("in_nopreview"));
  ASSERT_TRUE(library);
  EXPECT_NE(library.Symbol("GetPluginInfo"), nullptr);
  EXPECT_NE(library.Symbol("GetPicture"), nullptr);
  EXPECT_EQ(library.Symbol("GetPreview"), nullptr);
  EXPECT_EQ(library.Symbol("getplugininfo"), nullptr);  // names are exact
  // Defined by a library it depends on, not by itself.
  EXPECT_EQ(library.Symbol("LocalAlloc"), nullptr);
  EXPECT_EQ(library.Symbol("malloc"), nullptr);
}

TEST(DynamicLibraryTest, SameFileSharesOneCountedHandle) {
  const std::string path = test::TestSpi("in_gif");
  DynamicLibrary first = DynamicLibrary::Open(path);
  DynamicLibrary second = DynamicLibrary::Open(path);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first.Handle(), second.Handle());
  first.Close();
  EXPECT_TRUE(DynamicLibrary::IsLoaded(path));  // the second reference holds it
  EXPECT_NE(second.Symbol("GetPluginInfo"), nullptr);
  second.Close();
  EXPECT_FALSE(DynamicLibrary::IsLoaded(path));
}

TEST(DynamicLibraryTest, MoveHandsOverTheReference) {
  const std::string path = test::TestSpi("xn");
  DynamicLibrary a = DynamicLibrary::Open(path);
  void* handle = a.Handle();
  DynamicLibrary b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(b.Handle(), handle);
  DynamicLibrary c;
  c = std::move(b);
  EXPECT_EQ(c.Handle(), handle);
  EXPECT_TRUE(DynamicLibrary::IsLoaded(path));
  c = DynamicLibrary();
  EXPECT_FALSE(DynamicLibrary::IsLoaded(path));
}

TEST(DynamicLibraryTest, FailuresGiveAnEmptyOwnerAndAReason) {
  TempFolder temp;
  const std::string text = temp.Path() + "/notalib.spi";
  WriteText(text, "this is not a shared library\n");
  for (const std::string& name :
       {text, temp.Path() + "/missing.spi", std::string(), std::string("a\0b", 3), temp.Path()}) {
    std::string error;
    DynamicLibrary library = DynamicLibrary::Open(name, &error);
    EXPECT_FALSE(library) << name;
    EXPECT_FALSE(error.empty()) << name;
    EXPECT_EQ(library.Path(), "");
    EXPECT_EQ(library.Symbol("GetPluginInfo"), nullptr);
  }
  EXPECT_FALSE(DynamicLibrary::IsLoaded(temp.Path() + "/missing.spi"));
}

}  // namespace
}  // namespace kevrale
