#include "app/ErrorHandler.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include <QApplication>

#include "desktop/DesktopServices.h"
#include "platform/Exception.h"

namespace kevrale {

QString MessageText(std::string_view utf8) {
  QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

void ShowPlainMessage(const std::string& text) {
  Services().ShowMessage(QApplication::activeWindow(), QString::fromLatin1(kApplicationTitle),
                         MessageText(text), MessageKind::Plain);
}

void ShowException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
  const auto* own = dynamic_cast<const Exception*>(&error);
  Services().ShowMessage(QApplication::activeWindow(), QString::fromLatin1(kApplicationTitle),
                         MessageText(own != nullptr ? own->Message() : error.what()),
                         MessageKind::Error);
}

void ShowUnknownException() {
  Services().ShowMessage(QApplication::activeWindow(), QString::fromLatin1(kApplicationTitle),
                         QStringLiteral("不明なエラーが発生しました"), MessageKind::Error);
}

QString ExceptionClassName(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error))
    return QString::fromLatin1(own->ClassName());
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  return QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
}

QString StartupErrorText(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return QStringLiteral("Exception %1: %2")
      .arg(ExceptionClassName(error), MessageText(own != nullptr ? own->Message() : error.what()));
}

}  // namespace kevrale
