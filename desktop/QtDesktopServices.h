// The desktop services on Qt: Qt's own file and colour dialogs, QMessageBox,
// QDesktopServices and the application clipboard.
#pragma once

#include "desktop/DesktopServices.h"

namespace kevrale {

class QtDesktopServices : public DesktopServices {
 public:
  std::optional<FileChoice> ChooseFile(QWidget* parent, const FileDialogRequest& request) override;
  std::optional<TColor> ChooseColor(QWidget* parent, TColor initial) override;
  void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                   MessageKind kind) override;
  void OpenUrl(const QUrl& url) override;
  bool ClipboardHasImage() override;
  QImage ClipboardImage() override;
  void SetClipboardImage(const QImage& image) override;
};

}  // namespace kevrale
