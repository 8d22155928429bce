// Reads a Windows BMP file (14-byte file header, information header,
// optional colour table, pixel array) from the stream's current position.
#pragma once

namespace kevrale {

class TBitmap;
class TStream;

// Decodes into `out`. Anything that is not a valid BMP raises
// EInvalidGraphic "ビットマップイメージが不正です"; `out` may then hold
// anything, so callers decode into a fresh bitmap.
void ReadBmp(TStream& stream, TBitmap& out);

}  // namespace kevrale
