// The two runs of one picture that the streaming tests compare: the
// whole-picture run and the streamed run, each as its result file's bytes
// or the message it raised.
#pragma once

#include <exception>
#include <filesystem>
#include <string>

#include "Files.h"
#include "cli/ImageRun.h"
#include "cli/StreamedRun.h"

namespace kevrale::cli {

// A streamed run's thread count and band size (0: the run's own choice).
struct Staging {
  int threads;
  int band_rows;
};

// The whole-picture run's result file written to `out`, or "error: " and
// the message it raised.
inline std::string WholeRunResult(const std::string& source, const std::string& out,
                                  const Options& options) {
  std::filesystem::remove(out);
  try {
    ThinWholePicture(source, out, options);
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
  return test::ReadText(out);
}

// The streamed run's, or "not streamed" where it leaves the file to the
// whole-picture run.
inline std::string StreamedRunResult(const std::string& source, const std::string& out,
                                     const Options& options, Staging staging) {
  std::filesystem::remove(out);
  try {
    if (!ThinStreamed(source, out, options, staging.threads, staging.band_rows))
      return "not streamed";
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
  return test::ReadText(out);
}

}  // namespace kevrale::cli
