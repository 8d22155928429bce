// Where a sweep of the engine takes its rows from and gives them back: the
// picture's own rows when a whole picture is thinned, rows streamed from a
// file and on to another when it is not. The sweep is the same either way.
#pragma once

#include <cstdint>

namespace kevrale {

// A row of pixels, B G R (3 bytes a pixel) or B G R A (4).
struct SweepRow {
  uint8_t* pixels = nullptr;
  int bytes_per_pixel = 3;
};

class ThinningRows {
 public:
  virtual ~ThinningRows() = default;

  // Row y, to be loaded into the ring. Called for y = 0, 1, ... in order,
  // each row once in each reading (sweeps that keep the whole picture's
  // cells read the rows twice, see ThinsInTwoReadings); the row must stay
  // where it is until Done(y).
  virtual SweepRow Load(int y) = 0;

  // The row that takes row y's result, called 19 rows after Load(y) (19
  // more for each further sweep chained, RowsHeldBySweeps; at once in the
  // second of two readings), in the same order. `removes` tells whether
  // any pixel of it is removed; the sweep then paints those pixels into the
  // row returned. A row whose pixels are null ends the sweep: the caller
  // has seen what it wanted. The first of two readings calls no Output.
  virtual SweepRow Output(int y, bool removes) = 0;

  // Row y holds its final pixels; `changed` when the sweep painted any.
  virtual void Done(int y, bool changed) = 0;
};

}  // namespace kevrale
