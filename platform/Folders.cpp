#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/FileName.h"

namespace kevrale {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// readlink into a buffer that grows until the whole target fits.
std::string ReadLink(const char* path) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink(path, buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (size_t(n) < buffer.size()) {
      buffer.resize(size_t(n));
      return buffer;
    }
    if (buffer.size() >= (size_t(1) << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ProgramFolder() {
  std::string exe = ReadLink("/proc/self/exe");
  if (exe.empty() || exe.front() != '/') return std::string();
  const size_t slash = exe.rfind('/');
  return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string CurrentFolder() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE || buffer.size() >= (size_t(1) << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string AbsoluteName(std::string name) {
  if (name.empty() || name.front() == '/') return name;
  while (name.size() > 2 && name.compare(0, 2, "./") == 0) name.erase(0, 2);
  std::string folder = CurrentFolder();
  if (folder.empty()) return name;
  if (folder.back() != '/') folder += '/';
  return folder + name;
}

std::vector<std::string> ListFolder(const std::string& folder, const std::string& mask) {
  std::vector<std::string> names;
  const std::string where = folder.empty() ? std::string(".") : folder;
  if (where.find('\0') != std::string::npos || mask.find('\0') != std::string::npos) return names;
  std::unique_ptr<DIR, DirCloser> dir(opendir(where.c_str()));
  if (!dir) return names;
  const int fd = dirfd(dir.get());
  // Both sides folded to lower case: fnmatch's own folding follows the
  // locale, which would fold letters beyond ASCII too.
  const std::string folded_mask = AsciiLowerCase(mask);
  while (const dirent* entry = readdir(dir.get())) {
    const char* name = entry->d_name;
    if (name[0] == '.') continue;
    if (fnmatch(folded_mask.c_str(), AsciiLowerCase(name).c_str(), 0) != 0) continue;
    // fstatat follows a symbolic link to what it names.
    struct stat st {};
    if (fstatat(fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    names.emplace_back(name);
  }
  // The raw listing follows the file system's hashing, which differs from
  // machine to machine; by name, plug-ins load (and claim extensions) in
  // the same order everywhere.
  std::sort(names.begin(), names.end());
  return names;
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::string();
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace kevrale
