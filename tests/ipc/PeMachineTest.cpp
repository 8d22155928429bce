// The machine type of a plug-in file, read from its PE header, decides
// between the native runner and the bridges; a file that is not a whole PE
// header is native, and nothing outside the file is read.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TempFolder.h"
#include "TestPlugins.h"
#include "ipc/PeMachine.h"
#include "platform/LittleEndian.h"

namespace kevrale::test {
namespace {

// An "MZ" stub whose e_lfanew is `lfanew`, the "PE\0\0" signature there and
// the machine field; `size` bytes in all (at least the header's end).
std::vector<uint8_t> PeHead(uint32_t lfanew, uint16_t machine, size_t size = 0) {
  std::vector<uint8_t> head(std::max<size_t>(size, size_t(lfanew) + 24), 0);
  head[0] = 'M';
  head[1] = 'Z';
  Put32(head.data() + 0x3C, lfanew);
  head[lfanew] = 'P';
  head[lfanew + 1] = 'E';
  Put16(head.data() + lfanew + 4, machine);
  return head;
}

PeMachine::Kind KindOf(const std::vector<uint8_t>& head) {
  return PeMachineOf(head.data(), head.size()).kind;
}

TEST(PeMachine, TheMachineFieldNamesTheKind) {
  EXPECT_EQ(KindOf(PeHead(0x80, 0x14C)), PeMachine::Kind::I386);
  EXPECT_EQ(KindOf(PeHead(0x80, 0x8664)), PeMachine::Kind::Amd64);
  const PeMachine arm = PeMachineOf(PeHead(0x40, 0x1C4).data(), PeHead(0x40, 0x1C4).size());
  EXPECT_EQ(arm.kind, PeMachine::Kind::Other);
  EXPECT_EQ(arm.Code, 0x1C4);
  EXPECT_EQ(PeMachineName(arm), "Windows machine 0x1c4");
  EXPECT_EQ(PeMachineName({PeMachine::Kind::I386, 0x14C}), "Windows i386");
  EXPECT_EQ(PeMachineName({PeMachine::Kind::Amd64, 0x8664}), "Windows AMD64");
  EXPECT_EQ(PeMachineName({}), "native");
}

TEST(PeMachine, AnythingShortOfAWholeHeaderIsNative) {
  std::vector<uint8_t> head = PeHead(0x80, 0x14C);
  // The machine field's last byte is missing.
  EXPECT_EQ(PeMachineOf(head.data(), 0x80 + 5).kind, PeMachine::Kind::NotPe);
  EXPECT_EQ(PeMachineOf(head.data(), 0x80 + 6).kind, PeMachine::Kind::I386);
  // No e_lfanew at all.
  EXPECT_EQ(PeMachineOf(head.data(), 0x3F).kind, PeMachine::Kind::NotPe);
  // e_lfanew past the end, and far past any real stub.
  Put32(head.data() + 0x3C, 0x1000);
  EXPECT_EQ(KindOf(head), PeMachine::Kind::NotPe);
  Put32(head.data() + 0x3C, 0xFFFFFFF0u);
  EXPECT_EQ(KindOf(head), PeMachine::Kind::NotPe);
  // Another signature, or no "MZ".
  head = PeHead(0x80, 0x14C);
  head[0x80 + 3] = 1;
  EXPECT_EQ(KindOf(head), PeMachine::Kind::NotPe);
  head = PeHead(0x80, 0x14C);
  head[1] = 'Y';
  EXPECT_EQ(KindOf(head), PeMachine::Kind::NotPe);
  const std::vector<uint8_t> elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
  EXPECT_EQ(PeMachineOf(elf.data(), elf.size()).kind, PeMachine::Kind::NotPe);
}

TEST(PeMachine, FilesAreReadAsTheirHeads) {
  TempFolder folder;
  const std::string dll = folder.Path() + "/a.spi";
  const std::vector<uint8_t> head = PeHead(0x118, 0x8664, 0x400);
  WriteText(dll, std::string(head.begin(), head.end()));
  EXPECT_EQ(ReadPeMachine(dll).kind, PeMachine::Kind::Amd64);
  // The same file cut inside the machine field.
  const std::string cut = folder.Path() + "/cut.spi";
  WriteText(cut, std::string(head.begin(), head.begin() + 0x118 + 5));
  EXPECT_EQ(ReadPeMachine(cut).kind, PeMachine::Kind::NotPe);
  EXPECT_EQ(ReadPeMachine(folder.Path() + "/missing.spi").kind, PeMachine::Kind::NotPe);
  EXPECT_EQ(ReadPeMachine(folder.Path()).kind, PeMachine::Kind::NotPe);  // a folder
  EXPECT_EQ(ReadPeMachine(TestSpi("in_png")).kind, PeMachine::Kind::NotPe);
}

}  // namespace
}  // namespace kevrale::test
