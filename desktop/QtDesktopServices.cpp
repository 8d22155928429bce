#include "desktop/QtDesktopServices.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>

#include "desktop/DialogOwner.h"

namespace kevrale {

namespace {

// Room beside the caption in a title bar: the window's icon and up to three
// buttons with their margins.
constexpr int kTitleBarRoom = 128;

// A box as narrow as a short text ("終了しました") leaves the window manager
// too little title bar for the caption, which it then cuts to "…": the box
// is made at least as wide as the caption needs.
void FitCaption(QMessageBox& box) {
  QFont title = box.font();
  title.setBold(true);
  const int needed = QFontMetrics(title).horizontalAdvance(box.windowTitle()) + kTitleBarRoom;
  // The box sizes itself from its layout's minimum width: a spacer that
  // wide shares the text's cell, so that a longer text still widens (or
  // wraps) the box as it would without it.
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  const int index = grid != nullptr && label != nullptr ? grid->indexOf(label) : -1;
  if (index < 0) return;
  int row = 0, column = 0, rows = 0, columns = 0;
  grid->getItemPosition(index, &row, &column, &rows, &columns);
  grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), row, column);
}

// The index of the name filter the dialog shows. With the filter details
// hidden, Qt gives either the whole name filter or only its description
// (what the type box shows), depending on its version.
int ChosenFilter(const QFileDialog& dialog, const QStringList& filters) {
  const QString selected = dialog.selectedNameFilter();
  const qsizetype whole = filters.indexOf(selected);
  if (whole >= 0) return int(whole);
  for (qsizetype i = 0; i < filters.size(); ++i) {
    const qsizetype details = filters[i].lastIndexOf(QLatin1String(" ("));
    if (details > 0 && filters[i].left(details).trimmed() == selected.trimmed()) return int(i);
  }
  return -1;
}

}  // namespace

std::optional<FileChoice> QtDesktopServices::ChooseFile(QWidget* parent,
                                                        const FileDialogRequest& request) {
  QFileDialog dialog(DialogOwner(parent), request.title);
  StayAboveOwner(dialog);
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
  if (request.filter_index > 0 && request.filter_index < request.name_filters.size())
    dialog.selectNameFilter(request.name_filters[request.filter_index]);
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
  // A filter that cannot be told is the one the dialog was opened on.
  const int filter = ChosenFilter(dialog, request.name_filters);
  return FileChoice{chosen.first(), filter >= 0 ? filter : request.filter_index};
}

std::optional<TColor> QtDesktopServices::ChooseColor(QWidget* parent, TColor initial) {
  // Qt keeps the custom colours of its colour dialog for the whole run of
  // the program, across dialogs.
  QColorDialog dialog(QColor(GetRValue(initial), GetGValue(initial), GetBValue(initial)),
                      DialogOwner(parent));
  StayAboveOwner(dialog);
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  dialog.setWindowTitle(QStringLiteral("色の設定"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QColor chosen = dialog.selectedColor();
  return RGB(uint8_t(chosen.red()), uint8_t(chosen.green()), uint8_t(chosen.blue()));
}

void QtDesktopServices::ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                                    MessageKind kind) {
  QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok, DialogOwner(parent));
  box.setTextFormat(Qt::PlainText);
  StayAboveOwner(box);
  FitCaption(box);
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
