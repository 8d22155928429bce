// kevrale-bench-images FOLDER [NAME...]: writes the benchmark pictures as
// 24-bit BMP files (NAME.bmp), for timing the whole command-line program.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "BenchImages.h"
#include "picture/TPicture.h"

int main(int argc, char** argv) {
  using namespace kevrale;
  using namespace kevrale::bench;
  if (argc < 2) {
    std::fprintf(stderr, "usage: kevrale-bench-images FOLDER [NAME...]\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<const ImageRecipe*> chosen;
  for (int i = 2; i < argc; ++i) {
    const ImageRecipe* r = FindImage(argv[i]);
    if (r == nullptr) {
      std::fprintf(stderr, "kevrale-bench-images: no picture named %s\n", argv[i]);
      return 2;
    }
    chosen.push_back(r);
  }
  if (chosen.empty())
    for (const ImageRecipe& r : StandardImages()) chosen.push_back(&r);
  try {
    for (const ImageRecipe* r : chosen) {
      TPicture picture;
      picture.SetGraphic(std::make_unique<TBitmap>(MakeImage(*r)));
      const std::string path = folder + "/" + r->name + ".bmp";
      picture.SaveToFile(path);
      std::printf("%s\n", path.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kevrale-bench-images: %s\n", e.what());
    return 1;
  }
  return 0;
}
