// Helpers of the plug-in tests: temporary folders, copies of the test
// plug-ins, and settings of the process that a test changes for a while.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace kevrale::test {

// A fresh folder under the system's temporary folder, removed with all it
// holds at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kevrale-spi-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // A sub-folder, created when missing; no trailing "/".
  std::string Sub(const std::string& name) const {
    const std::string path = path_ + "/" + name;
    std::filesystem::create_directories(path);
    return path;
  }

 private:
  std::string path_;
};

// The built test plug-in `name` ("in_png" for in_png.spi).
inline std::string TestSpi(const std::string& name) {
  return std::string(KEVRALE_TEST_SPI_DIR) + "/" + name + ".spi";
}

// Copies test plug-in `name` into `folder` as `as` (default: its own name);
// returns the copy's path.
inline std::string CopySpi(const std::string& name, const std::string& folder,
                           std::string as = std::string()) {
  if (as.empty()) as = name + ".spi";
  const std::string target = folder + "/" + as;
  std::filesystem::copy_file(TestSpi(name), target,
                             std::filesystem::copy_options::overwrite_existing);
  return target;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Sets (or with nullopt unsets) an environment variable for the test's
// duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Makes `folder` the current folder for the test's duration.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedCurrentFolder() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
  }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::filesystem::path old_;
};

// Points the Susie plug-in folder setting at `folder` through a settings
// file under a temporary configuration home.
class ScopedSusieFolder {
 public:
  ScopedSusieFolder(const TempFolder& temp, const std::string& folder)
      : env_("XDG_CONFIG_HOME", temp.Sub("config")) {
    WriteFile(temp.Path() + "/config/Dravello/Susie.conf", "[Plug-in]\nPath=" + folder + "\n");
  }

 private:
  ScopedEnv env_;
};

}  // namespace kevrale::test
