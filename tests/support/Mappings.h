// The memory mappings of this process, as the kernel lists them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace kevrale::test {

// The line of /proc/self/maps whose range holds `address`; empty for none.
inline std::string MappingOf(const void* address) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (std::string line; std::getline(maps, line);) {
    uintptr_t begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &begin, &end) == 2 && at >= begin && at < end)
      return line;
  }
  return std::string();
}

}  // namespace kevrale::test
