#include "ipc/PluginInfoCache.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/FileSave.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

constexpr const char* kHeader = "kevrale plug-in information 2";
// No plug-in answers more information than this; a longer entry is broken.
constexpr size_t kMaxAnswers = 4096;
constexpr size_t kMaxText = 65536;

// The identity of a file as an entry records it.
struct FileStamp {
  uint64_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec),
                   uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::optional<std::string> Unhex(const std::string& text) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxText) return std::nullopt;
  std::string out(text.size() / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, value, 16);
    if (ec != std::errc() || end != text.data() + 2 * i + 2) return std::nullopt;
    out[i] = char(value);
  }
  return out;
}

// FNV-1a of the path: entry names of one length whatever the path holds.
uint64_t PathHash(const std::string& path) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

template <class T>
bool ReadNumber(std::istream& in, T& value) {
  std::string word;
  if (!(in >> word)) return false;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  return ec == std::errc() && end == word.data() + word.size();
}

// An entry's text: the header line, then "path", "size", "mtime", "file"
// (device and inode), "exports", "failure" (- for none) and one "answer"
// line per call, every text in hexadecimal.
std::string EntryText(const std::string& path, const FileStamp& stamp,
                      const PluginInfoRecord& record) {
  std::ostringstream out;
  out << kHeader << "\npath " << Hex(path) << "\nsize " << stamp.size << "\nmtime " << stamp.seconds
      << " " << stamp.nanoseconds << "\nfile " << stamp.device << " " << stamp.inode << "\nexports "
      << record.Exports << "\nfailure " << (record.Failure.empty() ? "-" : Hex(record.Failure))
      << "\n";
  for (const PluginInfoAnswer& a : record.Answers)
    out << "answer " << a.InfoNo << " " << a.BufLen << " " << a.Result << " "
        << (a.Text.empty() ? "-" : Hex(a.Text)) << "\n";
  return out.str();
}

std::optional<PluginInfoRecord> ParseEntry(const std::string& text, const std::string& path,
                                           const FileStamp& stamp) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  std::string word, hex_path;
  FileStamp stored;
  PluginInfoRecord record;
  if (!(in >> word >> hex_path) || word != "path" || Unhex(hex_path) != path) return std::nullopt;
  if (!(in >> word) || word != "size" || !ReadNumber(in, stored.size)) return std::nullopt;
  if (!(in >> word) || word != "mtime" || !ReadNumber(in, stored.seconds) ||
      !ReadNumber(in, stored.nanoseconds))
    return std::nullopt;
  if (!(in >> word) || word != "file" || !ReadNumber(in, stored.device) ||
      !ReadNumber(in, stored.inode))
    return std::nullopt;
  if (stored.size != stamp.size || stored.seconds != stamp.seconds ||
      stored.nanoseconds != stamp.nanoseconds || stored.device != stamp.device ||
      stored.inode != stamp.inode)
    return std::nullopt;
  if (!(in >> word) || word != "exports" || !ReadNumber(in, record.Exports)) return std::nullopt;
  std::string failure;
  if (!(in >> word >> failure) || word != "failure") return std::nullopt;
  if (failure != "-") {
    const std::optional<std::string> text = Unhex(failure);
    if (!text) return std::nullopt;
    record.Failure = *text;
  }
  while (in >> word) {
    PluginInfoAnswer a;
    std::string hex_text;
    if (word != "answer" || record.Answers.size() >= kMaxAnswers || !ReadNumber(in, a.InfoNo) ||
        !ReadNumber(in, a.BufLen) || !ReadNumber(in, a.Result) || !(in >> hex_text))
      return std::nullopt;
    if (hex_text != "-") {
      std::optional<std::string> bytes = Unhex(hex_text);
      if (!bytes || bytes->find('\0') != std::string::npos) return std::nullopt;
      a.Text = std::move(*bytes);
    }
    record.Answers.push_back(std::move(a));
  }
  return record;
}

}  // namespace

std::string PluginInfoCache::DefaultFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/kevrale";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/kevrale";
  return std::string();
}

std::string PluginInfoCache::EntryPath(const std::string& plugin_file) const {
  char name[32];
  std::snprintf(name, sizeof name, "%016llx",
                static_cast<unsigned long long>(PathHash(plugin_file)));
  return folder_ + "/plugin-info/" + name;
}

std::optional<PluginInfoRecord> PluginInfoCache::Find(const std::string& plugin_file) const {
  if (folder_.empty()) return std::nullopt;
  const std::optional<FileStamp> stamp = StampOf(plugin_file);
  if (!stamp) return std::nullopt;
  std::string text;
  try {
    TFileStream entry(EntryPath(plugin_file), TFileStream::Mode::Read);
    const int64_t size = entry.Size();
    if (size <= 0 || size > int64_t(kMaxAnswers * 2 * kMaxText)) return std::nullopt;
    text.resize(size_t(size));
    for (size_t done = 0; done < text.size();) {
      const size_t n = entry.Read(text.data() + done, text.size() - done);
      if (n == 0) return std::nullopt;
      done += n;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return ParseEntry(text, plugin_file, *stamp);
}

void PluginInfoCache::Store(const std::string& plugin_file, const PluginInfoRecord& record) const {
  if (folder_.empty()) return;
  const std::optional<FileStamp> stamp = StampOf(plugin_file);
  if (!stamp) return;
  const std::string text = EntryText(plugin_file, *stamp, record);
  try {
    std::filesystem::create_directories(folder_ + "/plugin-info");
    SaveFileWith(EntryPath(plugin_file),
                 [&](TStream& out) { out.WriteBuffer(text.data(), text.size()); });
  } catch (const std::exception&) {
    // Not cached this time.
  }
}

}  // namespace kevrale
