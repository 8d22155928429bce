#include "platform/Format.h"

#include <vector>

namespace kevrale {

std::string Format(std::string_view format, std::initializer_list<std::string_view> args) {
  const std::vector<std::string_view> values(args);
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Optional argument index "N:".
    size_t j = i + 1;
    size_t index = 0;
    bool has_index = false;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
      index = index * 10 + size_t(format[j] - '0');
      ++j;
      has_index = true;
    }
    if (has_index && j < format.size() && format[j] == ':') {
      next = index;
      ++j;
    } else {
      j = i + 1;
    }
    if (j < format.size() && (format[j] == 's' || format[j] == 'd')) {
      if (next < values.size()) out += values[next];
      ++next;
      i = j;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kevrale
