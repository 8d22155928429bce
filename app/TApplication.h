// The application object: title, font and icon of every window, and the
// top-level error handler for errors that leave an event handler.
#pragma once

#include <QApplication>
#include <QTranslator>

namespace kevrale {

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);

  // Every event is delivered through here; an error that leaves its handler
  // is shown in a message box and the program goes on.
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  // Qt's own texts (file and colour dialogs, buttons) in Japanese.
  QTranslator qt_texts_;
};

}  // namespace kevrale
