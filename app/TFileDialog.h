// A file dialog component: its filter, default extension and the name of
// its last confirmed choice, which it shows again when it is next opened.
#pragma once

#include <string>

#include <QString>

#include "desktop/DesktopServices.h"

class QWidget;

namespace kevrale {

class TFileDialog {
 public:
  TFileDialog(FileDialogRequest::Kind kind, QString default_ext, QString filter = QString());

  // Shows the dialog. On confirmation the chosen name becomes FileName and
  // the result is true; a cancel keeps FileName and gives false. The default
  // extension is added to a file name that has none, unless an open dialog's
  // name is that of an existing file.
  bool Execute(QWidget* parent);

  QString Filter;
  QString DefaultExt;
  QString FileName;

  // FileName as the bytes the file system uses.
  std::string FileNameBytes() const;

 private:
  FileDialogRequest::Kind kind_;
};

}  // namespace kevrale
