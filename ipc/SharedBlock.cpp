#include "ipc/SharedBlock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "localmem/LocalMemoryShare.h"

namespace kevrale {

namespace {

constexpr int kSeals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

bool HoldsAtLeast(int fd, size_t size) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
         uint64_t(st.st_size) >= uint64_t(size);
}

void Unmap(void* address, size_t size) {
  munmap(address, size);
}

// Sealed and mapped; nullptr when the file cannot be sealed or mapped.
SpiHandle Adopt(int fd, size_t size) {
  if (fcntl(fd, F_ADD_SEALS, kSeals) != 0) return nullptr;
  if ((fcntl(fd, F_GET_SEALS) & kSeals) != kSeals || !HoldsAtLeast(fd, size)) return nullptr;
  void* address = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
  if (address == MAP_FAILED) return nullptr;
  const SpiHandle handle = KevraleLocalAdopt(address, size, &Unmap);
  if (handle == nullptr) munmap(address, size);
  return handle;
}

SpiHandle Copy(int fd, size_t size) {
  const SpiHandle handle = LocalAlloc(LMEM_MOVEABLE, size);
  if (handle == nullptr) return nullptr;
  auto* target = static_cast<uint8_t*>(LocalLock(handle));
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, target + done, size - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  LocalUnlock(handle);
  if (done == size) return handle;
  LocalFree(handle);
  return nullptr;
}

}  // namespace

UniqueFd OpenSharedBlock(pid_t pid, uint64_t fd, size_t size) {
  if (pid <= 0 || fd > uint64_t(INT32_MAX)) return UniqueFd();
  const std::string path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  UniqueFd file(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file || !HoldsAtLeast(file.Get(), size)) return UniqueFd();
  return file;
}

SpiHandle TakeSharedBlock(int fd, size_t size) {
  const SpiHandle adopted = Adopt(fd, size);
  return adopted != nullptr ? adopted : Copy(fd, size);
}

}  // namespace kevrale
