// The extension module under the Python package `kevrale` (whose
// __init__.py gives the functions their signatures and documentation): the
// thinning engine on NumPy arrays. Each call runs the steps of kevrale-thin
// on a whole picture (thinning, pruning, tracing for the SVG result) on a
// copy of its array, with the interpreter's lock released, and hands back
// new arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "batch/BatchRun.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/SkeletonSvg.h"
#include "thinning/SpurPruning.h"
#include "thinning/TargetRule.h"
#include "thinning/ThinningEngine.h"
#include "thinning/ThinningRows.h"

namespace py = pybind11;

namespace kevrale::python {

namespace {

// ---- Options -------------------------------------------------------------

// An integer argument (a Python int or a NumPy integer, not a bool nor a
// float); one beyond the range of long long comes back as its nearest end.
long long IntegerArgument(const py::handle& value, const std::string& name) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
    throw py::type_error(name + " must be an integer, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
  const py::int_ number(py::reinterpret_borrow<py::object>(value));
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
  return v;
}

int IntegerInRange(const py::handle& value, const std::string& name, long long low, long long high,
                   const char* range_text) {
  const long long v = IntegerArgument(value, name);
  if (v < low || v > high)
    throw py::value_error(name + " must be " + range_text + ", got " + std::string(py::str(value)));
  return int(v);
}

// (red, green, blue), each 0..255, as 0x00BBGGRR.
TColor ColourArgument(const py::handle& value, const char* name) {
  const std::string what =
      std::string(name) + " must be a sequence of three integers 0..255 (red, green, blue)";
  if (py::isinstance<py::str>(value) || !PySequence_Check(value.ptr())) throw py::type_error(what);
  const py::sequence seq = py::reinterpret_borrow<py::sequence>(value);
  if (seq.size() != 3)
    throw py::value_error(what + ", got " + std::to_string(seq.size()) + " items");
  uint8_t rgb[3];
  for (size_t i = 0; i < 3; ++i) {
    const py::object item = seq[i];
    if (PyBool_Check(item.ptr()) || !PyIndex_Check(item.ptr())) throw py::type_error(what);
    const long long v = IntegerArgument(item, name);
    if (v < 0 || v > 255) throw py::value_error(what + ", got " + std::string(py::str(item)));
    rgb[i] = uint8_t(v);
  }
  return RGB(rgb[0], rgb[1], rgb[2]);
}

// sweeps: a count from 1 on, or "all" (until a sweep removes nothing).
int SweepsArgument(const py::handle& value) {
  if (py::isinstance<py::str>(value)) {
    if (value.cast<std::string>() == "all") return kSweepsAll;
    throw py::value_error("sweeps must be a positive integer or \"all\", got \"" +
                          value.cast<std::string>() + "\"");
  }
  return IntegerInRange(value, "sweeps", 1, 1 << 30, "a positive integer or \"all\"");
}

// What one call asks of the engine.
struct RunOptions {
  TColor target = clBlack;
  TColor surround = clWhite;
  ThinningOptions thinning;
  int prune = 0;
};

RunOptions EngineOptions(const py::handle& tolerance, const py::handle& sweeps,
                         const py::handle& prune) {
  RunOptions o;
  o.thinning.tolerance = IntegerInRange(tolerance, "tolerance", 0, kMaxTolerance, "0..255");
  o.thinning.sweeps = SweepsArgument(sweeps);
  o.prune = IntegerInRange(prune, "prune", 0, 1 << 30, "0 or more");
  return o;
}

// ---- Arrays --------------------------------------------------------------

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(a.shape(i));
  }
  return text + (a.ndim() == 1 ? ",)" : ")");
}

