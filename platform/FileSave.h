// Saving a file: the one routine that every save of the program goes
// through (see TSaveFileStream for what happens to the name: links are
// followed, a file is replaced atomically keeping its mode, a device is
// written in place).
#pragma once

#include <functional>
#include <string>

namespace kevrale {

class TStream;

// Runs `write` on a stream that saves to `path` once `write` returns. A
// write that fails (a full disk, a failing device) raises EFCreateError
// "ファイル %s を作成できません" with the path and the system's reason; any
// other exception of `write` goes on. Either way the old file is kept.
void SaveFileWith(const std::string& path, const std::function<void(TStream&)>& write);

// The same for the process's standard output, written as it comes.
void SaveStandardOutputWith(const std::function<void(TStream&)>& write);

}  // namespace kevrale
