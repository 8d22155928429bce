#include "platform/FileName.h"

#include <algorithm>

namespace kevrale {

namespace {

constexpr char FoldLower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr char FoldUpper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Where the file-name part begins.
size_t NameStart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Where the extension begins, or npos.
size_t ExtStart(std::string_view path) {
  const size_t dot = path.rfind('.');
  return dot == std::string_view::npos || dot < NameStart(path) ? std::string_view::npos : dot;
}

}  // namespace

std::string_view ExtractFileName(std::string_view path) {
  return path.substr(NameStart(path));
}

std::string_view ExtractFilePath(std::string_view path) {
  return path.substr(0, NameStart(path));
}

std::string_view ExtractFileExt(std::string_view path) {
  const size_t dot = ExtStart(path);
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot);
}

std::string_view ChangeFileExtToNone(std::string_view path) {
  return path.substr(0, std::min(ExtStart(path), path.size()));
}

std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = FoldLower(c);
  return out;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = FoldUpper(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldLower(x) == FoldLower(y);
         });
}

}  // namespace kevrale
