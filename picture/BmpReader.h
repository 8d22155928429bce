// Reads a Windows BMP file (14-byte file header, information header,
// optional colour table, pixel array) from the stream's current position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kevrale {

class TBitmap;
class TStream;

// Decodes into `out`. Anything that is not a valid BMP raises
// EInvalidGraphic "ビットマップイメージが不正です"; `out` may then hold
// anything, so callers decode into a fresh bitmap.
void ReadBmp(TStream& stream, TBitmap& out);

// Hands out the `size` bytes at `offset` of the stream as a block the
// bitmap may keep, or nullptr when it cannot.
using BmpPixelStore = std::function<std::shared_ptr<uint8_t[]>(uint64_t offset, size_t size)>;

// As ReadBmp, but where the stored rows already have the bitmap's layout
// (24 bits, bottom-up, no coding) they are taken from `store` in place
// instead of being copied. The result is the same.
void ReadBmp(TStream& stream, TBitmap& out, const BmpPixelStore& store);

}  // namespace kevrale