py::array ArrayArgument(const py::handle& value, const char* name) {
  if (!py::isinstance<py::array>(value))
    throw py::type_error(std::string(name) + " must be a NumPy array, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
  return py::reinterpret_borrow<py::array>(value);
}

// The message of a picture too wide to thin, its line breaks as "\n".
std::string WidthMessage() {
  std::string message = kThinningWidthMessage;
  for (char& c : message)
    if (c == '\r') c = '\n';
  return message;
}

// Refuses a picture the engine cannot take, with the program's own message
// for one too wide.
void CheckSize(py::ssize_t width, py::ssize_t height) {
  if (width > kMaxThinningWidth) throw py::value_error(WidthMessage());
  if (height > TBitmap::kMaxPixels || (width > 0 && height > TBitmap::kMaxPixels / width))
    throw py::value_error("image of " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels is too large: at most " + std::to_string(TBitmap::kMaxPixels) +
                          " pixels");
}

// An H x W x 3 (RGB) or H x W x 4 (RGBA) array of uint8, any strides.
struct ImageView {
  const uint8_t* data;
  int width, height, channels;
  py::ssize_t row_step, column_step, channel_step;
};

ImageView ImageArgument(const py::array& image, const char* name) {
  if (image.dtype().kind() != 'u' || image.itemsize() != 1)
    throw py::type_error(std::string(name) + " must be an array of uint8, not " +
                         std::string(py::str(image.dtype())));
  if (image.ndim() != 3 || (image.shape(2) != 3 && image.shape(2) != 4))
    throw py::value_error(std::string(name) +
                          " must have shape (height, width, 3) for RGB or (height, width, 4) "
                          "for RGBA, got " +
                          ShapeText(image));
  CheckSize(image.shape(1), image.shape(0));
  return {static_cast<const uint8_t*>(image.data()),
          int(image.shape(1)),
          int(image.shape(0)),
          int(image.shape(2)),
          image.strides(0),
          image.strides(1),
          image.strides(2)};
}

// The image as a bitmap: B G R, and A for RGBA.
TBitmap BitmapOfImage(const ImageView& v) {
  TBitmap bitmap;
  bitmap.Allocate(v.width, v.height,
                  v.channels == 4 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  for (int y = 0; y < v.height; ++y) {
    const uint8_t* in = v.data + y * v.row_step;
    uint8_t* out = bitmap.ScanLine(y);
    for (int x = 0; x < v.width; ++x, in += v.column_step, out += v.channels) {
      out[0] = in[2 * v.channel_step];
      out[1] = in[v.channel_step];
      out[2] = in[0];
      if (v.channels == 4) out[3] = in[3 * v.channel_step];
    }
  }
  return bitmap;
}

// The bitmap's pixels into a C-contiguous H x W x channels array; a
// 24-bit bitmap read into four channels is opaque.
void CopyBitmapToImage(const TBitmap& bitmap, uint8_t* out, int channels) {
  const int from = bitmap.BytesPerPixel();
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* in = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, in += from, out += channels) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (channels == 4) out[3] = from == 4 ? in[3] : 255;
    }
  }
}

// A 2-D mask as a bitmap: the shape black (the target colour), the rest
// white. Any dtype whose values compare with zero is read as nonzero or not.
TBitmap BitmapOfMask(const py::array& mask_argument, const char* name) {
  const char kind = mask_argument.dtype().kind();
  if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f')
    throw py::type_error(std::string(name) + " must be an array of bool, integers or floats, not " +
                         std::string(py::str(mask_argument.dtype())));
  if (mask_argument.ndim() != 2)
    throw py::value_error(std::string(name) + " must be a 2-D array (height, width), got shape " +
                          ShapeText(mask_argument));
  CheckSize(mask_argument.shape(1), mask_argument.shape(0));
  // Booleans are read as they lie; other values become booleans first.
  const py::array mask =
      kind == 'b'
          ? mask_argument
          : py::module_::import("numpy").attr("not_equal")(mask_argument, 0).cast<py::array>();
  const auto* data = static_cast<const uint8_t*>(mask.data());
  const int width = int(mask.shape(1)), height = int(mask.shape(0));
  const py::ssize_t row_step = mask.strides(0), column_step = mask.strides(1);
  TBitmap bitmap;
  {
    py::gil_scoped_release unlocked;
    bitmap.Allocate(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) {
      const uint8_t* in = data + y * row_step;
      uint8_t* out = bitmap.ScanLine(y);
      for (int x = 0; x < width; ++x, in += column_step, out += 3)
        out[0] = out[1] = out[2] = *in ? 0 : 255;
    }
  }
  return bitmap;
}

// ---- Runs ----------------------------------------------------------------

