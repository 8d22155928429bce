// The one setting the program reads: the folder of the Susie plug-ins,
// shared with other programs that use those plug-ins. It lives in the INI
// file Dravello/Susie.conf of the user's configuration folder, section
// [Plug-in], key Path, as Qt's settings store it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kevrale {

// $XDG_CONFIG_HOME/Dravello/Susie.conf, or ~/.config/Dravello/Susie.conf when
// XDG_CONFIG_HOME is unset, empty or not an absolute path; empty when there
// is no home folder either.
std::string SusieSettingsPath();

// The Susie plug-in folder as written in the settings file, a relative one
// taken from the settings file's folder; nothing when the file, the section
// or the key is missing, the value is empty or it is not a single string.
std::optional<std::string> SusiePluginFolder();

// The string stored under `group/key` of INI text in the form Qt's settings
// write it: [section] lines, key=value lines, ";" and "#" comments, quoted
// values with backslash escapes, keys and sections with "%XX" escapes and
// "\" for "/" between groups, [General] for keys outside any group. The last
// of several entries wins. Nothing for a missing key or for a value that is
// not a single string (a list, a byte array or another stored type).
std::optional<std::string> ReadIniString(std::string_view text, std::string_view group,
                                         std::string_view key);

}  // namespace kevrale
