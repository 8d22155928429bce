// The error classes of the program. Every error is a C++ exception derived
// from Exception, which carries the message text shown to the user and can
// name its own class (the start-up error box shows both).
#pragma once

#include <exception>
#include <string>

namespace kevrale {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
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
// write. Beside the message shown to the user, a stream error may carry the
// system's reason ("No space left on device"), kept apart so that the
// message stays exactly as the user knows it; the command-line tool prints
// both.
class EStreamError : public Exception {
 public:
  explicit EStreamError(std::string message, std::string reason = std::string())
      : Exception(std::move(message)), reason_(std::move(reason)) {}
  const char* ClassName() const noexcept override { return "EStreamError"; }
  // Empty when the system gave no reason.
  const std::string& Reason() const noexcept { return reason_; }

 private:
  std::string reason_;
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
