// The error classes of the program. Every error is a C++ exception derived
// from Exception, which carries the message text shown to the user and can
// name its own class (the start-up error box shows both).
#pragma once

#include <exception>
#include <string>

#include "platform/SystemError.h"

namespace kevrale {

class Exception : public std::exception {
 public:
  // `reason` is what the system said (strerror, the loader's text), kept
  // beside the message: the message is the program's own text and stays
  // as it is; a front end that can show more shows the reason too.
  explicit Exception(std::string message, std::string reason = std::string())
      : message_(std::move(message)), reason_(std::move(reason)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  const std::string& Reason() const noexcept { return reason_; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
  std::string reason_;
};

// Declares an exception class that only carries its message.
#define KEVRALE_DECLARE_EXCEPTION(Name, Base)                         \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

// A silent abort: an operation cancelled on purpose, never shown as an error.
KEVRALE_DECLARE_EXCEPTION(EAbort, Exception);
// Content that the graphic kind chosen for a file cannot decode.
KEVRALE_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
// A graphic operation that the current graphic does not allow.
KEVRALE_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
// Stream errors: a file that cannot be opened or created, a short read or
// write. Where the system gave a reason, its error number is kept and its
// text is the exception's Reason().
class EStreamError : public Exception {
 public:
  explicit EStreamError(std::string message, int error_number = 0)
      : Exception(std::move(message), error_number != 0 ? SystemErrorText(error_number) : ""),
        error_number_(error_number) {}
  // A reason of the program's own where the system's text would mislead.
  EStreamError(std::string message, int error_number, std::string reason)
      : Exception(std::move(message), std::move(reason)), error_number_(error_number) {}
  const char* ClassName() const noexcept override { return "EStreamError"; }
  int ErrorNumber() const noexcept { return error_number_; }

 private:
  int error_number_;
};
KEVRALE_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KEVRALE_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KEVRALE_DECLARE_EXCEPTION(EReadError, EStreamError);
KEVRALE_DECLARE_EXCEPTION(EWriteError, EStreamError);

// The run-time library's input/output error: a number and its text.
class EInOutError : public Exception {
 public:
  EInOutError(int error_code, std::string message)
      : Exception(std::move(message)), ErrorCode(error_code) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode;
};

}  // namespace kevrale
