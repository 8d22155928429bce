#include "app/TApplication.h"

#include <exception>

#include <QLibraryInfo>

#include "app/ErrorHandler.h"
#include "desktop/ProgramIcon.h"
#include "desktop/UiFont.h"

namespace kevrale {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(kApplicationTitle));
  setFont(UiFont(12));
  setWindowIcon(ProgramIcon());
  // Without the translation package Qt's texts stay in English.
  if (qt_texts_.load(QStringLiteral("qtbase_ja"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    installTranslator(&qt_texts_);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowUnknownException();
  }
  return false;
}

}  // namespace kevrale
