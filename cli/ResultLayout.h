// The colour type of a PNG or TIFF result, known before the run: every
// pixel of the result is a pixel of the source or a removed one, painted in
// the surround colour, so the source's colours and that one hold them all.
// The source's colours are those its file declares (a grey or palette
// picture) or else those its pixels have. The streamed and the
// whole-picture run decide alike, so both write the same file.
#pragma once

#include "picture/ImageRowSource.h"
#include "picture/RasterLayout.h"
#include "platform/Color.h"

namespace kevrale::cli {

struct Options;

// The source's colours: the declared ones, else those that `add_pixels`
// puts into the table it is given (it may stop once the table overflows).
template <typename AddPixels>
ColourTable SourceColours(const SourceFacts& facts, AddPixels add_pixels) {
  ColourTable table;
  if (facts.colours)
    for (uint32_t c : *facts.colours) table.Add(c);
  else
    add_pixels(table);
  return table;
}

// The layout of a result in `format` that has alpha or not (`alpha`), from
// the source's colours and facts: the source's colours and the surround as
// a removed pixel gets it (transparent where the options say so and the
// result has alpha), at the source's density.
RasterLayout ResultLayout(ColourTable colours, const SourceFacts& facts, const Options& options,
                          bool alpha, TImageFileFormat format);

}  // namespace kevrale::cli
