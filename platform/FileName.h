// The parts of a path as the program names them. "/" is the only folder
// separator; the file-name part is what follows the last "/". Names are
// UTF-8, where no byte of a multi-byte character is ASCII, so byte scans
// never mistake part of a character for "/" or ".".
#pragma once

#include <string>
#include <string_view>

namespace kevrale {

// The file-name part: everything after the last "/" (the whole path when
// there is none).
std::string_view ExtractFileName(std::string_view path);

// The folder part with its trailing "/": everything up to and including the
// last "/"; empty for a bare name.
std::string_view ExtractFilePath(std::string_view path);

// The extension of the file-name part, dot included: from its last "." to
// the end; empty when the file-name part has no ".".
std::string_view ExtractFileExt(std::string_view path);

// The path without the extension of its file-name part.
std::string_view ChangeFileExtToNone(std::string_view path);

// ASCII letters folded to lower or upper case; other bytes unchanged.
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);

// Equal when ASCII letters are compared without regard to case.
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace kevrale
