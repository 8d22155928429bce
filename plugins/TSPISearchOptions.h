// The places that a plug-in search without a folder visits, as a set of
// one byte (bit 1 << option).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace kevrale {

// In the order in which a search visits them. spsSystemDir and spsWindowsDir
// name Windows folders and give nothing on this platform.
enum TSPISearchOption : uint8_t {
  spsSusieDir,
  spsAppDir,
  spsCurrentDir,
  spsSystemDir,
  spsWindowsDir
};

class TSPISearchOptions {
 public:
  constexpr TSPISearchOptions() = default;
  constexpr TSPISearchOptions(std::initializer_list<TSPISearchOption> options) {
    for (TSPISearchOption o : options) Include(o);
  }

  constexpr bool Contains(TSPISearchOption o) const { return (bits_ & Bit(o)) != 0; }
  constexpr void Include(TSPISearchOption o) { bits_ = uint8_t(bits_ | Bit(o)); }
  constexpr void Exclude(TSPISearchOption o) { bits_ = uint8_t(bits_ & ~Bit(o)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint8_t Bits() const { return bits_; }

  friend constexpr bool operator==(TSPISearchOptions a, TSPISearchOptions b) = default;

 private:
  static constexpr uint8_t Bit(TSPISearchOption o) { return uint8_t(1u << o); }
  uint8_t bits_ = 0;
};

}  // namespace kevrale
