// The picture's history for undo and redo: the picture as it was before
// each change (a run, a paste, a batch run), oldest first, and the pictures
// undone since the last change. Each is kept as a bitmap of its own; the
// oldest go first when more than kMaxSteps or the byte limit (kMaxBytes,
// 1 GiB, in the program) would be kept.
#pragma once

#include <cstddef>
#include <deque>

#include "picture/TBitmap.h"

namespace kevrale {

class TPicture;

class UndoHistory {
 public:
  static constexpr size_t kMaxSteps = 50;
  static constexpr size_t kMaxBytes = size_t(1) << 30;

  explicit UndoHistory(size_t max_bytes = kMaxBytes) : max_bytes_(max_bytes) {}

  // Before a change: keeps the picture as it is now and forgets what was
  // undone. A picture too large to be kept at all ends the history, as its
  // change could not be undone.
  void Record(const TPicture& picture);
  // Takes back the last Record, for a change that did not happen.
  void Forget();
  // The picture before the last change becomes the picture, and the picture
  // as it is can be redone; false, with the picture untouched, when there
  // is nothing to undo.
  bool Undo(TPicture& picture);
  // The reverse of the last Undo; false when there is nothing to redo.
  bool Redo(TPicture& picture);
  // A new history, for a newly opened picture.
  void Clear();

  size_t UndoSteps() const { return undo_.size(); }
  size_t RedoSteps() const { return redo_.size(); }
  // The bytes of pixels kept.
  size_t Bytes() const { return bytes_; }

 private:
  // Moves the picture onto `to` and the last of `from` into the picture.
  bool Swap(TPicture& picture, std::deque<TBitmap>& from, std::deque<TBitmap>& to);
  // Drops the oldest undo steps, then the furthest redo steps, until the
  // limits hold.
  void Trim();

  std::deque<TBitmap> undo_;
  std::deque<TBitmap> redo_;
  size_t max_bytes_;
  size_t bytes_ = 0;
};

}  // namespace kevrale
