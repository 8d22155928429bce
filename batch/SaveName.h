// The name a thinned image is saved under: the source path without its
// extension, followed by "_s.bmp".
#pragma once

#include <string>
#include <string_view>

namespace kevrale {

// Scans from the end for the last "." or "/": a "." is dropped with what
// follows it; a "/" (or neither) keeps the whole path. Then "_s.bmp" is
// appended. "/scan/page01.jpg" gives "/scan/page01_s.bmp".
std::string SaveNameFor(const std::string& path);

// The same with another extension (dot included) in place of ".bmp":
// SaveNameFor("/scan/page01.jpg", ".svg") gives "/scan/page01_s.svg".
std::string SaveNameFor(const std::string& path, std::string_view extension);

}  // namespace kevrale
