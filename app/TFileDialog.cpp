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
  request.name_filters = ToNameFilters(Filter);
  request.file_name = FileName;
  request.filter_index = FilterIndex;
  std::optional<FileChoice> chosen = Services().ChooseFile(parent, request);
  if (!chosen || chosen->file_name.isEmpty()) return false;
  QString name = chosen->file_name;
  // A name without an extension gets one, except a file chosen to be opened
  // that exists under the name as it is: that file is meant.
  QString extension = DefaultExt;
  if (kind_ == FileDialogRequest::Kind::Save) {
    const QString filtered = FilterExtension(Filter, chosen->filter_index);
    if (!filtered.isEmpty()) extension = filtered;
  }
  const bool existing = kind_ == FileDialogRequest::Kind::Open && QFileInfo::exists(name);
  if (!extension.isEmpty() && !existing && !QFileInfo(name).fileName().contains(QLatin1Char('.')))
    name += QLatin1Char('.') + extension;
  FileName = name;
  FilterIndex = chosen->filter_index;
  return true;
}

std::string TFileDialog::FileNameBytes() const {
  return QFile::encodeName(FileName).toStdString();
}

}  // namespace kevrale
