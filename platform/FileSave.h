// Saving a file by way of a temporary file beside it: the old file stays as
// it was unless the whole new content could be written.
#pragma once

#include <functional>
#include <string>

namespace kevrale {

class TStream;

// Runs `write` on a stream that replaces the file at `path` once `write`
// returns. A write that fails (a full disk, a failing device) raises
// EFCreateError "ファイル %s を作成できません" with the path; any other
// exception of `write` goes on. Either way the old file is kept.
void SaveFileWith(const std::string& path, const std::function<void(TStream&)>& write);

}  // namespace kevrale
