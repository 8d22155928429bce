// One entry of a list file as the list mode runs it.
#pragma once

#include <cstdint>
#include <string>

namespace kevrale::cli {

struct ListEntry {
  size_t number = 0;      // from 1, in list order
  int64_t line = 0;       // the line of the list file where it begins, from 1
  std::string path;       // resolved against the folder of the list file
  std::string save_name;  // where its result goes
};

}  // namespace kevrale::cli
