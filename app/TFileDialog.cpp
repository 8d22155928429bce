#include "app/TFileDialog.h"

#include <QFile>
#include <QFileInfo>

#include "app/FilterText.h"

namespace kevrale {

TFileDialog::TFileDialog(FileDialogRequest::Kind kind, QString default_ext, QString filter)
    : Filter(std::move(filter)), DefaultExt(std::move(default_ext)), kind_(kind) {}

bool TFileDialog::Execute(QWidget* parent) {
  FileDialogRequest request;
  request.kind = kind_;
  request.title = kind_ == FileDialogRequest::Kind::Save ? QStringLiteral("名前を付けて保存")
                                                         : QStringLiteral("開く");
  request.filter = Filter;
  const bool save = kind_ == FileDialogRequest::Kind::Save;
  request.name_filters = ToNameFilters(Filter, !save);
  request.file_name = FileName;
  request.filter_index = FilterIndex;
  std::optional<FileChoice> chosen = Services().ChooseFile(parent, request);
  if (!chosen || chosen->file_name.isEmpty()) return false;
  if (chosen->filter_index < 0 || chosen->filter_index >= request.name_filters.size())
    chosen->filter_index = FilterIndex;
  QString name = chosen->file_name;
  const QString typed = QFileInfo(name).fileName();
  if (save) {
    if (!FilterNamesExtension(Filter, QFileInfo(name).suffix())) {
      QString extension = FilterExtension(Filter, chosen->filter_index);
      if (extension.isEmpty()) extension = DefaultExt;
      if (name.endsWith(QLatin1Char('.'))) name.chop(1);
      if (!extension.isEmpty()) name += QLatin1Char('.') + extension;
    }
  } else if (!DefaultExt.isEmpty() && !typed.contains(QLatin1Char('.')) &&
             !QFileInfo::exists(name)) {
    // A file chosen to be opened that exists under the name as it is is
    // meant as it is.
    name += QLatin1Char('.') + DefaultExt;
  }
  FileName = name;
  FilterIndex = chosen->filter_index;
  return true;
}

std::string TFileDialog::FileNameBytes() const {
  return QFile::encodeName(FileName).toStdString();
}

}  // namespace kevrale
