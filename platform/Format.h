// Message formatting in the manner of the messages of this program: "%s"
// and "%d" take the next argument, "%N:s" takes argument N and continues
// from N + 1, "%%" is a percent sign. Arguments are passed as text.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kevrale {

std::string Format(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace kevrale
