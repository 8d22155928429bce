#include "cli/TerminalText.h"

#include "picture/LoadOutcome.h"
#include "platform/Exception.h"

namespace kevrale::cli {

namespace {

bool IsControl(char c) {
  return uint8_t(c) < 0x20 || c == 0x7F;
}

}  // namespace

std::string Printable(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (IsControl(c)) c = '?';
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
  for (char& c : text) {
    if (c == '\r')
      c = '\n';
    else if (IsControl(c))
      c = '?';
  }
  return text;
}

std::string ErrorText(const std::exception& error, std::initializer_list<std::string_view> names) {
  std::string text = ForTerminal(error.what(), names);
  if (const auto* decode = dynamic_cast<const EDecodeFailed*>(&error)) {
    // What each reader answered, naming the plug-in files.
    if (!decode->Outcome().Attempts.empty())
      text += " (" + ForTerminal(decode->Outcome().Text(), names) + ")";
  } else if (const auto* own = dynamic_cast<const Exception*>(&error);
             own != nullptr && !own->Reason().empty()) {
    text += ": " + ForTerminal(own->Reason());
  }
  return text;
}

}  // namespace kevrale::cli