// The rows of thin()'s result, thinned in place by the engine's sweeps:
// each row of the image is copied into the result (widened to RGBA when
// the result has alpha and the image not) as the engine loads it, so that
// it is read from memory once. The bytes stay in R G B (A) order: the
// engine treats the three colour channels alike, so it gets the colours
// with red and blue swapped.
class ArrayRows final : public ThinningRows {
 public:
  ArrayRows(const uint8_t* source, int source_channels, uint8_t* result, int result_channels,
            int width)
      : source_(source),
        result_(result),
        source_channels_(source_channels),
        result_channels_(result_channels),
        width_(size_t(width)) {}

  SweepRow Load(int y) override {
    const uint8_t* in = SourceRow(y);
    uint8_t* out = ResultRow(y);
    if (source_channels_ == result_channels_) {
      std::memcpy(out, in, width_ * size_t(result_channels_));
    } else {
      for (size_t x = 0; x < width_; ++x, in += 3, out += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 255;
      }
    }
    return {ResultRow(y), result_channels_};
  }
  SweepRow Output(int y, bool) override { return {ResultRow(y), result_channels_}; }
  void Done(int, bool) override {}

 private:
  uint8_t* ResultRow(int y) const {
    return result_ + size_t(y) * width_ * size_t(result_channels_);
  }
  const uint8_t* SourceRow(int y) const {
    return source_ + size_t(y) * width_ * size_t(source_channels_);
  }

  const uint8_t* source_;
  uint8_t* result_;
  int source_channels_;
  int result_channels_;
  size_t width_;
};

constexpr TColor SwapRedBlue(TColor c) {
  return RGB(GetBValue(c), GetGValue(c), GetRValue(c));
}

// Thins and prunes the bitmap as kevrale-thin does a whole picture, and
// gives the rule of the pixels that stay lines. Called without the lock.
TargetRule Thin(TBitmap& bitmap, const RunOptions& o) {
  if (bitmap.Width() == 0 || bitmap.Height() == 0)
    return {.target = o.target & kColorMask, .tolerance = o.thinning.tolerance};
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(std::move(bitmap)));
  // CheckSize refused a picture too wide before the lock was released.
  if (RunThinning(picture, o.target, o.surround, o.thinning) == ThinningResult::TooWide)
    throw py::value_error(WidthMessage());
  TBitmap& result = picture.Bitmap();
  const TargetRule rule{.target = o.target & kColorMask,
                        .tolerance = o.thinning.tolerance,
                        .alpha = result.HasAlpha()};
  if (o.prune > 0) PruneSpurs(result, rule, o.surround, o.thinning.transparent_surround, o.prune);
  bitmap = std::move(result);
  return rule;
}

py::array_t<uint8_t> ThinImage(const py::object& image_argument, const py::object& target,
                               const py::object& surround, const py::object& tolerance,
                               const py::object& sweeps, const py::object& prune) {
  const py::array image = ArrayArgument(image_argument, "image");
  const ImageView view = ImageArgument(image, "image");
  RunOptions o = EngineOptions(tolerance, sweeps, prune);
  o.target = ColourArgument(target, "target");
  if (surround.is_none())
    o.thinning.transparent_surround = true;
  else
    o.surround = ColourArgument(surround, "surround (or None)");

  // A transparent surround needs alpha: the result then has four channels.
  const int channels = o.thinning.transparent_surround ? 4 : view.channels;
  py::array_t<uint8_t> result(
      {py::ssize_t(view.height), py::ssize_t(view.width), py::ssize_t(channels)});
  uint8_t* out = result.mutable_data();
  if (o.prune > 0) {
    // Pruning works on a bitmap.
    {
      py::gil_scoped_release unlocked;
      TBitmap bitmap = BitmapOfImage(view);
      Thin(bitmap, o);
      CopyBitmapToImage(bitmap, out, channels);
    }
    return result;
  }
  // The engine's sweeps straight from the image's rows into the result's.
  const py::array source =
      image.flags() & py::array::c_style
          ? image
          : py::module_::import("numpy").attr("ascontiguousarray")(image).cast<py::array>();
  {
    py::gil_scoped_release unlocked;
    ArrayRows rows(static_cast<const uint8_t*>(source.data()), view.channels, out, channels,
                   view.width);
    ThinRows(rows, view.width, view.height, SwapRedBlue(o.target), SwapRedBlue(o.surround),
             o.thinning, view.channels == 4);
  }
  return result;
}

