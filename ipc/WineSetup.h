// What running a Windows plug-in under Wine needs: the loaders, Kevrale's
// own Wine prefix (never the user's), made on first use, and the
// environment of a process in it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kevrale {

struct WineOptions {
  // Debian's 64-bit loader, and the launcher that runs 32-bit programs
  // where the i386 part of Wine is installed.
  std::string loader64 = "/usr/lib/wine/wine64";
  std::string loader32 = "/usr/lib/wine/wine";
  // The folder of Wine's 32-bit Windows DLLs (Debian's libwine:i386), the
  // one that holds i386-windows. Given to Wine as WINEDLLPATH, it lets the
  // 64-bit loader run 32-bit Windows code itself where the machine runs no
  // 32-bit programs.
  std::string dlls32 = "/usr/lib/i386-linux-gnu/wine";
  // Empty: DefaultWinePrefix().
  std::string prefix;
  // Called with true before the prefix is made (which takes some seconds)
  // and with false when that is over, so that a front end can show that it
  // is busy. Not called when the prefix exists. May be called on any thread
  // that starts a bridge.
  std::function<void(bool making)> on_prefix_creation;
};

// $XDG_DATA_HOME/kevrale/wine, or ~/.local/share/kevrale/wine; empty when
// neither variable says where the user's data lives.
std::string DefaultWinePrefix();

// Whether Wine's 32-bit Windows DLLs are installed in `options.dlls32`.
bool HasWine32Dlls(const WineOptions& options);

// The environment of a Wine process in `prefix`: this process's own, with
// the prefix set, Wine's debug output off, no prompt to install Mono or
// Gecko, and no display (the plug-ins need none, and a bridge must never
// open a window on the user's screen). Where Wine's 32-bit Windows DLLs are
// installed, their folder leads WINEDLLPATH.
std::vector<std::string> WineEnvironment(const std::string& prefix,
                                         const WineOptions& options = WineOptions());

// Makes the prefix unless it is ready: runs `loader` wineboot --init. One
// process at a time makes it (a lock file beside it); the others wait for
// it. A prefix made before Wine's 32-bit Windows DLLs were installed lacks
// its 32-bit system folder and is made anew once they are. Returns an
// empty string when the prefix is ready, else the reason.
std::string EnsureWinePrefix(const WineOptions& options, const std::string& loader);

// The Wine server beside `loader` (its path).
std::string WineServerFor(const std::string& loader);

// Called before a bridge starts in `prefix`: counts it, and marks the prefix
// as used by this program (a shared lock that every program holds while it
// may run bridges there).
void UseWinePrefix(const std::string& prefix);

// Called once the bridge has ended. After the last bridge of the prefix,
// ends every process of it (`wineserver -k`), so that nothing that a
// plug-in started there outlives it, unless another program uses the
// prefix too. Waits a few seconds at most.
void LeaveWinePrefix(const std::string& server, const std::string& prefix);

}  // namespace kevrale
