/* kevrale-spi-bridge: serves one Windows plug-in DLL to the host over its
 * standard handles, under Wine. It loads the DLL with the Windows loader,
 * calls its entry points (stdcall on i386) and locks, sizes and frees the
 * blocks it hands back with kernel32, so the plug-in meets the Windows API
 * it was written for.
 *
 * File names arrive in the process's ANSI code page, which HELLO reports;
 * the host converts them.
 */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "runner/SpiServer.h"

typedef struct Channel {
  HANDLE in;
  HANDLE out;
} Channel;

static Channel g_channel;
static SpiServerPlatform g_platform;

static int ReadAll(void* channel, void* buffer, size_t size) {
  HANDLE in = ((Channel*)channel)->in;
  char* p = (char*)buffer;
  size_t done = 0;
  while (done < size) {
    const size_t left = size - done;
    const DWORD want = left > (1u << 30) ? (DWORD)(1u << 30) : (DWORD)left;
    DWORD got = 0;
    if (!ReadFile(in, p + done, want, &got, NULL) || got == 0) {
      /* A closed pipe is the host's end. */
      return done == 0 ? 1 : -1;
    }
    done += got;
  }
  return 0;
}

static int WriteAll(void* channel, const void* buffer, size_t size) {
  HANDLE out = ((Channel*)channel)->out;
  const char* p = (const char*)buffer;
  while (size > 0) {
    const DWORD want = size > (1u << 30) ? (DWORD)(1u << 30) : (DWORD)size;
    DWORD put = 0;
    if (!WriteFile(out, p, want, &put, NULL) || put == 0) return -1;
    p += put;
    size -= put;
  }
  return 0;
}

static HMODULE g_plugin;

/* An exported function, or NULL. */
static void (*Entry(const char* name))(void) {
  return (void (*)(void))GetProcAddress(g_plugin, name);
}

/* The DLLs a plug-in needs come from the system folder and from the
 * plug-in's own folder, never from the working folder or PATH, where anyone
 * may have put a DLL of the same name. */
static void SearchOnlySafeFolders(const char* name) {
  SetDllDirectoryA("");
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
  char folder[MAX_PATH * 4];
  snprintf(folder, sizeof folder, "%s", name);
  char* slash = strrchr(folder, '\\');
  if (slash == NULL) return;
  *slash = '\0';
  WCHAR wide[MAX_PATH * 4];
  if (MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH * 4) > 0) AddDllDirectory(wide);
}

static int Load(const char* name, SpiServerEntries* e, char* reason, size_t reason_size) {
  SearchOnlySafeFolders(name);
  g_plugin = LoadLibraryExA(name, NULL,
                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (g_plugin == NULL) {
    const DWORD code = GetLastError();
    char text[400] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, text,
                   sizeof text, NULL);
    snprintf(reason, reason_size, "LoadLibrary failed with error %lu %s", (unsigned long)code,
             text);
    return 1;
  }
  e->GetPluginInfo = (int32_t(SPI_CALL*)(int32_t, char*, int32_t))Entry("GetPluginInfo");
  e->ConfigurationDlg = (void*)Entry("ConfigurationDlg");
  e->IsSupported = (int32_t(SPI_CALL*)(const char*, intptr_t))Entry("IsSupported");
  e->GetPictureInfo = (int32_t(SPI_CALL*)(const char*, intptr_t, uint32_t,
                                          SpiServerPictureInfo*))Entry("GetPictureInfo");
  e->GetPicture = (SpiServerGetPicture)Entry("GetPicture");
  e->GetPreview = (SpiServerGetPicture)Entry("GetPreview");
  e->GetArchiveInfo = (void*)Entry("GetArchiveInfo");
  e->GetFileInfo = (void*)Entry("GetFileInfo");
  e->GetFile = (void*)Entry("GetFile");
  return 0;
}

static void* Lock(void* h) {
  return LocalLock((HLOCAL)h);
}
static void Unlock(void* h) {
  LocalUnlock((HLOCAL)h);
}
static size_t Size(void* h) {
  return LocalSize((HLOCAL)h);
}
static void Free(void* h) {
  LocalFree((HLOCAL)h);
}

/* A fault of the plug-in that nothing handled: the host learns its code. */
static LONG WINAPI Crashed(EXCEPTION_POINTERS* fault) {
  const DWORD code = fault->ExceptionRecord->ExceptionCode;
  SpiServerReportCrash(&g_platform, code);
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

/* A stack overflow leaves too little stack for the unhandled-exception
 * filter: a vectored handler, which runs first, reports it at once, on the
 * room that SetThreadStackGuarantee keeps for it. */
static LONG WINAPI StackOverflow(EXCEPTION_POINTERS* fault) {
  const DWORD code = fault->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  SpiServerReportCrash(&g_platform, code);
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_CONTINUE_SEARCH;
}

/* The channel takes over the standard input and output handles; the
 * plug-in's own output goes to standard error and its input reads nothing,
 * so that no printf of a plug-in can break a message. Done before the
 * plug-in is loaded, whose runtime takes the standard handles as it starts. */
static int TakeChannel(Channel* channel) {
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &channel->in, 0, FALSE,
                       DUPLICATE_SAME_ACCESS) ||
      !DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &channel->out, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return 0;
  const HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                     OPEN_EXISTING, 0, NULL);
  SetStdHandle(STD_INPUT_HANDLE, nothing);
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  fflush(stdout);
  const int null_fd = _open("NUL", _O_RDONLY | _O_BINARY);
  if (null_fd >= 0) _dup2(null_fd, 0);
  _dup2(2, 1);
  return 1;
}

int main(void) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  if (!TakeChannel(&g_channel)) {
    fprintf(stderr, "kevrale-spi-bridge: the standard handles cannot be used\n");
    return SPI_SERVER_BROKEN;
  }
  g_platform.channel = &g_channel;
  g_platform.Read = ReadAll;
  g_platform.Write = WriteAll;
  g_platform.Load = Load;
  g_platform.Lock = Lock;
  g_platform.Unlock = Unlock;
  g_platform.Size = Size;
  g_platform.Free = Free;
  g_platform.code_page = GetACP();
  g_platform.pointer_bits = (uint32_t)sizeof(void*) * 8;
  SetUnhandledExceptionFilter(Crashed);
  ULONG guarantee = 64 * 1024;
  SetThreadStackGuarantee(&guarantee);
  AddVectoredExceptionHandler(1, StackOverflow);
  return SpiServe(&g_platform);
}
