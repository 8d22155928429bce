// The machine a plug-in file is built for, read from its header: a Windows
// DLL (a PE file) names its machine type; anything else is taken for a
// native library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kevrale {

struct PeMachine {
  enum class Kind {
    NotPe,  // no PE file: a native library, or no library at all
    I386,   // 0x14c: a 32-bit Windows DLL
    Amd64,  // 0x8664: a 64-bit Windows DLL
    Other,  // a PE file for another machine; `Code` says which
  };
  Kind kind = Kind::NotPe;
  uint16_t Code = 0;  // the header's machine field; 0 for NotPe
};

// Reads the header of `path`: the "MZ" stub, its e_lfanew at byte 0x3C, the
// "PE\0\0" signature there and the machine field after it. A file that
// cannot be read, or that is too short or inconsistent for a PE header,
// is NotPe.
PeMachine ReadPeMachine(const std::string& path);

// The same from the first `size` bytes of a file.
PeMachine PeMachineOf(const uint8_t* head, size_t size);

// The machine as a user reads it: "Windows i386", "Windows AMD64",
// "Windows machine 0x1c4", or "native".
std::string PeMachineName(const PeMachine& machine);

}  // namespace kevrale
