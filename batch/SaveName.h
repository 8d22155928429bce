// The name a thinned image is saved under: the source path without its
// extension, followed by "_s.bmp" (or "_s." and another extension).
#pragma once

#include <string>
#include <string_view>

namespace kevrale {

// Scans from the end for the last "." or "/": a "." is dropped with what
// follows it; a "/" (or neither) keeps the whole path. Then "_s.bmp" is
// appended. "/scan/page01.jpg" gives "/scan/page01_s.bmp".
std::string SaveNameFor(const std::string& path);

// The same rule with "_s." and `extension` (given without its dot) in place
// of "_s.bmp": ("/scan/page01.jpg", "png") gives "/scan/page01_s.png".
std::string SaveNameFor(const std::string& path, std::string_view extension);

}  // namespace kevrale
