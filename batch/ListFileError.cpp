#include "batch/ListFileError.h"

#include <cerrno>

#include "platform/Format.h"

namespace kevrale {

std::string InOutErrorText(int error_code) {
  switch (error_code) {
    case kIoFileNotFound:
      return "File not found";
    case kIoInvalidFilename:
      return "Invalid filename";
    case kIoTooManyOpenFiles:
      return "Too many open files";
    case kIoFileAccessDenied:
      return "File access denied";
    case kIoReadBeyondEnd:
      return "Read beyond end of file";
    case kIoDiskFull:
      return "Disk full";
    case kIoInvalidNumericInput:
      return "Invalid numeric input";
    default:
      return Format("I/O error %d", {std::to_string(error_code)});
  }
}

EInOutError InOutErrorOf(int error_code) {
  return EInOutError(error_code, InOutErrorText(error_code));
}

EInOutError InOutErrorFor(int os_error) {
  switch (os_error) {
    case ENOENT:
      return InOutErrorOf(kIoFileNotFound);
    case ENAMETOOLONG:
    case ENOTDIR:
      return InOutErrorOf(kIoInvalidFilename);
    case EMFILE:
    case ENFILE:
      return InOutErrorOf(kIoTooManyOpenFiles);
    case EACCES:
    case EPERM:
    case EISDIR:
      return InOutErrorOf(kIoFileAccessDenied);
    case ENOSPC:
      return InOutErrorOf(kIoDiskFull);
    default:
      // Not one of the table's errors: its own number, the generic text.
      return EInOutError(os_error, Format("I/O error %d", {std::to_string(os_error)}));
  }
}

}  // namespace kevrale
