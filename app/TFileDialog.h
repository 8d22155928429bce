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
  // and gives false. In a save dialog the chosen filter decides: a name
  // whose extension no pattern of the filter names ("out", "scan.v2") gets
  // the extension of the chosen filter's first pattern ("*.tif" of
  // "*.tif;*.tiff"), or the default extension where that names none; a
  // typed extension that a pattern names ("out.PNG") is kept, whichever
  // filter was chosen. In an open dialog a name without an extension gets
  // the default extension, unless a file of that very name exists.
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
