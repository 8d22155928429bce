#include "platform/SusieSettings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace kevrale {

namespace {

// A settings file larger than this is not a settings file.
constexpr std::streamoff kMaxSettingsBytes = 1 << 20;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // a lone surrogate
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Collects UTF-16 code units from escapes, pairing surrogates.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  void Unit(uint32_t u) {
    if (high_ != 0) {
      const uint32_t high = high_;
      high_ = 0;
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out_, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        return;
      }
      AppendUtf8(out_, 0xFFFD);
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
      return;
    }
    AppendUtf8(out_, u);
  }
  void Flush() {
    if (high_ != 0) AppendUtf8(out_, 0xFFFD);
    high_ = 0;
  }

 private:
  std::string& out_;
  uint32_t high_ = 0;
};

// A key or section name: "%XX" and "%UXXXX" escapes, "\" separating groups.
std::string UnescapeKey(std::string_view s) {
  std::string out;
  Utf16Sink sink(out);
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '%' && i + 5 < s.size() && s[i + 1] == 'U') {
      uint32_t u = 0;
      bool ok = true;
      for (size_t k = 2; k < 6; ++k) {
        const int d = HexDigit(s[i + k]);
        ok = ok && d >= 0;
        u = u * 16 + uint32_t(d < 0 ? 0 : d);
      }
      if (ok) {
        sink.Unit(u);
        i += 5;
        continue;
      }
    } else if (c == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      sink.Flush();
      out += char(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
      continue;
    }
    sink.Flush();
    out += c == '\\' ? '/' : c;
  }
  sink.Flush();
  return out;
}

// A value as Qt reads it: quoted parts, backslash escapes, "," separating
// the items of a list and ";" starting a comment outside quotes. Returns
// false for a list of more than one item.
bool UnescapeValue(std::string_view s, std::string& out) {
  out.clear();
  Utf16Sink sink(out);
  bool quoted = false;
  size_t kept = 0;  // length of `out` that trailing-space trimming must keep
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      const char e = s[++i];
      char plain = 0;
      switch (e) {
        case 'a':
          plain = '\a';
          break;
        case 'b':
          plain = '\b';
          break;
        case 'f':
          plain = '\f';
          break;
        case 'n':
          plain = '\n';
          break;
        case 'r':
          plain = '\r';
          break;
        case 't':
          plain = '\t';
          break;
        case 'v':
          plain = '\v';
          break;
        case '"':
        case '\'':
        case '?':
        case '\\':
        case ';':
        case ',':
        case '=':
        case '#':
          plain = e;
          break;
        case 'x': {
          uint32_t u = 0;
          size_t k = i + 1;
          while (k < s.size() && HexDigit(s[k]) >= 0 && k - i <= 4) {
            u = u * 16 + uint32_t(HexDigit(s[k]));
            ++k;
          }
          if (k > i + 1) {
            sink.Unit(u);
            i = k - 1;
            kept = out.size();
            continue;
          }
          plain = 'x';
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            uint32_t u = 0;
            size_t k = i;
            while (k < s.size() && k - i < 3 && s[k] >= '0' && s[k] <= '7') {
              u = u * 8 + uint32_t(s[k] - '0');
              ++k;
            }
            sink.Unit(u);
            i = k - 1;
            kept = out.size();
            continue;
          }
          plain = e;
      }
      sink.Flush();
      out += plain;
      kept = out.size();
      continue;
    }
    sink.Flush();
    if (c == '"') {
      quoted = !quoted;
      kept = out.size();
      continue;
    }
    if (!quoted && c == ',') return false;
    if (!quoted && c == ';') break;
    if (!quoted && IsSpace(c) && out.size() == kept && kept == 0) continue;  // leading space
    out += c;
    if (quoted || !IsSpace(c)) kept = out.size();
  }
  sink.Flush();
  if (out.size() > kept) out.resize(kept);  // unquoted trailing spaces
  return true;
}

// Qt's marks for values of other types than a string.
bool TakeAsString(std::string& value) {
  if (value.empty() || value.front() != '@') return true;
  if (value.size() >= 2 && value[1] == '@') {
    value.erase(0, 1);
    return true;
  }
  if (value.rfind("@String(", 0) == 0 && value.back() == ')') {
    value = value.substr(8, value.size() - 9);
    return true;
  }
  for (const char* mark : {"@ByteArray(", "@Variant(", "@Invalid(", "@Rect(", "@RectF(", "@Size(",
                           "@SizeF(", "@Point(", "@PointF(", "@DateTime("}) {
    if (value.rfind(mark, 0) == 0) return false;
  }
  return true;
}

std::string JoinKey(std::string_view group, std::string_view key) {
  std::string full(group);
  if (!full.empty() && !key.empty()) full += '/';
  full += key;
  return full;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSettingsBytes)
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string> ReadIniString(std::string_view text, std::string_view group,
                                         std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::string wanted = JoinKey(group, key);
  std::string section;                  // "" for [General] and before any section
  std::optional<std::string_view> raw;  // the value text of the last match
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      std::string_view name =
          line.substr(1, close == std::string_view::npos ? line.npos : close - 1);
      section = UnescapeKey(Trim(name));
      if (section == "General") section.clear();
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string name = UnescapeKey(Trim(line.substr(0, eq)));
    if (JoinKey(section, name) == wanted) raw = line.substr(eq + 1);
  }
  if (!raw) return std::nullopt;
  std::string value;
  if (!UnescapeValue(*raw, value) || !TakeAsString(value)) return std::nullopt;
  return value;
}

std::string SusieSettingsPath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_dir = home != nullptr ? home : "";
    if (home_dir.empty()) {
      if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        home_dir = pw->pw_dir;
    }
    if (home_dir.empty()) return std::string();
    base = home_dir;
    if (base.back() != '/') base += '/';
    base += ".config";
  }
  if (base.back() != '/') base += '/';
  return base + "Dravello/Susie.conf";
}

std::optional<std::string> SusiePluginFolder() {
  const std::string path = SusieSettingsPath();
  if (path.empty()) return std::nullopt;
  const std::optional<std::string> text = ReadSmallFile(path);
  if (!text) return std::nullopt;
  std::optional<std::string> folder = ReadIniString(*text, "Plug-in", "Path");
  if (!folder || folder->empty()) return std::nullopt;
  // A relative folder is read from the folder of the settings file, never
  // from wherever the program happens to be started.
  if (folder->front() != '/') return path.substr(0, path.rfind('/') + 1) + *folder;
  return folder;
}

}  // namespace kevrale
