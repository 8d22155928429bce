// The five row filters of PNG, undone: each byte of a row was stored as
// its difference from a prediction made of the byte to its left (a pixel
// before), the byte above and the byte above that one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kevrale {

// Undoes filter `type` (0 to 4) of a row of `row_bytes`: `raw` as stored,
// `above` the row above unfiltered (zeros above the first row), into
// `out`, which may not overlap either. `pixel_bytes` (1 to 8): how far
// back the byte to the left lies. False for a type past 4.
bool UnfilterRow(uint8_t type, const uint8_t* raw, const uint8_t* above, uint8_t* out,
                 size_t row_bytes, size_t pixel_bytes);

// Rows, and row bytes, that UnfilterRowGroup takes at most.
constexpr size_t kMostGroupRows = 32;
constexpr size_t kMostGroupRowBytes = size_t(1) << 16;

// Undoes the filters of `count` rows (1 to kMostGroupRows) of
// `pixel_bytes` a pixel (1, 3 or 4) together: row i's filter byte and then
// its `row_bytes` bytes (at most kMostGroupRowBytes) at `stored` + i *
// `stored_stride`, `above` the row above the first unfiltered (zeros above
// the picture's first), into `out` + i * `out_stride`. Each row runs a
// pixel behind the one above it, all in the lanes of one vector, whatever
// their filters: row by row, a byte's prediction waits for the pixel
// before, which leaves the processor idle most of the time. False where a
// row names a filter past 4. `lanes`: the widest vectors the processor
// has, or those of 16 lanes (SSE2) that every x86-64 processor has.
enum class RowGroupLanes { Widest, Sixteen };
bool UnfilterRowGroup(const uint8_t* stored, size_t stored_stride, const uint8_t* above,
                      uint8_t* out, size_t out_stride, size_t row_bytes, size_t pixel_bytes,
                      int count, RowGroupLanes lanes = RowGroupLanes::Widest);

}  // namespace kevrale
