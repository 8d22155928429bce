#include "cli/StreamedRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "cli/CodedRows.h"
#include "cli/GuessedResult.h"
#include "cli/ImageRun.h"
#include "cli/ResultLayout.h"
#include "cli/RowPipeline.h"
#include "picture/ImageFileFormat.h"
#include "picture/ImageRowSource.h"
#include "picture/ImageRowWriter.h"
#include "picture/TPicture.h"
#include "platform/FileName.h"
#include "platform/FileSave.h"
#include "platform/Stream.h"
#include "plugins/TSPIs.h"
#include "thinning/ThinningEngine.h"
#include "thinning/ThinningMask.h"

namespace kevrale::cli {

namespace {

// The sweep's rows with one wish of its own: it ends the sweep at the first
// row from which a pixel is removed, and says whether there was one.
class RemovalProbe final : public ThinningRows {
 public:
  explicit RemovalProbe(ThinningRows& rows) : rows_(rows) {}
  SweepRow Load(int y) override { return rows_.Load(y); }
  SweepRow Output(int y, bool removes) override {
    if (!removes) return rows_.Output(y, false);
    found_ = true;
    return {};
  }
  void Done(int y, bool changed) override { rows_.Done(y, changed); }
  bool Found() const { return found_; }

 private:
  ThinningRows& rows_;
  bool found_ = false;
};

// Whether the result would be written over the file being read: a result
// that replaces its name is safe (the file stays open until the end), one
// written in place is not, so neither is streamed.
bool IsSameFile(int source_fd, const std::string& destination) {
  struct stat source, target;
  if (::fstat(source_fd, &source) != 0) return false;
  const int found = destination == kStandardOutputName ? ::fstat(STDOUT_FILENO, &target)
                                                       : ::stat(destination.c_str(), &target);
  return found == 0 && source.st_dev == target.st_dev && source.st_ino == target.st_ino;
}

// Hands back the memory that caches the file a result is about to replace,
// so that the result's pages are written into memory just freed, as when
// a file is overwritten in place, instead of into memory the system has
// yet to find (on a virtual machine, to be given by the host); replaced at
// the end of the save, the old file would give its memory back only then.
// Pages of the old file that are not on disk yet stay; the file itself is
// untouched, and kept if the save fails.
void ReleaseCachedPages(const std::string& destination) {
  struct stat st;
  if (::stat(destination.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
  const int fd = ::open(destination.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// The colour of pixel (x, y), read from its row alone.
TColor PixelOf(ImageRowSource& reader, int x, int y) {
  TBitmap row;
  row.Allocate(reader.Width(), 1, reader.Format());
  reader.ReadRows(y, row);
  return row.Pixel(x, 0);
}

// The bundled plug-ins by their names; the first three are those whose
// formats the program's own decoders stream.
constexpr std::string_view kBundledPlugins[] = {
    "Kevrale PNG plug-in 1.0", "Kevrale TIFF plug-in 1.0", "Kevrale JPEG plug-in 1.0",
    "Kevrale GIF plug-in 1.0", "Kevrale WebP plug-in 1.0"};
constexpr size_t kStreamedCodecs = 3;

// A plug-in that came with the program: loaded into this process (those of
// the user's places run in processes of their own) under a bundled name.
// Returns its place in kBundledPlugins, or -1.
int BundledIndex(const TSPI& module) {
  if (module.Handle() == nullptr) return -1;
  for (size_t i = 0; i < std::size(kBundledPlugins); ++i)
    if (module.PluginName() == kBundledPlugins[i]) return int(i);
  return -1;
}

// Whether the bundled plug-ins are the ones that would decode `source` in
// the whole-picture run: those of PNG, TIFF and JPEG are loaded, and every
// plug-in that claims the file's extension is a bundled one (a plug-in
// that does not claim it is asked after the bundled ones, which are loaded
// first, and each bundled plug-in knows its format by its first bytes).
bool BundledPluginsDecode(const std::string& source) {
  const TSPIs* host = GlobalSPIs();
  if (host == nullptr) return false;
  const std::string_view extension = ExtractFileExt(source);
  size_t codecs = 0;
  for (int i = 0; i < host->Count(); ++i) {
    const TSPI& module = host->Items(i);
    const int bundled = BundledIndex(module);
    if (bundled >= 0) {
      codecs += size_t(bundled) < kStreamedCodecs;
      continue;
    }
    if (extension.empty()) continue;
    for (const std::string& filter : module.Extensions())
      if (SameTextAscii(ExtractFileExt(filter), extension)) return false;
  }
  return codecs == kStreamedCodecs;
}

bool OwnBmpReaderLoads(const std::string& source) {
  return TPicture::FindGraphicClass(TPicture::ExtensionOf(source)) == &TBitmap::Class;
}

// Whether other work keeps every core but this thread's busy: the load of
// the last minute says so, and so do the tasks running or ready to run at
// this moment besides this one. The last minute's load alone counts this
// program's own runs just before, one file after another in a script,
// which leave the cores free between them.
bool OtherWorkFillsCores(unsigned cores) {
  double load = 0;
  if (::getloadavg(&load, 1) != 1 || load + 1 <= double(cores)) return false;
  // /proc/loadavg: three loads, then "running/all" tasks; this one runs.
  std::ifstream file("/proc/loadavg");
  double loads[3];
  unsigned running = 0, all = 0;
  char slash = 0;
  if (!(file >> loads[0] >> loads[1] >> loads[2] >> running >> slash >> all) || slash != '/' ||
      running == 0)
    return true;
  const unsigned others = running - 1;
  return others + 2 > cores;  // the sweep and its helper beside them
}

}  // namespace

bool StreamingAllowed(const std::string& source, const Options& options) {
  const TGraphicClass kind = TPicture::FindGraphicClass(TPicture::ExtensionOf(source));
  return (kind == &TBitmap::Class || (kind != nullptr && kind == TSPIs::DefaultGraphicClass())) &&
         ResultFormat(options) != TImageFileFormat::Svg && options.prune == 0;
}

int StreamThreads(const Options& options, const std::string& source,
                  const std::string& destination) {
  if (options.jobs > 1) return 1;
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 3u);
  if (cores == 1) return 1;
  // Decoding a PNG, TIFF or JPEG source or compressing a PNG or TIFF result
  // costs a few times the sweep: with a thread each for reading and for
  // writing beside the sweep, the three share whatever cores are free, and
  // gain even on a machine busy with other work.
  const bool codec =
      !OwnBmpReaderLoads(source) || (destination != kStandardOutputName &&
                                     ImageFileFormatFor(destination) != TImageFileFormat::Bmp);
  if (codec) return 3;
  // A helper thread only gains where a core is free for it: on a machine
  // busy with other work, every band handed between threads waits for
  // one of them to be scheduled again, which costs more than the reading
  // and writing of BMP rows that the helper would take off the sweep.
  if (OtherWorkFillsCores(cores)) return 1;
  // On two cores one helper that both reads and writes beside the sweep
  // beats two helpers, which take turns with the sweep for the cores.
  return int(cores);
}

namespace {

// Writes the result through `save`, to standard output or in place of the
// file named.
void SaveResult(const std::string& destination, const std::function<void(TStream&)>& save) {
  if (destination == kStandardOutputName) {
    SaveStandardOutputWith(save);
  } else {
    ReleaseCachedPages(destination);
    SaveFileWith(destination, save);
  }
}

// Raised in the run below when the colours overflow a table.
struct TooManyColours {};

// The sweep's rows, whose colours it adds to a table as it loads them, as
// the source has them: on the sweep's thread, which waits for the decoding
// more than the decoding waits for it.
class ColourCollector final : public ThinningRows {
 public:
  ColourCollector(ThinningRows& rows, int width, ColourTable& table)
      : rows_(rows), width_(width), table_(table) {}
  SweepRow Load(int y) override {
    const SweepRow row = rows_.Load(y);
    table_.AddRow(row.pixels, width_, row.bytes_per_pixel);
    if (table_.Overflowed()) throw TooManyColours{};
    return row;
  }
  SweepRow Output(int y, bool removes) override { return rows_.Output(y, removes); }
  void Done(int y, bool changed) override { rows_.Done(y, changed); }

 private:
  ThinningRows& rows_;
  int width_;
  ColourTable& table_;
};

// A PNG or TIFF result of a source that does not declare its colours,
// thinned in the same reading that finds them: the result's rows are kept
// as colour codes until the source's colours, and so the result's colour
// type, are known, and then written from the codes. The decoding, the
// sweep and the coding of the result run side by side, where a scan of
// the colours would come first. False, with nothing written, where the
// picture is too large to keep, its sweeps run in two readings, a
// transparent surround may give it alpha, or it has more colours than a
// table holds.
bool ThinWhileScanning(ImageRowSource& reader, const std::string& destination,
                       const Options& options, int threads, int band_rows, TColor target,
                       TImageFileFormat file_format) {
  const int width = reader.Width();
  const int height = reader.Height();
  const ThinningOptions& thinning = options.thinning;
  const TPixelFormat format = reader.Format();
  const bool alpha = format == TPixelFormat::pf32bit;
  if (int64_t(width) * height > CodedRows::kMostPixels || ThinsInTwoReadings(thinning, height) ||
      (thinning.transparent_surround && !alpha))
    return false;
  ColourTable source;
  CodedRows result(width, height);
  GuessedResult guessed(file_format, width, height, format);
  try {
    RowPipeline rows(
        width, height, format, threads, band_rows,
        [&reader, height](int y0, TBitmap& band) {
          reader.ReadRows(y0, band);
          // Freed here, on the reading thread, while the others finish.
          if (y0 + band.Height() == height) reader.DropKeptData();
        },
        [&](int y0, const TBitmap& band) {
          for (int i = 0; i < band.Height(); ++i)
            if (!result.Add(band.ScanLine(i), band.BytesPerPixel(), y0 + i)) throw TooManyColours{};
          if (y0 == 0)
            guessed.Start(
                ResultLayout(result.Table(), reader.Facts(), options, alpha, file_format));
          guessed.Add(y0, band.Height(), result);
        },
        RowsHeldBySweeps(thinning.sweeps));
    ColourCollector collector(rows, width, source);
    rows.Run(
        [&] { ThinRows(collector, width, height, target, options.surround, thinning, alpha); });
  } catch (const TooManyColours&) {
    return false;
  }
  const RasterLayout layout =
      ResultLayout(std::move(source), reader.Facts(), options, alpha, file_format);
  if (guessed.Matches(layout)) {
    SaveResult(destination, [&](TStream& out) { guessed.WriteTo(out); });
    return true;
  }
  const bool packed = layout.kind == RasterKind::Grey || layout.kind == RasterKind::Palette;
  SaveResult(destination, [&](TStream& out) {
    const std::unique_ptr<ImageRowWriter> writer =
        MakeImageRowWriter(file_format, out, width, height, format, layout);
    if (packed) {
      std::vector<uint8_t> row((size_t(width) * size_t(layout.bits) + 7) / 8);
      for (int y = 0; y < height; ++y) {
        result.Pack(y, layout, row.data());
        writer->WritePackedRow(y, row.data());
      }
    } else {
      // RGB or RGBA after all: a palette lacked room for the surround, or
      // TIFF has none with alpha.
      TBitmap band;
      for (int y0 = 0; y0 < height; y0 += band_rows) {
        const int rows = std::min(band_rows, height - y0);
        if (band.Height() != rows) band.Allocate(width, rows, format);
        result.Fill(y0, band);
        writer->WriteRows(y0, band);
      }
    }
    writer->Finish();
  });
  return true;
}

void RunStreamed(ImageRowSource& reader, const std::string& source, const std::string& destination,
                 const Options& options, int threads, int band_rows) {
  reader.Check();
  const int width = reader.Width();
  const int height = reader.Height();

  TColor target = options.target;
  if (const auto p = TargetPixelIn(source, options, width, height))
    target = PixelOf(reader, p->x, p->y);

  const bool alpha = reader.Format() == TPixelFormat::pf32bit;
  if (band_rows <= 0) band_rows = RowPipeline::BandRowsFor(width, TPixelFormat::pf32bit);

  // A PNG or TIFF result's colours: those the file declares, or those its
  // pixels have, read (and kept where they fit) before the run.
  const TImageFileFormat file_format =
      destination == kStandardOutputName ? TImageFileFormat::Bmp : ImageFileFormatFor(destination);
  if (file_format != TImageFileFormat::Bmp && !reader.Facts().colours &&
      ThinWhileScanning(reader, destination, options, threads, band_rows, target, file_format))
    return;
  std::optional<CodedRows> kept;
  ColourTable colours;
  if (file_format != TImageFileFormat::Bmp)
    colours = SourceColours(reader.Facts(), [&](ColourTable& table) {
      if (int64_t(width) * height <= CodedRows::kMostPixels) kept.emplace(width, height);
      ScanColours(reader, threads, band_rows, table, kept ? &*kept : nullptr);
      if (table.Overflowed()) kept.reset();
    });
  const auto read = [&reader, &kept](int y0, TBitmap& band) {
    if (kept)
      kept->Fill(y0, band);
    else
      reader.ReadRows(y0, band);
  };

  // The result's reading is the last.
  const auto read_last = [&](int y0, TBitmap& band) {
    read(y0, band);
    if (!kept && y0 + band.Height() == height) reader.DropKeptData();
  };
  const auto no_write = [](int, const TBitmap&) {};
  const ThinningOptions& thinning = options.thinning;
  TPixelFormat format = reader.Format();

  // Sweeps that cannot run chained read the file twice: first for the
  // target cells, which they thin in memory, then for the result.
  std::optional<ThinningMask> mask;
  if (ThinsInTwoReadings(thinning, height)) {
    RowPipeline rows(width, height, format, threads, band_rows, read, no_write, 0);
    rows.Run([&] { mask.emplace(rows, width, height, target, thinning, alpha); });
    if (thinning.transparent_surround && !alpha && mask->AnyRemoved())
      format = TPixelFormat::pf32bit;
  } else if (thinning.transparent_surround && !alpha) {
    // A transparent surround gives a picture without alpha an alpha channel
    // once a pixel is removed, and leaves it as it was when none is: find
    // out which, reading no further than the first row that loses a pixel.
    RowPipeline rows(width, height, format, 1, band_rows, read, no_write,
                     RowsHeldBySweeps(thinning.sweeps));
    RemovalProbe probe(rows);
    rows.Run([&] { ThinRows(probe, width, height, target, options.surround, thinning, false); });
    if (probe.Found()) format = TPixelFormat::pf32bit;
  }

  RasterLayout layout;
  if (file_format != TImageFileFormat::Bmp)
    layout = ResultLayout(std::move(colours), reader.Facts(), options,
                          format == TPixelFormat::pf32bit, file_format);

  const auto save = [&](TStream& out) {
    const std::unique_ptr<ImageRowWriter> writer =
        MakeImageRowWriter(file_format, out, width, height, format, layout);
    RowPipeline rows(
        width, height, format, threads, band_rows, read_last,
        [&writer](int y0, const TBitmap& band) { writer->WriteRows(y0, band); },
        mask ? 0 : RowsHeldBySweeps(thinning.sweeps));
    rows.Run([&] {
      if (mask)
        mask->Paint(rows, options.surround, thinning);
      else
        ThinRows(rows, width, height, target, options.surround, thinning, alpha);
    });
    writer->Finish();
  };
  SaveResult(destination, save);
}

}  // namespace

bool ThinStreamed(const std::string& source, const std::string& destination, const Options& options,
                  int threads, int band_rows) {
  TFileStream file(source, TFileStream::Mode::Read);
  const bool bmp = OwnBmpReaderLoads(source);
  // A file of a plug-in's format streams where the bundled plug-ins would
  // decode it, and not to standard output, which cannot take back what a
  // broken file has let through.
  if (!bmp && (destination == kStandardOutputName || !BundledPluginsDecode(source))) return false;
  try {
    const std::unique_ptr<ImageRowSource> reader =
        OpenRowSource(file, bmp ? RowSourceKind::Bmp : RowSourceKind::Codec, ThinnableLimits());
    if (!reader || IsSameFile(file.Handle(), destination)) return false;
    RunStreamed(*reader, source, destination, options, threads, band_rows);
  } catch (const ERowSourceFailed&) {
    // A broken file: the whole-picture run says what is wrong with it, as
    // it does for a file that does not stream. The save has kept the old
    // result.
    return false;
  }
  return true;
}

}  // namespace kevrale::cli
