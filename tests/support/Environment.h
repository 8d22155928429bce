// Settings of the test process changed for one test and put back after it:
// an environment variable, the current folder, the Susie folder setting.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TempFolder.h"

namespace kevrale::test {

// Sets (or with nullopt unsets) an environment variable for the test's
// duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
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
    WriteText(temp.Path() + "/config/Dravello/Susie.conf", "[Plug-in]\nPath=" + folder + "\n");
  }

 private:
  ScopedEnv env_;
};

}  // namespace kevrale::test
