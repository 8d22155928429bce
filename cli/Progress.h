// Progress of a list run on stderr. On a terminal one bar line is redrawn in
// place (entries done of all, elapsed time, the file being worked on) and
// ticks once a second; otherwise each finished entry gets a plain line.
// Every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace kevrale::cli {

class Progress {
 public:
  // The total of a list that is read as it runs: shown as "?".
  static constexpr size_t kUnknownTotal = SIZE_MAX;

  // total: the number of entries; terminal: draw the bar (else plain lines).
  Progress(FILE* out, size_t total, bool terminal);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Entry `number` (from 1) begins with the file at `path`.
  void Started(size_t number, const std::string& path);
  // Entry `number` ends; `failure` is empty when it succeeded.
  void Finished(size_t number, const std::string& path, const std::string& failure);
  // A line that stays on screen above the bar (a warning, a failure).
  void Note(const std::string& line);
  // Removes the bar and stops the clock; later calls print nothing but notes.
  void Done();

  // "mm:ss", or "h:mm:ss" from an hour on.
  static std::string ClockText(std::chrono::steady_clock::duration elapsed);
  // The bar line for a terminal `width` columns wide; the path is shortened
  // from its left to fit.
  static std::string BarLine(size_t done, size_t total, std::chrono::steady_clock::duration elapsed,
                             const std::string& path, int width);

 private:
  void DrawLocked();
  void Tick();

  FILE* out_;
  const size_t total_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  size_t done_ = 0;
  std::string current_;
  bool finished_ = false;
  std::thread ticker_;
};

// The columns of the terminal on a descriptor; 80 when it cannot tell.
int TerminalWidth(int fd);

}  // namespace kevrale::cli
