#include "cli/RowPipeline.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace kevrale::cli {

namespace {

// Bands read ahead of the sweep, and bands that may wait to be written.
// Each thread is woken for a few bands at a time, not for each one: the
// reader once half the bands read ahead are taken, the writer once two
// bands are done (or the sweep waits), the sweep once two bands are read
// (or the last one).
constexpr size_t kReadAhead = 4;
constexpr size_t kWriteBehind = 2;
// A band's size in bytes that BandRowsFor aims at.
constexpr size_t kBandBytes = size_t(256) << 10;
constexpr int kMostBandRows = 64;

// Raised in the sweep when another stage has failed; the run then raises
// that stage's error.
struct PipelineStopped {};

}  // namespace

RowPipeline::RowPipeline(int width, int height, TPixelFormat format, int threads, int band_rows,
                         ReadBand read, WriteBand write, int rows_held)
    : width_(width),
      height_(height),
      format_(format),
      threads_(std::max(threads, 1)),
      band_rows_(std::max(band_rows, 1)),
      most_bands_(size_t((std::max(rows_held, 0) + band_rows_ - 1) / band_rows_ + 2) + kReadAhead +
                  kWriteBehind),
      read_(std::move(read)),
      write_(std::move(write)) {}

RowPipeline::~RowPipeline() = default;

int RowPipeline::BandRowsFor(int width, TPixelFormat format) {
  const size_t stride = std::max<size_t>(TBitmap::StrideOf(width, format), 1);
  return int(std::clamp<size_t>(kBandBytes / stride, 1, kMostBandRows));
}

int RowPipeline::BandHeight(int y0) const {
  return std::min(band_rows_, height_ - y0);
}

std::unique_ptr<RowPipeline::Band> RowPipeline::NewBand() {
  return std::make_unique<Band>();
}

void RowPipeline::ReadInto(Band& band) {
  const int rows = BandHeight(band.y0);
  if (band.rows.Height() != rows || band.rows.Width() != width_)
    band.rows.Allocate(width_, rows, format_);
  read_(band.y0, band.rows);
}

bool RowPipeline::CanRead() const {
  return !stopped_ && !sweep_over_ && !AllRead() && ready_.size() < kReadAhead &&
         (!free_.empty() || bands_made_ < most_bands_);
}

void RowPipeline::Fail(std::exception_ptr error) {
  if (!error_) error_ = std::move(error);
  stopped_ = true;
  sweep_wake_.notify_all();
  for (std::condition_variable& wake : helper_wake_) wake.notify_all();
}

void RowPipeline::Serve(bool reads, bool writes, int helper) {
  std::unique_lock lock(mutex_);
  try {
    for (;;) {
      if (stopped_) return;
      if (writes && !finished_.empty()) {
        std::unique_ptr<Band> band = std::move(finished_.front());
        finished_.pop_front();
        lock.unlock();
        write_(band->y0, band->rows);
        lock.lock();
        free_.push_back(std::move(band));
        if (!reads) WakeReader();
        continue;
      }
      if (reads && CanRead()) {
        std::unique_ptr<Band> band;
        if (!free_.empty()) {
          band = std::move(free_.back());
          free_.pop_back();
        } else {
          ++bands_made_;
        }
        const int y0 = next_read_;
        next_read_ += BandHeight(y0);
        lock.unlock();
        if (!band) band = NewBand();
        band->y0 = y0;
        ReadInto(*band);
        lock.lock();
        ready_.push_back(std::move(band));
        if (ready_.size() >= 2 || AllRead()) sweep_wake_.notify_one();
        continue;
      }
      const bool reading_over = !reads || AllRead() || sweep_over_;
      const bool writing_over = !writes || (sweep_over_ && finished_.empty());
      if (reading_over && writing_over) return;
      helper_wake_[helper].wait(lock);
    }
  } catch (...) {
    if (!lock.owns_lock()) lock.lock();
    Fail(std::current_exception());
  }
}

void RowPipeline::Run(const std::function<void()>& sweep) {
  std::vector<std::thread> helpers;
  try {
    if (threads_ == 2) {
      helpers.emplace_back([this] { Serve(true, true, 0); });
    } else if (threads_ >= 3) {
      helpers.emplace_back([this] { Serve(true, false, 0); });
      helpers.emplace_back([this] { Serve(false, true, 1); });
    }
    sweep();
  } catch (const PipelineStopped&) {
    // The stage that stopped the run has left its error.
  } catch (...) {
    const std::lock_guard lock(mutex_);
    Fail(std::current_exception());
  }
  {
    const std::lock_guard lock(mutex_);
    sweep_over_ = true;
    for (std::condition_variable& wake : helper_wake_) wake.notify_all();
  }
  for (std::thread& t : helpers) t.join();
  if (error_) std::rethrow_exception(error_);
}

SweepRow RowPipeline::Load(int y) {
  if (y % band_rows_ == 0) {
    std::unique_ptr<Band> band;
    if (threads_ == 1) {
      if (!free_.empty()) {
        band = std::move(free_.back());
        free_.pop_back();
      } else {
        band = NewBand();
      }
      band->y0 = y;
      next_read_ = y + BandHeight(y);
      ReadInto(*band);
    } else {
      std::unique_lock lock(mutex_);
      if (ready_.empty()) {
        // Whatever the reader may be waiting for, and the reading itself.
        WakeWriter();
        WakeReader();
        sweep_wake_.wait(lock, [this] { return stopped_ || !ready_.empty(); });
      }
      if (stopped_) throw PipelineStopped{};
      band = std::move(ready_.front());
      ready_.pop_front();
      if (ready_.size() <= kReadAhead / 2) WakeReader();
    }
    if (band->y0 != y) throw std::logic_error("RowPipeline: rows out of order");
    held_.push_back(std::move(band));
  }
  Band& band = *held_.back();
  return {band.rows.ScanLine(y - band.y0), band.rows.BytesPerPixel()};
}

RowPipeline::Band& RowPipeline::HeldBand(int y) {
  for (const std::unique_ptr<Band>& band : held_)
    if (y >= band->y0 && y < band->y0 + band->rows.Height()) return *band;
  throw std::logic_error("RowPipeline: a row that is not held");
}

SweepRow RowPipeline::Output(int y, bool) {
  Band& band = HeldBand(y);
  return {band.rows.ScanLine(y - band.y0), band.rows.BytesPerPixel()};
}

void RowPipeline::Done(int y, bool) {
  Band& oldest = *held_.front();
  if (y != oldest.y0 + oldest.rows.Height() - 1) return;
  std::unique_ptr<Band> band = std::move(held_.front());
  held_.pop_front();
  if (threads_ == 1) {
    write_(band->y0, band->rows);
    free_.push_back(std::move(band));
    return;
  }
  const std::lock_guard lock(mutex_);
  if (stopped_) throw PipelineStopped{};
  finished_.push_back(std::move(band));
  if (finished_.size() >= 2) WakeWriter();
}

}  // namespace kevrale::cli
