// Thinning a BMP file without holding the picture: its rows are read from
// the file as the sweep needs them and each row goes to the result as soon
// as the sweep has written it back. The result is the file that loading
// the whole picture, thinning it and saving it gives, byte for byte.
// Further sweeps run chained, 19 rows apart, so memory grows with their
// number and not with the height; with --sweeps all (and a number of
// sweeps that the height cannot pay for, see ThinsInTwoReadings) the file
// is read twice and two bits a pixel of the whole picture are kept.
#pragma once

#include <string>

#include "cli/Options.h"

namespace kevrale::cli {

// Whether the options let an image be streamed, before its file is looked
// at: a source that loads through the program's own BMP reader (by its
// extension, as the picture's format registry finds it), a raster result
// (BMP, PNG or TIFF) and no pruning, which needs the whole thinned picture.
bool StreamingAllowed(const std::string& source, const Options& options);

// The threads a streamed run of `source` into `destination` uses (see
// RowPipeline): one thread a core up to three (reading, the sweep,
// writing), three for rows that are decoded or compressed on a machine of
// two cores or more, one thread for all where several images run at once
// (-j).
int StreamThreads(const Options& options, const std::string& source,
                  const std::string& destination);

// Thins `source` into `destination` ("-": standard output) as
// ThinImageFile does, streaming, with `threads` threads (see RowPipeline)
// and bands of `band_rows` rows (0: a size that suits the width). Raises
// what the whole-picture run raises for the same file, with the old result
// kept. Returns false, having written nothing, where the file is not
// streamed: an RLE-coded or empty picture, or a result that would replace
// the source file itself.
bool ThinStreamed(const std::string& source, const std::string& destination, const Options& options,
                  int threads, int band_rows = 0);

}  // namespace kevrale::cli
