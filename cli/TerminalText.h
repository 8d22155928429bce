// Text for the terminal. A file name may hold control characters (an escape
// sequence, a carriage return) that would rewrite what the terminal shows,
// or bidirectional overrides that would show it in another order; every
// name the tool prints, alone or inside a message, goes through here.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kevrale::cli {

// The name with each character that a terminal would act on shown as "?":
// the C0 controls (bytes below 32) and DEL, the C1 controls U+0080 to
// U+009F (also the single bytes 0x80 to 0x9F outside a valid UTF-8
// sequence, which some terminals take as C1: 0x9B is CSI), and the
// bidirectional embeddings, overrides and isolates U+202A to U+202E and
// U+2066 to U+2069.
std::string Printable(std::string_view name);

// A message for the terminal: each of `names` that it contains appears as
// Printable shows it, the message's own line breaks (CR, as the program's
// messages write them, or CR LF, as Windows writes them) become LF, line
// breaks at its end go, and anything else that Printable escapes is shown
// as "?".
std::string ForTerminal(const std::string& message,
                        std::initializer_list<std::string_view> names = {});

// The message of an error for the terminal, as ForTerminal shows it,
// followed by the system's reason when the error carries one ("ファイル
// x.bmp を作成できません: No space left on device"), or, for a picture that
// nothing decodes, by what each reader answered.
std::string ErrorText(const std::exception& error,
                      std::initializer_list<std::string_view> names = {});

// "NAME: TEXT" with the name as Printable shows it, or TEXT alone when it
// already begins with that name and a colon, so that no line names its
// file twice.
std::string NamedText(std::string_view name, const std::string& text);

// `text` without a leading "NAME:" (and the blank after it): a reason that
// repeats the name its message already holds.
std::string_view WithoutLeadingName(std::string_view text, std::string_view name);

}  // namespace kevrale::cli
