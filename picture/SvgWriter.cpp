#include "picture/SvgWriter.h"

#include <charconv>
#include <initializer_list>
#include <string>

#include "platform/Stream.h"

namespace kevrale {

namespace {

// Output is gathered in blocks of about this size before it is written.
constexpr size_t kBlock = 64 * 1024;

void AppendInt(std::string& out, long long value) {
  char text[24];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  out.append(text, end);
}

// The centre of pixel column or row v: v + 0.5, written exactly.
void AppendCentre(std::string& out, int v) {
  if (v < 0) {
    out += '-';
    AppendInt(out, -(long long)v - 1);
  } else {
    AppendInt(out, v);
  }
  out += ".5";
}

// Appends one command with its numbers, leaving out the letter when it
// repeats the previous command and the separator before a minus sign.
class PathData {
 public:
  explicit PathData(std::string& out) : out_(out) {}

  void Command(char letter, std::initializer_list<long long> numbers) {
    bool first = true;
    if (letter != last_) {
      out_ += letter;
      last_ = letter;
    } else {
      first = false;
    }
    for (const long long n : numbers) {
      if (!first && n >= 0) out_ += ' ';
      AppendInt(out_, n);
      first = false;
    }
  }
  void Move(int x, int y) {
    out_ += 'M';
    AppendCentre(out_, x);
    out_ += ' ';
    AppendCentre(out_, y);
    last_ = 'M';
  }
  void Close() {
    out_ += 'z';
    last_ = 'z';
  }

 private:
  std::string& out_;
  char last_ = 0;
};

void AppendPathData(std::string& out, const PixelPolyline& polyline) {
  const std::vector<PixelPoint>& p = polyline.points;
  PathData d(out);
  d.Move(p[0].x, p[0].y);
  // A lone point is a segment of length zero, which round caps draw as a dot.
  if (p.size() == 1) d.Command('h', {0});
  for (size_t i = 1; i < p.size(); ++i) {
    const long long dx = (long long)p[i].x - p[i - 1].x;
    const long long dy = (long long)p[i].y - p[i - 1].y;
    if (dy == 0)
      d.Command('h', {dx});
    else if (dx == 0)
      d.Command('v', {dy});
    else
      d.Command('l', {dx, dy});
  }
  if (polyline.closed) d.Close();
}

void AppendHex(std::string& out, uint8_t byte) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

}  // namespace

std::string SvgPathData(const PixelPolyline& polyline) {
  std::string out;
  if (!polyline.points.empty()) AppendPathData(out, polyline);
  return out;
}

void WriteSvg(TStream& stream, int width, int height, TColor stroke,
              const std::vector<PixelPolyline>& polylines) {
  std::string out;
  out.reserve(kBlock + 1024);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
  AppendInt(out, width);
  out += "\" height=\"";
  AppendInt(out, height);
  out += "\" viewBox=\"0 0 ";
  AppendInt(out, width);
  out += ' ';
  AppendInt(out, height);
  out += "\">\n";

  std::string style = "<path fill=\"none\" stroke=\"#";
  AppendHex(style, GetRValue(stroke));
  AppendHex(style, GetGValue(stroke));
  AppendHex(style, GetBValue(stroke));
  style +=
      "\" stroke-width=\"1\" stroke-linecap=\"round\" stroke-linejoin=\"round\" "
      "d=\"";
  for (const PixelPolyline& polyline : polylines) {
    if (polyline.points.empty()) continue;
    out += style;
    AppendPathData(out, polyline);
    out += "\"/>\n";
    if (out.size() >= kBlock) {
      stream.WriteBuffer(out.data(), out.size());
      out.clear();
    }
  }
  out += "</svg>\n";
  stream.WriteBuffer(out.data(), out.size());
}

}  // namespace kevrale
