// The application's top-level error handler and the message boxes that
// carry the core's texts.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include <QString>

namespace kevrale {

// The application title: window caption and the caption of every message box.
inline constexpr char kApplicationTitle[] = "Kevrale";

// A UTF-8 message of the core as box text: a carriage return, alone or
// before a line feed, breaks the line.
QString MessageText(std::string_view utf8);

// The plain message box: caption "Kevrale", the text, one OK button.
void ShowPlainMessage(const std::string& text);

// Shows an error that ended a command and lets the program go on. An EAbort
// is a deliberate cancel and shows nothing.
void ShowException(const std::exception& error);
void ShowUnknownException();

// The class name of an error as the start-up error box names it.
QString ExceptionClassName(const std::exception& error);
// The text of the "Application Error" box for an error raised at start-up.
QString StartupErrorText(const std::exception& error);

// Runs a command; an error that leaves it goes to the top-level handler.
template <class Command>
void Guarded(Command&& command) {
  try {
    command();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowUnknownException();
  }
}

}  // namespace kevrale
