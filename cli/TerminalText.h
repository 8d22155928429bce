// Text for the terminal. A file name may hold control characters (an escape
// sequence, a carriage return) that would rewrite what the terminal shows;
// every name the tool prints, alone or inside a message, goes through here.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kevrale::cli {

// The name with each control character (bytes below 32, and 127) shown as
// "?".
std::string Printable(std::string_view name);

// A message for the terminal: each of `names` that it contains appears as
// Printable shows it, the message's own line breaks (CR, as the program's
// messages write them) become LF, and any other control character is shown
// as "?".
std::string ForTerminal(const std::string& message,
                        std::initializer_list<std::string_view> names = {});

// The message of an error for the terminal, as ForTerminal shows it,
// followed by the system's reason when the error carries one ("ファイル
// x.bmp を作成できません: No space left on device"), or, for a picture that
// nothing decodes, by what each reader answered.
std::string ErrorText(const std::exception& error,
                      std::initializer_list<std::string_view> names = {});

}  // namespace kevrale::cli
