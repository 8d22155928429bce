#include "cli/TerminalText.h"

#include <cstdint>

#include "picture/LoadOutcome.h"
#include "platform/Exception.h"

namespace kevrale::cli {

namespace {

// The length of the valid UTF-8 sequence at `at` and its code point in
// `code`; 0 for a byte that begins none.
size_t Utf8Length(std::string_view s, size_t at, uint32_t& code) {
  const auto lead = uint8_t(s[at]);
  size_t length = 0;
  code = lead;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto c = uint8_t(s[at + i]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

bool Unsafe(uint32_t code) {
  return code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F) ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t at = 0; at < name.size();) {
    uint32_t code = 0;
    const size_t length = Utf8Length(name, at, code);
    if (length == 0) {
      // A stray byte: 0x80 to 0x9F is a C1 control to a terminal that reads
      // single bytes; the others show as whatever the terminal makes of them.
      const auto byte = uint8_t(name[at]);
      out += byte <= 0x9F ? '?' : char(byte);
      ++at;
      continue;
    }
    if (Unsafe(code))
      out += '?';
    else
      out.append(name.substr(at, length));
    at += length;
  }
  return out;
}

std::string ForTerminal(const std::string& message, std::initializer_list<std::string_view> names) {
  std::string text = message;
  for (const std::string_view name : names) {
    if (name.empty()) continue;
    const std::string shown = Printable(name);
    if (shown == name) continue;
    for (size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + shown.size()))
      text.replace(at, name.size(), shown);
  }
  // The message's own line breaks (CR, or CR LF) become LF; those at its
  // end go. Between them a lone LF is no break of the program's and shows
  // as "?", as every other control character.
  size_t length = text.size();
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  const std::string_view body = std::string_view(text).substr(0, length);
  std::string out;
  out.reserve(body.size());
  for (size_t begin = 0;;) {
    const size_t cr = body.find('\r', begin);
    out += Printable(body.substr(begin, cr - begin));
    if (cr == std::string_view::npos) break;
    out += '\n';
    begin = cr + 1;
    if (begin < body.size() && body[begin] == '\n') ++begin;
  }
  return out;
}

std::string ErrorText(const std::exception& error, std::initializer_list<std::string_view> names) {
  std::string text = ForTerminal(error.what(), names);
  if (const auto* decode = dynamic_cast<const EDecodeFailed*>(&error)) {
    // What each reader answered, naming the plug-in files.
    if (!decode->Outcome().Attempts.empty())
      text += " (" + ForTerminal(decode->Outcome().Text(), names) + ")";
  } else if (const auto* own = dynamic_cast<const Exception*>(&error);
             own != nullptr && !own->Reason().empty()) {
    text += ": " + ForTerminal(own->Reason(), names);
  }
  return text;
}

std::string NamedText(std::string_view name, const std::string& text) {
  const std::string shown = Printable(name);
  if (!shown.empty() && text.starts_with(shown + ":")) return text;
  return shown + ": " + text;
}

std::string_view WithoutLeadingName(std::string_view text, std::string_view name) {
  if (name.empty() || !text.starts_with(name) || text.substr(name.size(), 1) != ":") return text;
  text.remove_prefix(name.size() + 1);
  while (text.starts_with(' ')) text.remove_prefix(1);
  return text;
}

}  // namespace kevrale::cli
