// The SVG writer: the path data of polylines, and the document around them.
#include "picture/SvgWriter.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Stream.h"

namespace kevrale {
namespace {

std::string PathData(std::vector<PixelPoint> points, bool closed = false) {
  return SvgPathData({std::move(points), closed});
}

std::string Document(int width, int height, TColor stroke,
                     const std::vector<PixelPolyline>& polylines) {
  TMemoryStream stream;
  WriteSvg(stream, width, height, stroke, polylines);
  return std::string(stream.Data().begin(), stream.Data().end());
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SvgWriter, PathDataThroughPixelCentres) {
  // A lone pixel is a segment of length zero, drawn as a dot.
  EXPECT_EQ(PathData({{2, 3}}), "M2.5 3.5h0");
  EXPECT_EQ(PathData({{0, 0}, {4, 0}, {4, 3}, {2, 5}}), "M0.5 0.5h4v3l-2 2");
  EXPECT_EQ(PathData({{10, 10}, {7, 10}, {7, 2}}), "M10.5 10.5h-3v-8");
  // A repeated command leaves out its letter; a minus sign needs no space.
  EXPECT_EQ(PathData({{0, 0}, {1, 1}, {2, 0}, {3, 1}}), "M0.5 0.5l1 1 1-1 1 1");
  EXPECT_EQ(PathData({{0, 0}, {2, 0}, {5, 0}, {4, 0}}), "M0.5 0.5h2 3-1");
  EXPECT_EQ(PathData({{1, 0}, {4, 0}, {5, 1}, {1, 3}}, true), "M1.5 0.5h3l1 1-4 2z");
  // Centres of columns and rows before the first are written exactly.
  EXPECT_EQ(PathData({{-1, -2}, {0, 0}}), "M-0.5 -1.5l1 2");
  EXPECT_EQ(PathData({{12499, 99999}, {0, 0}}), "M12499.5 99999.5l-12499-99999");
  EXPECT_EQ(PathData({}), "");
}

TEST(SvgWriter, DocumentOfThePicturesSize) {
  const std::string svg = Document(360, 240, RGB(0x12, 0x34, 0xAB),
                                   {{{{1, 1}, {5, 1}}, false},
                                    {{}, false},
                                    {{{7, 7}}, false},
                                    {{{0, 2}, {2, 2}, {1, 3}}, true}});
  EXPECT_TRUE(
      svg.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"360\" "
                      "height=\"240\" viewBox=\"0 0 360 240\">\n"))
      << svg;
  EXPECT_TRUE(svg.ends_with("</svg>\n"));
  // One path per polyline with points, each with the whole style.
  EXPECT_EQ(Count(svg, "<path "), 3u);
  EXPECT_EQ(Count(svg,
                  " fill=\"none\" stroke=\"#1234ab\" stroke-width=\"1\" "
                  "stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"M"),
            3u);
  EXPECT_NE(svg.find("d=\"M0.5 2.5h2l-1 1z\"/>"), std::string::npos) << svg;

  const std::string empty = Document(5, 4, clBlack, {});
  EXPECT_EQ(empty,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"5\" height=\"4\" "
            "viewBox=\"0 0 5 4\">\n</svg>\n");
}

TEST(SvgWriter, LongDocumentsAreWrittenWhole) {
  // Far more than one block of output.
  std::vector<PixelPolyline> many;
  for (int i = 0; i < 20000; ++i) many.push_back({{{i, i}, {i + 3, i}}, false});
  const std::string svg = Document(30000, 30000, clBlack, many);
  EXPECT_EQ(Count(svg, "<path "), many.size());
  EXPECT_NE(svg.find("d=\"M19999.5 19999.5h3\"/>\n</svg>\n"), std::string::npos);
}

}  // namespace
}  // namespace kevrale
