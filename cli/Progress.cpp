#include "cli/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "cli/TerminalText.h"

namespace kevrale::cli {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Columns a UTF-8 character takes: the CJK characters of Japanese names
// (three-byte sequences from U+3000 on, and four-byte ones) take two.
int CharWidth(const std::string& s, size_t at, size_t& length) {
  const auto lead = uint8_t(s[at]);
  length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  length = std::min(length, s.size() - at);
  if (lead < 0x20) return 0;
  return (lead >= 0xE3 && length == 3) || length == 4 ? 2 : 1;
}

int DisplayWidth(const std::string& s) {
  int width = 0;
  for (size_t at = 0, n = 0; at < s.size(); at += n) width += CharWidth(s, at, n);
  return width;
}

// The end of s that fits in `width` columns, led by "..." when cut.
std::string TailToFit(const std::string& s, int width) {
  if (DisplayWidth(s) <= width) return s;
  if (width <= 3) return std::string(size_t(std::max(width, 0)), '.');
  std::vector<size_t> starts;
  for (size_t at = 0, n = 0; at < s.size(); at += n) {
    starts.push_back(at);
    CharWidth(s, at, n);
  }
  int used = 0;
  size_t cut = s.size();
  for (size_t i = starts.size(); i-- > 0;) {
    size_t n;
    const int w = CharWidth(s, starts[i], n);
    if (used + w > width - 3) break;
    used += w;
    cut = starts[i];
  }
  return "..." + s.substr(cut);
}

}  // namespace

int TerminalWidth(int fd) {
  struct winsize ws {};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

std::string Progress::ClockText(SteadyClock::duration elapsed) {
  const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  int(seconds / 60 % 60), int(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%02d:%02d", int(seconds / 60), int(seconds % 60));
  return text;
}

std::string Progress::BarLine(size_t done, size_t total, SteadyClock::duration elapsed,
                              const std::string& path, int width) {
  constexpr int kBarCells = 24;
  const bool known = total != kUnknownTotal;
  const int filled = !known ? 0 : total == 0 ? kBarCells : int(done * kBarCells / total);
  std::string line = "[";
  line.append(size_t(filled), '#');
  line.append(size_t(kBarCells - filled), '.');
  line += "] ";
  line += std::to_string(done);
  line += '/';
  line += known ? std::to_string(total) : std::string("?");
  line += "  ";
  line += ClockText(elapsed);
  // Keep one column free so that the terminal never wraps the line.
  const int room = width - 1 - DisplayWidth(line) - 2;
  if (!path.empty() && room > 3) line += "  " + TailToFit(Printable(path), room);
  return line;
}

Progress::Progress(FILE* out, size_t total, bool terminal)
    : out_(out), total_(total), terminal_(terminal), start_(SteadyClock::now()) {
  if (terminal_) {
    std::lock_guard lock(mutex_);
    DrawLocked();
    ticker_ = std::thread([this] { Tick(); });
  }
}

Progress::~Progress() {
  Done();
}

void Progress::Tick() {
  std::unique_lock lock(mutex_);
  while (!finished_) {
    wake_.wait_for(lock, std::chrono::seconds(1));
    if (!finished_) DrawLocked();
  }
}

void Progress::DrawLocked() {
  if (!terminal_ || finished_) return;
  const std::string line =
      BarLine(done_, total_, SteadyClock::now() - start_, current_, TerminalWidth(fileno(out_)));
  std::fprintf(out_, "\r\033[K%s", line.c_str());
  std::fflush(out_);
}

void Progress::Started(size_t, const std::string& path) {
  std::lock_guard lock(mutex_);
  current_ = path;
  DrawLocked();
}

void Progress::Finished(size_t number, const std::string& path, const std::string& failure) {
  std::lock_guard lock(mutex_);
  ++done_;
  if (terminal_) {
    DrawLocked();
    return;
  }
  if (finished_) return;
  const std::string elapsed = ClockText(SteadyClock::now() - start_);
  const std::string total = total_ == kUnknownTotal ? "?" : std::to_string(total_);
  std::fprintf(out_, "kevrale-thin: [%zu/%s %s] %s %s\n", number, total.c_str(), elapsed.c_str(),
               failure.empty() ? "done" : "failed", Printable(path).c_str());
  std::fflush(out_);
}

void Progress::Note(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (terminal_ && !finished_) std::fputs("\r\033[K", out_);
  std::fprintf(out_, "%s\n", ForTerminal(line).c_str());
  DrawLocked();
  std::fflush(out_);
}

void Progress::Done() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    if (terminal_) {
      std::fputs("\r\033[K", out_);
      std::fflush(out_);
    }
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

}  // namespace kevrale::cli
