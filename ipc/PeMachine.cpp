#include "ipc/PeMachine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/LittleEndian.h"

namespace kevrale {

namespace {

constexpr size_t kLfanewAt = 0x3C;
constexpr uint32_t kMaxLfanew = 1u << 20;  // far beyond any real stub
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;

// Reads up to `count` bytes at `offset`; fewer at the end of the file.
size_t ReadAt(int fd, uint8_t* buffer, size_t count, off_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, buffer + done, count - done, offset + off_t(done));
    if (n <= 0) break;
    done += size_t(n);
  }
  return done;
}

}  // namespace

PeMachine PeMachineOf(const uint8_t* head, size_t size) {
  if (size < kLfanewAt + 4 || head[0] != 'M' || head[1] != 'Z') return {};
  const uint32_t lfanew = Get32(head + kLfanewAt);
  if (lfanew > kMaxLfanew || size < size_t(lfanew) + 6) return {};
  const uint8_t* pe = head + lfanew;
  if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return {};
  const uint16_t code = Get16(pe + 4);
  if (code == kMachineI386) return {PeMachine::Kind::I386, code};
  if (code == kMachineAmd64) return {PeMachine::Kind::Amd64, code};
  return {PeMachine::Kind::Other, code};
}

PeMachine ReadPeMachine(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  uint8_t stub[kLfanewAt + 4];
  PeMachine machine;
  if (ReadAt(fd, stub, sizeof stub, 0) == sizeof stub && stub[0] == 'M' && stub[1] == 'Z') {
    const uint32_t lfanew = Get32(stub + kLfanewAt);
    if (lfanew <= kMaxLfanew) {
      // The stub and the signature with the machine field, read as one head.
      std::vector<uint8_t> head(size_t(lfanew) + 6 > sizeof stub ? size_t(lfanew) + 6
                                                                 : sizeof stub);
      const size_t got = ReadAt(fd, head.data(), head.size(), 0);
      machine = PeMachineOf(head.data(), got);
    }
  }
  close(fd);
  return machine;
}

std::string PeMachineName(const PeMachine& machine) {
  switch (machine.kind) {
    case PeMachine::Kind::NotPe:
      return "native";
    case PeMachine::Kind::I386:
      return "Windows i386";
    case PeMachine::Kind::Amd64:
      return "Windows AMD64";
    case PeMachine::Kind::Other:
      break;
  }
  char text[40];
  snprintf(text, sizeof text, "Windows machine 0x%x", unsigned(machine.Code));
  return text;
}

}  // namespace kevrale
