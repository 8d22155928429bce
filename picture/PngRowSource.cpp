// The rows of a non-interlaced PNG file, decoded with libpng as the bundled
// PNG plug-in decodes them and as the bitmap then takes them: palette and
// grey pictures without transparency through their colour table (16-bit
// grey scaled to 8 bits), everything else as 8-bit RGB, with alpha where
// the file has an alpha channel or a tRNS chunk and its alpha values are
// not all 0 or all 255.
#include <png.h>

#include <array>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <vector>

#include "picture/BmpHeader.h"
#include "picture/PngFilters.h"
#include "picture/PngImageData.h"
#include "picture/RasterLayout.h"
#include "picture/RowConversions.h"
#include "picture/RowDecoders.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// One pass of libpng over the file. libpng leaves through longjmp on every
// error; a failed read is kept here and the pass given up. The steps that
// run under setjmp create nothing with a destructor.
struct PngPass {
  PngPass() = default;
  ~PngPass() { png_destroy_read_struct(&png, &info, nullptr); }
  PngPass(const PngPass&) = delete;
  PngPass& operator=(const PngPass&) = delete;

  TStream* stream = nullptr;
  int64_t position = 0;
  png_structp png = nullptr;
  png_infop info = nullptr;
  // The step in progress: rows to read into `rows`, `row_stride` apart.
  uint8_t* rows = nullptr;
  size_t row_stride = 0;
  int count = 0;
};

void OnRead(png_structp png, png_bytep out, size_t size) {
  auto* pass = static_cast<PngPass*>(png_get_io_ptr(png));
  size_t got = 0;
  try {
    got = pass->stream->ReadAt(out, size, pass->position);
  } catch (...) {
    got = 0;
  }
  pass->position += int64_t(got);
  // Out of the handler first: longjmp must not leave a catch block.
  if (got != size) png_error(png, "unexpected end of data");
}

extern "C" void OnReadError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

extern "C" void OnReadWarning(png_structp, png_const_charp) {}

void ReadInfo(PngPass& pass) {
  png_read_info(pass.png, pass.info);
}

void ReadRowsStep(PngPass& pass) {
  for (int i = 0; i < pass.count; ++i)
    png_read_row(pass.png, pass.rows + size_t(i) * pass.row_stride, nullptr);
}

void UpdateInfo(PngPass& pass) {
  png_read_update_info(pass.png, pass.info);
}

// Runs one step between setjmp and longjmp; false when libpng failed.
bool Guarded(PngPass& pass, void (*step)(PngPass&)) {
  if (setjmp(png_jmpbuf(pass.png))) return false;
  step(pass);
  return true;
}

void Run(PngPass& pass, void (*step)(PngPass&)) {
  if (!Guarded(pass, step)) throw ERowSourceFailed("PNG: the file cannot be decoded");
}

// Opens a pass and reads the header, as the plug-in does: no size limit of
// libpng's own, a chunk with a bad CRC read as it is, and the image data's
// own checksum not computed (a sixth of the decoding's time).
void Start(PngPass& pass, TStream& stream) {
  pass.stream = &stream;
  pass.position = 0;
  pass.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnReadError, OnReadWarning);
  if (pass.png != nullptr) pass.info = png_create_info_struct(pass.png);
  if (pass.info == nullptr) throw ERowSourceFailed("PNG: out of memory");
  png_set_read_fn(pass.png, &pass, OnRead);
  png_set_user_limits(pass.png, 0x7fffffff, 0x7fffffff);
  png_set_crc_action(pass.png, PNG_CRC_DEFAULT, PNG_CRC_WARN_USE);
  png_set_option(pass.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  Run(pass, ReadInfo);
}

// What the header says, and how the plug-in's bitmap takes the rows.
struct PngPlan {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int colour_type = 0;
  int depth = 0;
  bool interlaced = false;
  // A colour table (palette or grey without transparency): one index a
  // byte, looked up in `table`; otherwise colour rows, R G B (A).
  bool indexed = false;
  bool has_alpha = false;  // RGB rows with an alpha byte
  std::vector<uint32_t> table;
  SourceFacts facts;
};

