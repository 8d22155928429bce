// Desktop services for the window tests: dialogs answer from a script, and
// messages, opened addresses and the clipboard are recorded.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "desktop/DesktopServices.h"

namespace kevrale::test {

class ScriptedServices : public DesktopServices {
 public:
  struct Message {
    QString caption;
    QString text;
    MessageKind kind;
  };

  // Each file dialog takes the next answer; none left, or nullopt, cancels.
  std::deque<std::optional<QString>> file_answers;
  // The filter chosen with each confirmed answer, in turn; none left keeps
  // the one the dialog showed first.
  std::deque<int> filter_answers;
  std::vector<FileDialogRequest> file_requests;
  std::deque<std::optional<TColor>> color_answers;
  std::vector<TColor> color_requests;
  std::vector<Message> messages;
  std::vector<QUrl> opened;
  bool clipboard_has_image = false;
  QImage clipboard_image;
  // Called while a message is shown (to look at the state at that moment).
  std::function<void(const Message&)> on_message;

  std::optional<FileChoice> ChooseFile(QWidget*, const FileDialogRequest& request) override {
    file_requests.push_back(request);
    if (file_answers.empty()) return std::nullopt;
    if (!file_answers.front()) {
      file_answers.pop_front();
      return std::nullopt;
    }
    FileChoice answer{*file_answers.front(), request.filter_index};
    file_answers.pop_front();
    if (!filter_answers.empty()) {
      answer.filter_index = filter_answers.front();
      filter_answers.pop_front();
    }
    return answer;
  }
  std::optional<TColor> ChooseColor(QWidget*, TColor initial) override {
    color_requests.push_back(initial);
    if (color_answers.empty()) return std::nullopt;
    std::optional<TColor> answer = color_answers.front();
    color_answers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget*, const QString& caption, const QString& text,
                   MessageKind kind) override {
    messages.push_back({caption, text, kind});
    if (on_message) on_message(messages.back());
  }
  void OpenUrl(const QUrl& url) override { opened.push_back(url); }
  bool ClipboardHasImage() override { return clipboard_has_image; }
  QImage ClipboardImage() override { return clipboard_image; }
  void SetClipboardImage(const QImage& image) override {
    clipboard_has_image = !image.isNull();
    clipboard_image = image;
  }
};

// Installs scripted services for the lifetime of a test.
class ScopedServices {
 public:
  ScopedServices() {
    auto services = std::make_unique<ScriptedServices>();
    scripted_ = services.get();
    previous_ = SetServices(std::move(services));
  }
  ~ScopedServices() { SetServices(std::move(previous_)); }
  ScriptedServices* operator->() const { return scripted_; }
  ScriptedServices& operator*() const { return *scripted_; }

 private:
  ScriptedServices* scripted_;
  std::unique_ptr<DesktopServices> previous_;
};

}  // namespace kevrale::test
