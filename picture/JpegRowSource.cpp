// The rows of a JPEG file (baseline or progressive), decoded with libjpeg
// as the bundled JPEG plug-in decodes them and as the bitmap then takes
// them: greyscale through a grey colour table, YCbCr and RGB as 8-bit RGB,
// CMYK and YCCK turned into RGB the plug-in's way. Missing or corrupt scan
// data fails, as in the plug-in.
#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "picture/RowConversions.h"
#include "picture/RowDecoders.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// The most memory libjpeg may take for one picture, as in the plug-in.
constexpr long kMaxMemory = 1536L * 1024 * 1024;
constexpr size_t kInputChunk = size_t(64) << 10;

// One pass of libjpeg over the file. libjpeg leaves through error_exit on
// every error; the steps that run under setjmp create nothing with a
// destructor.
struct JpegPass {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  jpeg_source_mgr source{};
  std::jmp_buf escape{};
  bool created = false;
  TStream* stream = nullptr;
  int64_t position = 0;
  std::vector<JOCTET> input;
  // The step in progress: rows to read.
  JSAMPROW* rows = nullptr;
  int count = 0;

  JpegPass() = default;
  ~JpegPass() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  JpegPass(const JpegPass&) = delete;
  JpegPass& operator=(const JpegPass&) = delete;
};

JpegPass* PassOf(j_common_ptr cinfo) {
  return static_cast<JpegPass*>(cinfo->client_data);
}

extern "C" void OnJpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(PassOf(cinfo)->escape, 1);
}

// The warnings by which libjpeg says that scan data is missing or corrupt,
// after which it fills what it lacks with grey.
bool MeansBrokenData(int code) {
  return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
         code == JWRN_MUST_RESYNC;
}

extern "C" void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && MeansBrokenData(cinfo->err->msg_code)) std::longjmp(PassOf(cinfo)->escape, 1);
}

extern "C" void OnJpegOutput(j_common_ptr) {}

extern "C" void InitJpegSource(j_decompress_ptr) {}

// The next chunk of the file; at its end a made-up end-of-image marker and
// the warning that the data ended early, as libjpeg's memory source does.
extern "C" boolean FillJpegInput(j_decompress_ptr cinfo) {
  JpegPass* pass = PassOf(reinterpret_cast<j_common_ptr>(cinfo));
  size_t got = 0;
  try {
    got = pass->stream->ReadAt(pass->input.data(), pass->input.size(), pass->position);
  } catch (...) {
    got = 0;
  }
  pass->position += int64_t(got);
  if (got == 0) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    static const JOCTET kEnd[] = {0xFF, JPEG_EOI};
    cinfo->src->next_input_byte = kEnd;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
  }
  cinfo->src->next_input_byte = pass->input.data();
  cinfo->src->bytes_in_buffer = got;
  return TRUE;
}

extern "C" void SkipJpegInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  while (size_t(count) > src->bytes_in_buffer) {
    count -= long(src->bytes_in_buffer);
    FillJpegInput(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= size_t(count);
}

extern "C" void TermJpegSource(j_decompress_ptr) {}

void Create(JpegPass& pass) {
  jpeg_create_decompress(&pass.cinfo);
  pass.created = true;
}

void ReadHeader(JpegPass& pass) {
  pass.cinfo.mem->max_memory_to_use = kMaxMemory;
  jpeg_read_header(&pass.cinfo, TRUE);
}

void StartDecompress(JpegPass& pass) {
  jpeg_start_decompress(&pass.cinfo);
}

void ReadScanlines(JpegPass& pass) {
  for (int done = 0; done < pass.count;) {
    const JDIMENSION got =
        jpeg_read_scanlines(&pass.cinfo, pass.rows + done, JDIMENSION(pass.count - done));
    // The source never suspends: no rows means no more data.
    if (got == 0) ERREXIT(&pass.cinfo, JERR_INPUT_EMPTY);
    done += int(got);
  }
}

bool Guarded(JpegPass& pass, void (*step)(JpegPass&)) {
  if (setjmp(pass.escape)) return false;
  step(pass);
  return true;
}

void Run(JpegPass& pass, void (*step)(JpegPass&)) {
  if (!Guarded(pass, step)) throw ERowSourceFailed("JPEG: the file cannot be decoded");
}

// Opens a pass on the stream and reads the header.
std::unique_ptr<JpegPass> Start(TStream& stream) {
  auto pass = std::make_unique<JpegPass>();
  pass->stream = &stream;
  pass->input.resize(kInputChunk);
  pass->cinfo.err = jpeg_std_error(&pass->error);
  pass->error.error_exit = OnJpegErrorExit;
  pass->error.emit_message = OnJpegMessage;
  pass->error.output_message = OnJpegOutput;
  pass->cinfo.client_data = pass.get();
  Run(*pass, Create);
  pass->source.init_source = InitJpegSource;
  pass->source.fill_input_buffer = FillJpegInput;
  pass->source.skip_input_data = SkipJpegInput;
  pass->source.resync_to_restart = jpeg_resync_to_restart;
  pass->source.term_source = TermJpegSource;
  pass->cinfo.src = &pass->source;
  Run(*pass, ReadHeader);
  return pass;
}

enum class Colours { Grey, Rgb, Cmyk };

struct JpegPlan {
  uint32_t width = 0;
  uint32_t height = 0;
  Colours colours = Colours::Rgb;
  SourceFacts facts;
};

JpegPlan PlanOf(const jpeg_decompress_struct& cinfo) {
  JpegPlan plan;
  plan.width = cinfo.image_width;
  plan.height = cinfo.image_height;
  if (cinfo.jpeg_color_space == JCS_GRAYSCALE) {
    plan.colours = Colours::Grey;
    plan.facts.colours = GreyRamp(256);
  } else if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    plan.colours = Colours::Cmyk;
  }
  if (cinfo.saw_JFIF_marker && cinfo.density_unit == 1) {
    const auto ppm = [](unsigned dpi) { return dpi == 0 ? 0u : uint32_t(dpi / 0.0254 + 0.5); };
    plan.facts.x_ppm = ppm(cinfo.X_density);
    plan.facts.y_ppm = ppm(cinfo.Y_density);
  } else if (cinfo.saw_JFIF_marker && cinfo.density_unit == 2) {
    plan.facts.x_ppm = cinfo.X_density * 100u;
    plan.facts.y_ppm = cinfo.Y_density * 100u;
  }
  return plan;
}

