#include "ipc/WindowsFileNames.h"

#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/FileName.h"
#include "platform/Folders.h"

namespace kevrale {

namespace {

constexpr uint32_t kUtf8CodePage = 65001;
constexpr size_t kMostLinks = 16;

// Characters that a Windows name cannot hold ("\" would split the name).
bool ForbiddenInWindows(unsigned char c) {
  return c < 0x20 || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|';
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// `text` from UTF-8 into `code_page`, refusing what it cannot write.
std::optional<std::string> Encode(const std::string& text, uint32_t code_page) {
  if (IsAscii(text) || code_page == kUtf8CodePage) return text;
  const std::string name = "CP" + std::to_string(code_page);
  const iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == iconv_t(-1)) return std::nullopt;
  std::string out(text.size() * 2 + 8, '\0');
  char* in_p = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* out_p = out.data();
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
  iconv_close(cd);
  if (done == size_t(-1) || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::optional<std::string> WindowsFileNames::Convert(const std::string& path, uint32_t code_page) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  for (unsigned char c : path)
    if (ForbiddenInWindows(c)) return std::nullopt;
  // The separators are turned before encoding, where "/" and "\\" are still
  // characters of their own (a trail byte of a double-byte character may be
  // 0x5C, which Windows reads as part of that character).
  std::string windows_path = path;
  for (char& c : windows_path)
    if (c == '/') c = '\\';
  std::optional<std::string> encoded = Encode(windows_path, code_page);
  if (!encoded) return std::nullopt;
  return "Z:" + *encoded;
}

WindowsFileNames::~WindowsFileNames() {
  for (const auto& entry : links_) unlink(entry.second.c_str());
  if (!link_folder_.empty()) rmdir(link_folder_.c_str());
}

std::string WindowsFileNames::LinkFolder() {
  if (!link_folder_.empty()) return link_folder_;
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  // The link's own path must be plain.
  if (!Convert(base, 0)) base = "/tmp";
  std::string pattern = base + "/kevrale-names-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) link_folder_ = pattern;
  return link_folder_;
}

std::string WindowsFileNames::ForPlugin(const std::string& path) {
  if (path.empty()) return path;
  const std::string absolute = path[0] == '/' ? path : CurrentFolder() + "/" + path;
  if (std::optional<std::string> direct = Convert(absolute, code_page_)) return *direct;

  for (const auto& entry : links_)
    if (entry.first == absolute) return *Convert(entry.second, code_page_);
  const std::string folder = LinkFolder();
  if (folder.empty()) return std::string();
  // The link keeps the extension when it is plain, for plug-ins that look
  // at the name.
  std::string ext(ExtractFileExt(absolute));
  if (!Convert("/" + ext, 0)) ext.clear();
  const std::string link = folder + "/f" + std::to_string(next_link_++) + ext;
  if (symlink(absolute.c_str(), link.c_str()) != 0) return std::string();
  links_.emplace_back(absolute, link);
  if (links_.size() > kMostLinks) {
    unlink(links_.front().second.c_str());
    links_.pop_front();
  }
  return *Convert(link, code_page_);
}

}  // namespace kevrale
