// The eight bytes every PNG file begins with.
#pragma once

#include <cstdint>

namespace kevrale {

inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace kevrale
