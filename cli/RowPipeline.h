// The rows of a streamed run on their way from a file through the sweep to
// another file, in bands of a few rows: a band is read (and decoded), the
// sweep loads its rows and writes them back 19 rows later (19 more for each
// further chained sweep), and the band is written out. With more than one thread, reading and
// writing run beside the sweep, joined to it by bounded queues of bands, so that memory stays a few
// bands whatever the picture's height.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "picture/TBitmap.h"
#include "thinning/ThinningEngine.h"
#include "thinning/ThinningRows.h"

namespace kevrale::cli {

class RowPipeline final : public ThinningRows {
 public:
  // Fills a band with rows y0 .. y0 + band.Height() - 1.
  using ReadBand = std::function<void(int y0, TBitmap& band)>;
  // Takes rows y0 .. y0 + band.Height() - 1 in their final state.
  using WriteBand = std::function<void(int y0, const TBitmap& band)>;

  // Bands of `band_rows` rows (the last one may be shorter) of a picture
  // `width` x `height` in `format`. `threads`: 1 runs everything in turn on
  // the calling thread; 2 adds one thread that reads and writes; 3 or more
  // read and write on a thread each. `rows_held`: how many rows the sweeps
  // load past a row before they write it back (RowsHeldBySweeps).
  RowPipeline(int width, int height, TPixelFormat format, int threads, int band_rows, ReadBand read,
              WriteBand write, int rows_held = RowsHeldBySweeps(1));
  ~RowPipeline() override;
  RowPipeline(const RowPipeline&) = delete;
  RowPipeline& operator=(const RowPipeline&) = delete;

  // Runs `sweep` on the calling thread; it thins through this object's
  // rows. Every band that the sweep finishes is written before Run returns.
  // Raises the first error of the sweep, the reading or the writing once
  // every thread has stopped; nothing is read or written after it.
  void Run(const std::function<void()>& sweep);

  // The band size that keeps a band near a quarter of a megabyte: a few
  // system calls per band, and a few bands in memory.
  static int BandRowsFor(int width, TPixelFormat format);

  SweepRow Load(int y) override;
  SweepRow Output(int y, bool removes) override;
  void Done(int y, bool changed) override;

 private:
  struct Band {
    int y0 = 0;
    TBitmap rows;
  };

  int BandHeight(int y0) const;
  std::unique_ptr<Band> NewBand();
  // Under the lock: whether a band can be read now / is waiting to be written.
  bool CanRead() const;
  bool AllRead() const { return next_read_ >= height_; }
  // The helper threads' loop: reads ahead and writes behind until the run
  // is over or fails; `helper` is the thread's place in helper_wake_.
  void Serve(bool reads, bool writes, int helper);
  // Under the lock: wakes the helper that reads, or the one that writes.
  void WakeReader() { helper_wake_[0].notify_one(); }
  void WakeWriter() { helper_wake_[threads_ >= 3 ? 1 : 0].notify_one(); }
  void ReadInto(Band& band);
  void Fail(std::exception_ptr error);
  Band& HeldBand(int y);

  const int width_;
  const int height_;
  const TPixelFormat format_;
  const int threads_;
  const int band_rows_;
  const size_t most_bands_;  // bands in all: held by the sweep, read ahead, written behind
  ReadBand read_;
  WriteBand write_;

  std::mutex mutex_;
  // Each thread waits on its own, so that it wakes only for its own work:
  // a wake-up for nothing costs two switches between threads.
  std::condition_variable sweep_wake_;
  std::condition_variable helper_wake_[2];
  std::vector<std::unique_ptr<Band>> free_;
  size_t bands_made_ = 0;
  std::deque<std::unique_ptr<Band>> ready_;     // read, for the sweep
  std::deque<std::unique_ptr<Band>> finished_;  // done by the sweep, to be written
  int next_read_ = 0;                           // the first row of the next band to read
  bool sweep_over_ = false;
  bool stopped_ = false;
  std::exception_ptr error_;

  // The sweep's own: the bands whose rows it holds, oldest first.
  std::deque<std::unique_ptr<Band>> held_;
};

}  // namespace kevrale::cli
