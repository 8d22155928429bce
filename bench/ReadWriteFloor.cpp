// The yardstick of cli-e2e.sh --vs: the least a program that rewrites a
// picture file must do. It reads the whole file into freshly allocated
// memory and writes it out again to another file, and nothing more.
//
//   kevrale-read-write-floor IN OUT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

int Fail(const char* what, const char* path) {
  std::fprintf(stderr, "kevrale-read-write-floor: %s %s: %s\n", what, path, std::strerror(errno));
  return 1;
}

// The file descriptor, closed when it goes out of scope.
struct Fd {
  explicit Fd(int fd) : fd(fd) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kevrale-read-write-floor IN OUT\n");
    return 2;
  }
  const Fd in(::open(argv[1], O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return Fail("cannot open", argv[1]);
  struct stat info {};
  if (::fstat(in.fd, &info) != 0) return Fail("cannot look at", argv[1]);
  const size_t size = size_t(info.st_size);
  // Not zero-filled: the pages are first touched by the read itself, as a
  // program's fresh picture memory is.
  const std::unique_ptr<char[]> bytes(new char[size]);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::read(in.fd, bytes.get() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail("cannot read", argv[1]);
    done += size_t(n);
  }

  const Fd out(::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.fd < 0) return Fail("cannot create", argv[2]);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(out.fd, bytes.get() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail("cannot write", argv[2]);
    done += size_t(n);
  }
  return 0;
}