PngPlan PlanOf(PngPass& pass) {
  png_structp png = pass.png;
  png_infop info = pass.info;
  PngPlan plan;
  plan.width = png_get_image_width(png, info);
  plan.height = png_get_image_height(png, info);
  plan.colour_type = png_get_color_type(png, info);
  plan.depth = png_get_bit_depth(png, info);
  plan.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (plan.colour_type == PNG_COLOR_TYPE_PALETTE && !trns) {
    png_colorp palette = nullptr;
    int count = 0;
    if (!png_get_PLTE(png, info, &palette, &count) || count <= 0)
      throw ERowSourceFailed("PNG: no palette");
    const int colours = std::min(count, 1 << plan.depth);
    for (int i = 0; i < colours; ++i)
      plan.table.push_back(0xFF000000u | uint32_t(palette[i].red) << 16 |
                           uint32_t(palette[i].green) << 8 | palette[i].blue);
    plan.indexed = true;
  } else if (plan.colour_type == PNG_COLOR_TYPE_GRAY && !trns) {
    plan.table = GreyRamp(1u << std::min(plan.depth, 8));
    plan.indexed = true;
  } else {
    plan.has_alpha = trns || (plan.colour_type & PNG_COLOR_MASK_ALPHA) != 0;
  }
  if (plan.indexed) plan.facts.colours = plan.table;
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
    plan.facts.x_ppm = x;
    plan.facts.y_ppm = y;
  }
  return plan;
}

// The transformations that give the rows of the plan, as the plug-in sets
// them, but for the order of red and blue: the rows are then one byte an
// index, or R G B (A), which Convert swaps in vector code.
void Transform(PngPass& pass, const PngPlan& plan) {
  png_structp png = pass.png;
  if (plan.indexed) {
    if (plan.depth < 8) png_set_packing(png);
    if (plan.depth == 16) png_set_scale_16(png);
  } else {
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_scale_16(png);
  }
  Run(pass, UpdateInfo);
}

class PngRowSource final : public SequentialRowSource {
 public:
  PngRowSource(TStream& stream, PngPlan plan)
      : SequentialRowSource(plan.indexed     ? 1
                            : plan.has_alpha ? 4
                                             : 3),
        stream_(stream),
        plan_(std::move(plan)) {
    width_ = int(plan_.width);
    height_ = int(plan_.height);
    facts_ = plan_.facts;
    format_ = plan_.has_alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    if (plan_.indexed) {
      // An index past the palette is the plug-in's index 0; every pixel opaque.
      index_colours_ = CodeColours(plan_.table, plan_.table[0]);
      for (uint32_t& c : index_colours_) c |= 0xFF000000u;
      grey_ramp_ = IsGreyRamp(index_colours_);
    }
  }

  void Check() override {
    if (checked_) return;
    if (plan_.has_alpha) {
      // The bitmap keeps the alpha of the plug-in's 32-bit rows only where
      // it varies, or is one value other than 0 and 255.
      AlphaBytes alpha;
      for (int y0 = 0; y0 < height_ && !alpha.Mixed(); y0 += kRowsAtOnce) {
        const int count = std::min(kRowsAtOnce, height_ - y0);
        const uint8_t* rows = Decode(y0, count);
        for (int i = 0; i < count; ++i) alpha.Add(rows + size_t(i) * RowStride(), size_t(width_));
      }
      if (!alpha.Mixed()) format_ = TPixelFormat::pf24bit;
    }
    checked_ = true;
  }

 private:
  void Restart() override {
    rows_decoded_ = 0;
    if (FastPath() && !fast_path_failed_) {
      if (!image_data_)
        image_data_ = std::make_unique<PngImageData>(stream_, StoredRowBytes(),
                                                     StoredRowBytes() / width_, height_);
      image_data_->Restart();
      return;
    }
    StartLibpng();
  }

