// File names as a Windows plug-in under Wine takes them: the path on drive
// Z: (Wine's view of the Linux root) in the plug-in process's ANSI code
// page. A path that the code page cannot write, or that holds a character
// Windows forbids in names, is reached through a symbolic link with a plain
// ASCII name in a private temporary folder.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace kevrale {

class WindowsFileNames {
 public:
  // `code_page`: the plug-in process's ANSI code page (65001: UTF-8).
  explicit WindowsFileNames(uint32_t code_page) : code_page_(code_page) {}
  ~WindowsFileNames();
  WindowsFileNames(const WindowsFileNames&) = delete;
  WindowsFileNames& operator=(const WindowsFileNames&) = delete;

  // The name the plug-in gets for `path` (relative paths are taken from the
  // current folder); an empty name stays empty. Makes a link when needed;
  // a link stays until sixteen newer ones have been made, or until this
  // object ends. Empty when even a link cannot be made.
  std::string ForPlugin(const std::string& path);

  // The Windows form of an absolute `path` in `code_page`, or nullopt when
  // the code page cannot write it.
  static std::optional<std::string> Convert(const std::string& path, uint32_t code_page);

 private:
  std::string LinkFolder();

  uint32_t code_page_;
  std::string link_folder_;
  unsigned next_link_ = 0;
  std::deque<std::pair<std::string, std::string>> links_;  // path, link
};

}  // namespace kevrale
