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

  // Shows the dialog. On confirmation the chosen name becomes FileName, the
  // chosen filter FilterIndex, and the result is true; a cancel keeps both
  // and gives false. A file name without an extension gets one: in a save
  // dialog that of the chosen filter (its first pattern, "*.tif" of
  // "*.tif;*.tiff"), else, and where the filter names none, the default
  // extension; an open dialog's name of an existing file is kept as it is.
  bool Execute(QWidget* parent);

  QString Filter;
  QString DefaultExt;
  QString FileName;
  // The filter of the last confirmation, counted from 0; shown first.
  int FilterIndex = 0;

  // FileName as the bytes the file system uses.
  std::string FileNameBytes() const;

 private:
  FileDialogRequest::Kind kind_;
};

}  // namespace kevrale