class JpegRowSource final : public SequentialRowSource {
 public:
  JpegRowSource(TStream& stream, JpegPlan plan)
      : SequentialRowSource(plan.colours == Colours::Grey   ? 1
                            : plan.colours == Colours::Cmyk ? 4
                                                            : 3),
        stream_(stream),
        plan_(std::move(plan)) {
    width_ = int(plan_.width);
    height_ = int(plan_.height);
    facts_ = plan_.facts;
  }

  void Check() override { checked_ = true; }

 private:
  void Restart() override {
    pass_.reset();
    pass_ = Start(stream_);
    jpeg_decompress_struct& cinfo = pass_->cinfo;
    cinfo.out_color_space = plan_.colours == Colours::Grey   ? JCS_GRAYSCALE
                            : plan_.colours == Colours::Cmyk ? JCS_CMYK
                                                             : JCS_EXT_BGR;
    Run(*pass_, StartDecompress);
    if (cinfo.output_width != plan_.width || cinfo.output_height != plan_.height)
      throw ERowSourceFailed("JPEG: an unexpected size");
    inverted_ = cinfo.saw_Adobe_marker != 0;
  }

  void DecodeNext(uint8_t* rows, int count) override {
    pointers_.resize(size_t(count));
    for (int i = 0; i < count; ++i) pointers_[size_t(i)] = rows + size_t(i) * RowStride();
    pass_->rows = pointers_.data();
    pass_->count = count;
    Run(*pass_, ReadScanlines);
  }

  void Convert(const uint8_t* in, uint8_t* out, int out_bytes) const override {
    if (plan_.colours == Colours::Grey) {
      PutGreyLevels(in, width_, out, out_bytes);
      return;
    }
    if (plan_.colours == Colours::Rgb && out_bytes == 3) {
      std::memcpy(out, in, size_t(width_) * 3);  // B G R as they are
      return;
    }
    for (int x = 0; x < width_; ++x, out += out_bytes) {
      if (plan_.colours == Colours::Grey) {
        out[0] = out[1] = out[2] = in[x];
      } else if (plan_.colours == Colours::Rgb) {
        std::memcpy(out, in + 3 * x, 3);
      } else {
        CmykToBgr(in + 4 * x, out);
      }
      if (out_bytes == 4) out[3] = 255;
    }
  }

  // Adobe's CMYK files store inverted inks; others store them plainly.
  void CmykToBgr(const uint8_t* in, uint8_t* out) const {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted_) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = uint8_t((y * k + 127) / 255);
    out[1] = uint8_t((m * k + 127) / 255);
    out[2] = uint8_t((c * k + 127) / 255);
  }

  TStream& stream_;
  JpegPlan plan_;
  bool inverted_ = false;
  std::unique_ptr<JpegPass> pass_;
  std::vector<JSAMPROW> pointers_;
};

std::optional<JpegPlan> ReadPlan(TStream& stream) {
  try {
    const std::unique_ptr<JpegPass> pass = Start(stream);
    return PlanOf(pass->cinfo);
  } catch (const ERowSourceFailed&) {
    return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<ImageRowSource> OpenJpegRowSource(TStream& stream, const TLoadLimits& limits) {
  std::optional<JpegPlan> plan = ReadPlan(stream);
  if (!plan || !StreamableSize(plan->width, plan->height, limits)) return nullptr;
  return std::make_unique<JpegRowSource>(stream, std::move(*plan));
}

std::optional<SourceFacts> ReadJpegFacts(TStream& stream) {
  std::optional<JpegPlan> plan = ReadPlan(stream);
  if (!plan) return std::nullopt;
  return plan->facts;
}

}  // namespace kevrale
