#include "app/UndoHistory.h"

#include <memory>

#include "picture/TPicture.h"

namespace kevrale {

namespace {

// The bytes a copy of the picture takes, known before it is made.
size_t SnapshotBytes(const TPicture& picture) {
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(picture.Graphic()))
    return bitmap->BitsSize();
  return TBitmap::StrideOf(picture.Width(), TPixelFormat::pf32bit) * size_t(picture.Height());
}

// The picture as a bitmap of its own: a bitmap's pixels as they are, any
// other graphic as it is drawn.
TBitmap Snapshot(const TPicture& picture) {
  const TGraphic* graphic = picture.Graphic();
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic)) return TBitmap(*bitmap);
  TBitmap copy;
  if (graphic != nullptr && !graphic->Empty()) copy.AssignImage(graphic->Render());
  return copy;
}

}  // namespace

void UndoHistory::Record(const TPicture& picture) {
  for (const TBitmap& undone : redo_) bytes_ -= undone.BitsSize();
  redo_.clear();
  if (SnapshotBytes(picture) > max_bytes_) {
    Clear();
    return;
  }
  undo_.push_back(Snapshot(picture));
  bytes_ += undo_.back().BitsSize();
  Trim();
}

void UndoHistory::Forget() {
  if (undo_.empty()) return;
  bytes_ -= undo_.back().BitsSize();
  undo_.pop_back();
}

bool UndoHistory::Undo(TPicture& picture) {
  return Swap(picture, undo_, redo_);
}

bool UndoHistory::Redo(TPicture& picture) {
  return Swap(picture, redo_, undo_);
}

bool UndoHistory::Swap(TPicture& picture, std::deque<TBitmap>& from, std::deque<TBitmap>& to) {
  if (from.empty()) return false;
  to.push_back(Snapshot(picture));
  bytes_ += to.back().BitsSize();
  auto restored = std::make_unique<TBitmap>(std::move(from.back()));
  from.pop_back();
  bytes_ -= restored->BitsSize();
  picture.SetGraphic(std::move(restored));
  Trim();
  return true;
}

void UndoHistory::Clear() {
  undo_.clear();
  redo_.clear();
  bytes_ = 0;
}

void UndoHistory::Trim() {
  const auto over = [this] {
    return bytes_ > max_bytes_ || undo_.size() + redo_.size() > kMaxSteps;
  };
  while (over() && !undo_.empty()) {
    bytes_ -= undo_.front().BitsSize();
    undo_.pop_front();
  }
  while (over() && !redo_.empty()) {
    bytes_ -= redo_.front().BitsSize();
    redo_.pop_front();
  }
}

}  // namespace kevrale
