// The run-time library's input/output errors for the list file: an error
// number and its text, chosen from the system's errno.
#pragma once

#include <string>

#include "platform/Exception.h"

namespace kevrale {

// The numbers of the input/output errors that have their own text.
constexpr int kIoFileNotFound = 2;
constexpr int kIoInvalidFilename = 3;
constexpr int kIoTooManyOpenFiles = 4;
constexpr int kIoFileAccessDenied = 5;
constexpr int kIoReadBeyondEnd = 100;
constexpr int kIoDiskFull = 101;
constexpr int kIoInvalidNumericInput = 106;

// The text of an input/output error number: "File not found" for 2, ...,
// "I/O error %d" with the number for one without its own text.
std::string InOutErrorText(int error_code);

// The input/output error for an errno value: ENOENT gives 2, ENAMETOOLONG
// and ENOTDIR 3, EMFILE and ENFILE 4, EACCES, EPERM and EISDIR 5, ENOSPC
// 101. Any other value keeps its own number and reads "I/O error %d", even
// where that number stands for another text in the table (EIO is 5).
EInOutError InOutErrorFor(int os_error);

// The error of a given number with the table's text.
EInOutError InOutErrorOf(int error_code);

}  // namespace kevrale
