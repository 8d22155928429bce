/* The misdeeds of hostile test decoders, included by KvtPlugin.c when
 * KVT_HOSTILE is defined. Each one is tried at the start of GetPicture. A
 * misdeed that the plug-in process is not allowed ends in abort(), so that
 * a test sees the process fail; one that is refused lets the decode go on.
 *
 *   KVT_FORK_CRASH      forks a child that waits for ever, then crashes
 *   KVT_FORK_LINGER     forks a child that waits for ever, then decodes
 *   KVT_LOOK_FOR_FDS    looks for a descriptor of a file whose name holds
 *                       "kevrale-leak-marker"
 *   KVT_READ_OUTSIDE    reads secret.txt beside its picture (file input)
 *   KVT_WRITE_FILE      creates written.txt beside its picture
 *   KVT_OPEN_SOCKET     opens a TCP socket and binds it to 127.0.0.1
 *   KVT_CALLER_MEMORY   opens the caller's /proc/PID/mem for writing, or
 *                       attaches to it with ptrace
 *   KVT_SIGNAL_CALLER   may send the caller a signal (signal 0: it is only
 *                       asked, never sent)
 *   KVT_PROGRESS_LOOP   reports progress for ever
 *   KVT_OVERSIZE        (in MakeDib's stead) hands back a bits block of
 *                       256 MiB for its small picture
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/types.h>

#if defined(KVT_READ_OUTSIDE) || defined(KVT_WRITE_FILE)
/* The file `name` in the folder of `path`. */
static void Beside(const char* path, const char* name, char* out, size_t size) {
  const char* slash = strrchr(path, '/');
  const int folder = slash != NULL ? (int)(slash - path) : 1;
  snprintf(out, size, "%.*s/%s", folder, slash != NULL ? path : ".", name);
}
#endif

static void Misdeed(const char* buf, uint32_t flag, SpiProgressCallback progress, intptr_t data) {
  (void)buf;
  (void)flag;
  (void)progress;
  (void)data;
#if defined(KVT_FORK_CRASH) || defined(KVT_FORK_LINGER)
  if (fork() == 0)
    for (;;) pause();
#endif
#ifdef KVT_FORK_CRASH
  // A store into the first page, which is never mapped: a real SIGSEGV in
  // every build (a null pointer would be caught as undefined behaviour
  // first where the sanitizers check it).
  *(volatile int*)(intptr_t)16 = 1;
#endif
#ifdef KVT_LOOK_FOR_FDS
  for (int fd = 3; fd < 1024; ++fd) {
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (strstr(target, "kevrale-leak-marker") != NULL) abort();
  }
#endif
#if defined(KVT_READ_OUTSIDE) || defined(KVT_WRITE_FILE)
  if ((flag & SPI_INPUT_MASK) != SPI_INPUT_MEMORY) {
    char path[PATH_MAX];
#ifdef KVT_READ_OUTSIDE
    Beside(buf, "secret.txt", path, sizeof path);
    if (open(path, O_RDONLY) >= 0) abort();
#else
    Beside(buf, "written.txt", path, sizeof path);
    if (open(path, O_WRONLY | O_CREAT, 0644) >= 0) abort();
#endif
  }
#endif
#ifdef KVT_OPEN_SOCKET
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s >= 0) {
    struct sockaddr_in loopback;
    memset(&loopback, 0, sizeof loopback);
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (struct sockaddr*)&loopback, sizeof loopback) == 0) abort();
    abort(); /* a socket at all is too much */
  }
#endif
#ifdef KVT_CALLER_MEMORY
  char mem[64];
  snprintf(mem, sizeof mem, "/proc/%d/mem", (int)getppid());
  if (open(mem, O_RDWR) >= 0) abort();
  if (ptrace(PTRACE_ATTACH, getppid(), NULL, NULL) == 0) abort();
#endif
#ifdef KVT_SIGNAL_CALLER
  if (kill(getppid(), 0) == 0) abort();
#endif
#ifdef KVT_PROGRESS_LOOP
  if (progress != NULL)
    for (;;) progress(0, 1, data);
#endif
}

#ifdef KVT_OVERSIZE
/* The decoded bits moved into a block far larger than the rows need. */
static void Oversize(SpiHandle* hbm) {
  const size_t size = (size_t)256 << 20;
  const SpiHandle big = LocalAlloc(LMEM_MOVEABLE, size);
  if (big == NULL) return;
  memcpy(LocalLock(big), LocalLock(*hbm), LocalSize(*hbm));
  LocalUnlock(big);
  LocalUnlock(*hbm);
  LocalFree(*hbm);
  *hbm = big;
}
#endif
