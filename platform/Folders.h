// The folders a program asks the platform about: its own, the current one,
// and the files of a folder that match a name mask.
#pragma once

#include <string>
#include <vector>

namespace kevrale {

// The folder that holds the running program's executable, without a trailing
// "/" (except for the root itself); empty when the system does not say.
std::string ProgramFolder();

// The process's current folder; empty when it cannot be determined.
std::string CurrentFolder();

// `name` made absolute as the dynamic loader reports a library it loaded:
// leading "./" dropped and the current folder put in front of a relative
// name; left as it is when absolute, or when the current folder is unknown.
// Links, "." and ".." elsewhere stay.
std::string AbsoluteName(std::string name);

// The names of the regular files in `folder` (and of symbolic links to
// regular files) whose names match `mask`, a shell-style pattern such as
// "*.spi", ASCII letters compared without regard to case (IFPNG.SPI is a
// plug-in file as much as ifpng.spi). Hidden files (names beginning with
// ".") and folders are left out. The names come sorted by their bytes. A
// folder that cannot be read gives an empty list; an empty `folder` is the
// current one.
std::vector<std::string> ListFolder(const std::string& folder, const std::string& mask);

// The path with every symbolic link, "." and ".." resolved and repeated
// "/" folded, as one file has only one; empty when the file does not exist
// or cannot be reached.
std::string ResolvedPath(const std::string& path);

}  // namespace kevrale
