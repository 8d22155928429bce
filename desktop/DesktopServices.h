// The desktop services: every dialog, message box, shell open and clipboard
// access of the windows goes through this interface. The program installs
// the Qt implementation at start-up; the window tests install a scripted one
// that answers the dialogs and records what was shown.
#pragma once

#include <memory>
#include <optional>

#include <QImage>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "platform/Color.h"

class QWidget;

namespace kevrale {

// What a file dialog is asked to show.
struct FileDialogRequest {
  enum class Kind { Open, Save };
  Kind kind = Kind::Open;
  QString title;
  // The filter as the program builds it, "description|pattern|..." ...
  QString filter;
  // ... and as name filters for Qt, in the same order.
  QStringList name_filters;
  // The name of the last confirmed choice, empty at first.
  QString file_name;
  // The name filter shown first: that of the last confirmed choice.
  int filter_index = 0;
};

// What the user confirmed in a file dialog.
struct FileChoice {
  QString file_name;
  // The name filter chosen, counted from 0 in the request's order.
  int filter_index = 0;
};

enum class MessageKind {
  Plain,  // a plain message, as the run's width message and "終了しました"
  Error,  // an error that ended a command, or one raised during start-up
};

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // Shows a file dialog; the chosen name and filter, or nothing when it was
  // cancelled.
  virtual std::optional<FileChoice> ChooseFile(QWidget* parent,
                                               const FileDialogRequest& request) = 0;
  // Shows the colour chooser opened on `initial`; the chosen colour, or
  // nothing when it was cancelled.
  virtual std::optional<TColor> ChooseColor(QWidget* parent, TColor initial) = 0;
  // Shows a message box with one OK button and returns once it is closed.
  virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                           MessageKind kind) = 0;
  // Hands a document or address to the desktop; the outcome is not reported.
  virtual void OpenUrl(const QUrl& url) = 0;

  virtual bool ClipboardHasImage() = 0;
  virtual QImage ClipboardImage() = 0;
  virtual void SetClipboardImage(const QImage& image) = 0;
};

// The services in use. SetServices replaces them and returns the previous
// ones, so a test can put the real ones back.
DesktopServices& Services();
std::unique_ptr<DesktopServices> SetServices(std::unique_ptr<DesktopServices> services);

}  // namespace kevrale
