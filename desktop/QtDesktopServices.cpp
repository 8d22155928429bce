#include "desktop/QtDesktopServices.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>

namespace kevrale {

std::optional<QString> QtDesktopServices::ChooseFile(QWidget* parent,
                                                     const FileDialogRequest& request) {
  QFileDialog dialog(parent, request.title);
  // Qt's own dialog shows the descriptions exactly as the program writes
  // them (the pattern part of each name filter is hidden) on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  // No dialog insists that a typed name exists or asks before replacing.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(request.kind == FileDialogRequest::Kind::Save ? QFileDialog::AcceptSave
                                                                     : QFileDialog::AcceptOpen);
  dialog.setNameFilters(request.name_filters);
  if (!request.file_name.isEmpty()) {
    const QFileInfo last(request.file_name);
    dialog.setDirectory(last.absolutePath());
    dialog.selectFile(last.fileName());
  } else {
    dialog.setDirectory(QDir::currentPath());
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first();
}

std::optional<TColor> QtDesktopServices::ChooseColor(QWidget* parent, TColor initial) {
  // Qt keeps the custom colours of its colour dialog for the whole run of
  // the program, across dialogs.
  QColorDialog dialog(QColor(GetRValue(initial), GetGValue(initial), GetBValue(initial)), parent);
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  dialog.setWindowTitle(QStringLiteral("色の設定"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QColor chosen = dialog.selectedColor();
  return RGB(uint8_t(chosen.red()), uint8_t(chosen.green()), uint8_t(chosen.blue()));
}

void QtDesktopServices::ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                                    MessageKind kind) {
  if (parent == nullptr) parent = QApplication::activeWindow();
  QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtDesktopServices::OpenUrl(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

bool QtDesktopServices::ClipboardHasImage() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data != nullptr && data->hasImage();
}

QImage QtDesktopServices::ClipboardImage() {
  return QGuiApplication::clipboard()->image();
}

void QtDesktopServices::SetClipboardImage(const QImage& image) {
  QGuiApplication::clipboard()->setImage(image);
}

}  // namespace kevrale