  void StartLibpng() {
    pass_.reset();
    pass_ = std::make_unique<PngPass>();
    Start(*pass_, stream_);
    Transform(*pass_, plan_);
  }

  // Whether the image data is unpacked and unfiltered by PngImageData:
  // 8-bit RGB, RGBA, grey or palette, which libpng would hand over as the
  // file stores them. Through libpng, zlib's unpacking is a third of its
  // speed, and libpng undoes a grey row's filters byte after byte.
  bool FastPath() const {
    if (plan_.depth != 8 || plan_.interlaced || StoredRowBytes() > kMostGroupRowBytes) return false;
    if (plan_.indexed) return true;
    return (plan_.colour_type == PNG_COLOR_TYPE_RGB && !plan_.has_alpha) ||
           plan_.colour_type == PNG_COLOR_TYPE_RGB_ALPHA;
  }

  void DropDecoder() override {
    pass_.reset();
    image_data_.reset();
  }

  void DecodeNext(uint8_t* rows, int count) override {
    if (image_data_) {
      if (image_data_->NextRows(rows, RowStride(), count)) {
        rows_decoded_ += count;
        return;
      }
      // libpng takes over from the same row, and decides what the fast
      // path could not read: the rows before are the same bytes to both.
      fast_path_failed_ = true;
      image_data_.reset();
      StartLibpng();
      for (int skipped = 0; skipped < rows_decoded_;) {
        const int step = std::min(count, rows_decoded_ - skipped);
        ReadLibpngRows(rows, step);
        skipped += step;
      }
    }
    ReadLibpngRows(rows, count);
    rows_decoded_ += count;
  }

  void ReadLibpngRows(uint8_t* rows, int count) {
    pass_->rows = rows;
    pass_->row_stride = RowStride();
    pass_->count = count;
    Run(*pass_, ReadRowsStep);
  }

  void Convert(const uint8_t* in, uint8_t* out, int out_bytes) const override {
    if (plan_.indexed) {
      if (grey_ramp_)
        PutGreyLevels(in, width_, out, out_bytes);
      else
        PutCodedColours(in, width_, index_colours_, out, out_bytes);
      return;
    }
    // Alpha goes into a band only from a picture that keeps it.
    const bool keep_alpha = format_ == TPixelFormat::pf32bit;
    const int in_bytes = plan_.has_alpha ? 4 : 3;
    if (in_bytes == out_bytes && (in_bytes == 3 || keep_alpha)) {
      SwapRedBlue(in, width_, in_bytes, out);
      return;
    }
    for (int x = 0; x < width_; ++x, in += in_bytes, out += out_bytes) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (out_bytes == 4) out[3] = keep_alpha ? in[3] : 255;
    }
  }

  TStream& stream_;
  PngPlan plan_;
  std::array<uint32_t, 256> index_colours_{};
  bool grey_ramp_ = false;  // each code the grey of its own level
  std::unique_ptr<PngPass> pass_;
  // The fast path's decoder, where the file takes it and it has not failed.
  std::unique_ptr<PngImageData> image_data_;
  bool fast_path_failed_ = false;
  int rows_decoded_ = 0;  // since the last Restart
};

// The header of the file; nullopt when it cannot be read.
std::optional<PngPlan> ReadPlan(TStream& stream) {
  try {
    PngPass pass;
    Start(pass, stream);
    return PlanOf(pass);
  } catch (const ERowSourceFailed&) {
    return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<ImageRowSource> OpenPngRowSource(TStream& stream, const TLoadLimits& limits) {
  std::optional<PngPlan> plan = ReadPlan(stream);
  if (!plan || plan->interlaced || !StreamableSize(plan->width, plan->height, limits))
    return nullptr;
  return std::make_unique<PngRowSource>(stream, std::move(*plan));
}

std::optional<SourceFacts> ReadPngFacts(TStream& stream) {
  std::optional<PngPlan> plan = ReadPlan(stream);
  if (!plan) return std::nullopt;
  return plan->facts;
}

}  // namespace kevrale