// The seconds that the engine alone (thinning and pruning) takes on the
// image with the options of thin(), for the benchmark that sets it against
// thin() as a whole.
double EngineSeconds(const py::object& image_argument, const py::object& tolerance,
                     const py::object& sweeps, const py::object& prune) {
  const py::array image = ArrayArgument(image_argument, "image");
  const ImageView view = ImageArgument(image, "image");
  const RunOptions o = EngineOptions(tolerance, sweeps, prune);
  py::gil_scoped_release unlocked;
  TBitmap bitmap = BitmapOfImage(view);
  const auto start = std::chrono::steady_clock::now();
  Thin(bitmap, o);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

py::array_t<bool> Skeletonize(const py::object& mask_argument, const py::object& sweeps,
                              const py::object& prune) {
  const py::array mask = ArrayArgument(mask_argument, "mask");
  const RunOptions o = EngineOptions(py::int_(0), sweeps, prune);
  TBitmap bitmap = BitmapOfMask(mask, "mask");
  py::array_t<bool> result({mask.shape(0), mask.shape(1)});
  bool* out = result.mutable_data();
  {
    py::gil_scoped_release unlocked;
    Thin(bitmap, o);
    for (int y = 0; y < bitmap.Height(); ++y) {
      const uint8_t* in = bitmap.ScanLine(y);
      for (int x = 0; x < bitmap.Width(); ++x, in += 3) *out++ = in[0] == 0;
    }
  }
  return result;
}

py::list Trace(const py::object& argument, const py::object& target, const py::object& tolerance,
               const py::object& sweeps, const py::object& prune, const py::object& simplify) {
  const py::array array = ArrayArgument(argument, "image_or_mask");
  RunOptions o = EngineOptions(tolerance, sweeps, prune);
  SvgOptions svg;
  if (PyBool_Check(simplify.ptr()) || !PyNumber_Check(simplify.ptr()) ||
      py::isinstance<py::str>(simplify))
    throw py::type_error("simplify must be a number of pixels");
  svg.simplify = py::float_(simplify).cast<double>();
  if (!std::isfinite(svg.simplify) || svg.simplify < 0)
    throw py::value_error("simplify must be a finite distance of 0 or more pixels, got " +
                          std::string(py::str(simplify)));
  // Removed pixels become transparent, so that they can never count as the
  // target colour again, whatever the target is.
  o.thinning.transparent_surround = true;

  TBitmap bitmap;
  if (array.ndim() == 2) {
    bitmap = BitmapOfMask(array, "image_or_mask");
  } else {
    if (array.ndim() != 3)
      throw py::value_error(
          "image_or_mask must be a 2-D mask or an image of shape (height, width, 3 or 4), got "
          "shape " +
          ShapeText(array));
    const ImageView view = ImageArgument(array, "image_or_mask");
    o.target = ColourArgument(target, "target");
    py::gil_scoped_release unlocked;
    bitmap = BitmapOfImage(view);
  }
  std::vector<PixelPolyline> paths;
  {
    py::gil_scoped_release unlocked;
    const TargetRule rule = Thin(bitmap, o);
    paths = SkeletonPaths(bitmap, rule, svg);
  }
  py::list result;
  for (const PixelPolyline& path : paths) {
    // A closed path ends where it began: its first point comes again.
    const size_t n = path.points.size() + (path.closed ? 1 : 0);
    py::array_t<double> points({py::ssize_t(n), py::ssize_t(2)});
    double* p = points.mutable_data();
    for (size_t i = 0; i < n; ++i) {
      const PixelPoint& point = path.points[i % path.points.size()];
      *p++ = point.x;
      *p++ = point.y;
    }
    result.append(std::move(points));
  }
  return result;
}

}  // namespace

}  // namespace kevrale::python

PYBIND11_MODULE(_kevrale, m) {
  using namespace kevrale::python;
  m.doc() = "The engine behind the functions of the package kevrale, which documents them.";
  m.def("thin", &ThinImage);
  m.def("skeletonize", &Skeletonize);
  m.def("trace", &Trace);
  m.def("engine_seconds", &EngineSeconds);
  m.attr("MAX_WIDTH") = kevrale::kMaxThinningWidth;
}
