// The BMP reader on bytes held in memory, and the check that it refuses
// them for the expected reason.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "picture/BmpReader.h"
#include "picture/TBitmap.h"
#include "platform/Stream.h"

namespace kevrale::test {

inline TBitmap ReadBmpBytes(const std::vector<uint8_t>& bytes) {
  TBorrowedMemoryStream stream(bytes.data(), bytes.size());
  TBitmap bitmap;
  ReadBmp(stream, bitmap);
  return bitmap;
}

// The reader refuses the bytes with the format's one message, and the guard
// that refused them is `reason`.
inline void ExpectBmpRefused(const std::vector<uint8_t>& bytes, BmpRefusal reason) {
  try {
    ReadBmpBytes(bytes);
    ADD_FAILURE() << "decoded, but should be refused: " << BmpRefusalText(reason);
  } catch (const EInvalidBmp& e) {
    EXPECT_STREQ(e.what(), "ビットマップイメージが不正です");
    EXPECT_EQ(e.Reason(), reason) << "refused for " << BmpRefusalText(e.Reason()) << ", not for "
                                  << BmpRefusalText(reason);
  }
}

}  // namespace kevrale::test
