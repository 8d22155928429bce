#include "cli/StreamedRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "cli/ImageRun.h"
#include "cli/RowPipeline.h"
#include "picture/BmpRowReader.h"
#include "picture/ImageFileFormat.h"
#include "picture/ImageRowWriter.h"
#include "picture/TPicture.h"
#include "platform/FileSave.h"
#include "platform/Stream.h"
#include "thinning/ThinningEngine.h"

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

// The colour of pixel (x, y), read from its row alone.
TColor PixelOf(BmpRowReader& reader, int x, int y) {
  TBitmap row;
  row.Allocate(reader.Width(), 1, reader.Format());
  reader.ReadRows(y, row);
  return row.Pixel(x, 0);
}

}  // namespace

bool StreamingAllowed(const std::string& source, const Options& options) {
  return TPicture::FindGraphicClass(TPicture::ExtensionOf(source)) == &TBitmap::Class &&
         ResultFormat(options) != TImageFileFormat::Svg && options.prune == 0;
}

int StreamThreads(const Options& options) {
  if (options.jobs > 1) return 1;
  // On two cores one helper that both reads and writes beside the sweep
  // beats two helpers, which take turns with the sweep for the cores.
  return int(std::clamp(std::thread::hardware_concurrency(), 1u, 3u));
}

bool ThinStreamed(const std::string& source, const std::string& destination, const Options& options,
                  int threads, int band_rows) {
  TFileStream file(source, TFileStream::Mode::Read);
  BmpRowReader reader(file, ThinnableLimits());
  if (!reader.Streams() || IsSameFile(file.Handle(), destination)) return false;
  reader.Check();
  const int width = reader.Width();
  const int height = reader.Height();

  TColor target = options.target;
  if (const auto p = TargetPixelIn(source, options, width, height))
    target = PixelOf(reader, p->x, p->y);

  const bool alpha = reader.Format() == TPixelFormat::pf32bit;
  if (band_rows <= 0) band_rows = RowPipeline::BandRowsFor(width, TPixelFormat::pf32bit);
  const auto read = [&reader](int y0, TBitmap& band) { reader.ReadRows(y0, band); };

  // A transparent surround gives a picture without alpha an alpha channel
  // once a pixel is removed, and leaves it as it was when none is: find out
  // which, reading no further than the first row that loses a pixel.
  TPixelFormat format = reader.Format();
  if (options.thinning.transparent_surround && !alpha) {
    RowPipeline rows(width, height, format, 1, band_rows, read, [](int, const TBitmap&) {});
    RemovalProbe probe(rows);
    rows.Run(
        [&] { ThinRows(probe, width, height, target, options.surround, options.thinning, false); });
    if (probe.Found()) format = TPixelFormat::pf32bit;
  }

  const auto save = [&](TStream& out) {
    const std::unique_ptr<ImageRowWriter> writer =
        MakeImageRowWriter(ImageFileFormatFor(destination), out, width, height, format);
    RowPipeline rows(width, height, format, threads, band_rows, read,
                     [&writer](int y0, const TBitmap& band) { writer->WriteRows(y0, band); });
    rows.Run(
        [&] { ThinRows(rows, width, height, target, options.surround, options.thinning, alpha); });
    writer->Finish();
  };
  if (destination == kStandardOutputName)
    SaveStandardOutputWith(save);
  else
    SaveFileWith(destination, save);
  return true;
}

}  // namespace kevrale::cli
