// Running the built kevrale-thin as a user does, in a folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "TempFolder.h"

namespace kevrale::test {

struct RunResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command and collects what it prints.
inline RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.output.append(buf.data(), n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

// kevrale-thin with `args`. Its configuration folder is one that does not
// exist, so that no Susie folder setting of the user's takes part: the
// plug-ins it finds are those of the build's program folder.
inline RunResult RunCli(const std::string& args) {
  return RunCommand("XDG_CONFIG_HOME=/nonexistent/kevrale-tests " +
                    Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " " + args);
}

// A fresh temporary folder for each test.
class CliFolderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }

  TempFolder dir_;
};

}  // namespace kevrale::test
