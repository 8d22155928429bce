// Answers the modal boxes and dialogs of a test as they open.
#pragma once

#include <deque>
#include <functional>
#include <utility>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace kevrale::test {

// Answers the modal boxes as they open, one handler each, in order. A box
// that no handler is left for is closed, so that a test never hangs.
class ModalScript {
 public:
  explicit ModalScript(std::deque<std::function<void(QWidget&)>> handlers)
      : handlers_(std::move(handlers)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(5);
  }
  size_t Unanswered() const { return handlers_.size(); }
  int Unexpected() const { return unexpected_; }

 private:
  void Poll() {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || !box->isVisible() || box == last_) return;
    last_ = box;
    if (handlers_.empty()) {
      ++unexpected_;
      box->close();
      return;
    }
    auto handler = std::move(handlers_.front());
    handlers_.pop_front();
    handler(*box);
  }

  std::deque<std::function<void(QWidget&)>> handlers_;
  QTimer poll_;
  // Cleared when that box is destroyed: the next one may take its address.
  QPointer<QWidget> last_;
  int unexpected_ = 0;
};

}  // namespace kevrale::test
