#include "picture/PngImageData.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>

#include "picture/PngFilters.h"
#include "picture/RowStride.h"
#include "platform/BigEndian.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// The compressed data is read this much at a time: little enough that it,
// a group of rows and their unfiltered copy stay in the processor's second
// level cache (256 KiB took a fifth longer on a 1 MiB one).
constexpr size_t kInputPiece = size_t(32) << 10;

}  // namespace

PngImageData::PngImageData(TStream& stream, size_t row_bytes, size_t pixel_bytes, int height)
    : stream_(stream),
      row_bytes_(row_bytes),
      pixel_bytes_(pixel_bytes),
      height_(height),
      window_stride_(SpreadRowStride(row_bytes + 1)),
      state_(std::make_unique<inflate_state>()),
      window_(window_stride_ * kMostGroupRows),
      last_(row_bytes, 0) {
  Restart();
}

PngImageData::~PngImageData() = default;

void PngImageData::Restart() {
  next_ = 0;
  std::fill(last_.begin(), last_.end(), uint8_t(0));
  // Raw deflate after the zlib header, which is checked here: the
  // stream's checksum is not (libpng is told to ignore it too).
  isal_inflate_init(state_.get());
  state_->crc_flag = ISAL_DEFLATE;
  state_->avail_in = 0;
  chunk_at_ = 8;
  data_at_ = data_left_ = 0;
  idat_met_ = data_ended_ = false;
  file_size_ = -1;
  broken_ = false;
  header_read_ = false;
}

bool PngImageData::NextInputByte(uint8_t& byte) {
  if (state_->avail_in == 0 && !ReadInput()) return false;
  byte = *state_->next_in++;
  --state_->avail_in;
  return true;
}

bool PngImageData::SkipZlibHeader() {
  // Deflate with a header that checks and no preset dictionary (a PNG has
  // none to give), and a window of 32 KiB: ISA-L would look back past a
  // smaller one where zlib may refuse to.
  uint8_t method = 0, flags = 0;
  if (!NextInputByte(method) || !NextInputByte(flags)) return false;
  return method == 0x78 && (method * 256 + flags) % 31 == 0 && (flags & 0x20) == 0;
}

bool PngImageData::ReadInput() {
  // A read that fails is libpng's to meet and report.
  try {
    return ReadNextPiece();
  } catch (...) {
    return false;
  }
}

bool PngImageData::ReadNextPiece() {
  if (file_size_ < 0) file_size_ = stream_.Size();
  while (data_left_ == 0) {
    // The next chunk: its contents, if it is IDAT; the end of the data if
    // it is another after the IDAT ones.
    if (data_ended_) return false;
    uint8_t head[8];
    if (stream_.ReadAt(head, 8, chunk_at_) != 8) return false;
    const uint32_t length = GetBig32(head);
    if (length > 0x7FFFFFFFu || int64_t(length) > file_size_ - chunk_at_ - 12) return false;
    const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
    if (idat) {
      idat_met_ = true;
      data_at_ = chunk_at_ + 8;
      data_left_ = length;
    } else if (idat_met_ || std::memcmp(head + 4, "IEND", 4) == 0) {
      data_ended_ = true;
      return false;
    }
    chunk_at_ += 12 + int64_t(length);
  }
  const size_t piece = size_t(std::min<int64_t>(data_left_, int64_t(kInputPiece)));
  input_.resize(piece);
  if (stream_.ReadAt(input_.data(), piece, data_at_) != piece) return false;
  data_at_ += int64_t(piece);
  data_left_ -= int64_t(piece);
  state_->next_in = input_.data();
  state_->avail_in = uint32_t(piece);
  return true;
}

bool PngImageData::Inflate(uint8_t* out, size_t bytes) {
  state_->next_out = out;
  state_->avail_out = uint32_t(bytes);
  while (state_->avail_out > 0) {
    // A stream that ended, or failed, before the rows did.
    if (state_->block_state == ISAL_BLOCK_FINISH) return false;
    // With no more data, what the inflater holds of it may still do.
    if (state_->avail_in == 0) ReadInput();
    const uint32_t in_before = state_->avail_in, out_before = state_->avail_out;
    if (isal_inflate(state_.get()) != ISAL_DECOMP_OK) {
      // Damage just past these rows fails the next ones.
      broken_ = true;
      return state_->avail_out == 0;
    }
    if (state_->avail_in == in_before && state_->avail_out == out_before) return false;
  }
  return true;
}

bool PngImageData::NextRows(uint8_t* rows, size_t stride, int count) {
  if (count <= 0) return true;
  if (broken_ || count > height_ - next_) return false;
  if (!header_read_) {
    header_read_ = true;
    broken_ = !SkipZlibHeader();
    if (broken_) return false;
  }
  for (int done = 0; done < count;) {
    const int group = std::min(count - done, int(kMostGroupRows));
    uint8_t* out = rows + size_t(done) * stride;
    const uint8_t* above = done == 0 ? last_.data() : out - stride;
    bool unpacked = true;
    for (int i = 0; i < group && unpacked; ++i)
      unpacked = Inflate(window_.data() + size_t(i) * window_stride_, row_bytes_ + 1);
    if (!unpacked || !UnfilterRowGroup(window_.data(), window_stride_, above, out, stride,
                                       row_bytes_, pixel_bytes_, group)) {
      broken_ = true;
      return false;
    }
    done += group;
    next_ += group;
  }
  std::memcpy(last_.data(), rows + size_t(count - 1) * stride, row_bytes_);
  return true;
}

}  // namespace kevrale
