/* A Windows import plug-in for the bridge tests, written against the
 * Windows form of the plug-in API (kernel32 local memory, stdcall entry
 * points on i386). It decodes the KVT test format:
 *
 *   "KVT1", width (uint32 LE), height (uint32 LE), then height rows from the
 *   top, each width pixels of R, G, B bytes, no padding,
 *
 * into a 24-bit bottom-up DIB, calling the progress callback with 0/height
 * and then once per row, and stopping when it asks to. GetPreview gives a
 * 1 x 1 DIB of the top-left pixel.
 *
 *   KVT_CRASH    GetPicture writes through a null pointer
 *   KVT_HANG     GetPicture never returns
 *   KVT_CHATTY   every call prints a line on standard output
 *   KVT_STACK_OVERFLOW   GetPicture recurses without end
 *   KVT_HELPER   imports HelperName from helper.dll, and gives its answer
 *                as the plug-in's name (GetPluginInfo 1)
 *   KVT_START_PROCESS    GetPicture starts cmd.exe, which waits for ever
 *                on a pipe that the plug-in keeps open, then decodes
 *   KVT_WRITE_FILE       GetPicture creates written.txt beside its picture
 *   KVT_OPEN_SOCKET      GetPicture opens a TCP socket on 127.0.0.1
 *   (each of the last two crashes when it succeeds, and decodes when it is
 *   refused)
 */
#ifdef KVT_OPEN_SOCKET
#include <winsock2.h>
#endif
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define KVT_HEADER 12
#define KVT_MAX_SIDE 4096

#pragma pack(push, 1)
typedef struct PictureInfo {
  LONG left, top;
  LONG width, height;
  WORD x_density, y_density;
  SHORT colorDepth;
  HLOCAL hInfo;
} PictureInfo;
#pragma pack(pop)

typedef int(WINAPI* ProgressCallback)(int nNum, int nDenom, LONG_PTR lData);

#define EXPORT __declspec(dllexport)

#ifdef KVT_CHATTY
#define CHAT(text) (printf("%s\n", text), fflush(stdout))
#else
#define CHAT(text) ((void)0)
#endif

static DWORD Get32(const BYTE* p) {
  return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}

/* The whole input: memory as given, or the file from the offset on; a
 * block of the process heap, or NULL. */
static BYTE* ReadInput(LPCSTR buf, LONG_PTR len, unsigned int flag, SIZE_T* size) {
  if ((flag & 7) == 1) {
    if (len < 0) return NULL;
    BYTE* copy = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)len + 1);
    if (copy != NULL) memcpy(copy, buf, (SIZE_T)len);
    *size = (SIZE_T)len;
    return copy;
  }
  HANDLE file = CreateFileA(buf, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  LARGE_INTEGER file_size;
  BYTE* data = NULL;
  if (GetFileSizeEx(file, &file_size) && file_size.QuadPart >= len &&
      file_size.QuadPart < (1 << 30)) {
    const DWORD n = (DWORD)(file_size.QuadPart - len);
    LARGE_INTEGER at;
    at.QuadPart = len;
    DWORD got = 0;
    data = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)n + 1);
    if (data != NULL && (!SetFilePointerEx(file, at, NULL, FILE_BEGIN) ||
                         !ReadFile(file, data, n, &got, NULL) || got != n)) {
      HeapFree(GetProcessHeap(), 0, data);
      data = NULL;
    }
    *size = n;
  }
  CloseHandle(file);
  return data;
}

typedef struct Image {
  DWORD width, height;
  const BYTE* rgb;
} Image;

static int Parse(const BYTE* data, SIZE_T size, Image* image) {
  if (size < KVT_HEADER || memcmp(data, "KVT1", 4) != 0) return 2;
  image->width = Get32(data + 4);
  image->height = Get32(data + 8);
  if (image->width == 0 || image->height == 0 || image->width > KVT_MAX_SIDE ||
      image->height > KVT_MAX_SIDE)
    return 3;
  if ((size - KVT_HEADER) / 3 / image->width < image->height) return 3;
  image->rgb = data + KVT_HEADER;
  return 0;
}

/* The DIB of the top-left `width` x `height` pixels of `image`. */
static int MakeDib(const Image* image, DWORD width, DWORD height, HLOCAL* pHBInfo, HLOCAL* pHBm,
                   ProgressCallback progress, LONG_PTR lData) {
  const DWORD stride = (width * 3 + 3) / 4 * 4;
  HLOCAL info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
  HLOCAL bits = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, (SIZE_T)stride * height);
  if (info == NULL || bits == NULL) {
    if (info != NULL) LocalFree(info);
    if (bits != NULL) LocalFree(bits);
    return 4;
  }
  BITMAPINFOHEADER* header = LocalLock(info);
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = (LONG)width;
  header->biHeight = (LONG)height;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = BI_RGB;
  LocalUnlock(info);

  BYTE* rows = LocalLock(bits);
  int result = 0;
  if (progress != NULL && progress(0, (int)height, lData) != 0) result = 1;
  for (DWORD y = 0; y < height && result == 0; ++y) {
    BYTE* out = rows + (SIZE_T)(height - 1 - y) * stride;
    const BYTE* in = image->rgb + (SIZE_T)y * image->width * 3;
    for (DWORD x = 0; x < width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
    if (progress != NULL && progress((int)(y + 1), (int)height, lData) != 0) result = 1;
  }
  LocalUnlock(bits);
  if (result != 0) {
    LocalFree(info);
    LocalFree(bits);
    return result;
  }
  *pHBInfo = info;
  *pHBm = bits;
  return 0;
}

static int Decode(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                  ProgressCallback progress, LONG_PTR lData, int preview) {
  SIZE_T size = 0;
  BYTE* data = ReadInput(buf, len, flag, &size);
  if (data == NULL) return 6;
  Image image;
  int result = Parse(data, size, &image);
  if (result == 0)
    result = preview ? MakeDib(&image, 1, 1, pHBInfo, pHBm, progress, lData)
                     : MakeDib(&image, image.width, image.height, pHBInfo, pHBm, progress, lData);
  HeapFree(GetProcessHeap(), 0, data);
  return result;
}

#ifdef KVT_WRITE_FILE
static void WriteBeside(LPCSTR picture) {
  char path[MAX_PATH * 2];
  lstrcpynA(path, picture, MAX_PATH);
  char* slash = strrchr(path, '\\');
  if (slash == NULL) return;
  lstrcpyA(slash + 1, "written.txt");
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) *(volatile int*)(INT_PTR)0 = 1;
}
#endif

#ifdef KVT_OPEN_SOCKET
static void OpenSocket(void) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  struct sockaddr_in loopback;
  memset(&loopback, 0, sizeof loopback);
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, (struct sockaddr*)&loopback, sizeof loopback);
  *(volatile int*)(INT_PTR)0 = 1;
}
#endif

#ifdef KVT_HELPER
__declspec(dllimport) const char* WINAPI HelperName(void);
#endif

EXPORT int WINAPI GetPluginInfo(int infono, LPSTR buf, int buflen) {
  static const char* const kInfo[] = {"00IN", "KVT test decoder for Windows", "*.kvt",
                                      "KVT test image"};
  CHAT("GetPluginInfo");
  if (infono < 0 || infono >= 4 || buf == NULL || buflen <= 0) return 0;
#ifdef KVT_HELPER
  if (infono == 1) {
    lstrcpynA(buf, HelperName(), buflen);
    return lstrlenA(buf);
  }
#endif
  lstrcpynA(buf, kInfo[infono], buflen);
  return lstrlenA(buf);
}

EXPORT int WINAPI IsSupported(LPCSTR filename, void* dw) {
  (void)filename;
  CHAT("IsSupported");
  return memcmp(dw, "KVT1", 4) == 0;
}

EXPORT int WINAPI GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned int flag, PictureInfo* lpInfo) {
  CHAT("GetPictureInfo");
  SIZE_T size = 0;
  BYTE* data = ReadInput(buf, len, flag, &size);
  if (data == NULL) return 6;
  Image image;
  const int result = Parse(data, size, &image);
  if (result == 0) {
    memset(lpInfo, 0, sizeof *lpInfo);
    lpInfo->width = (LONG)image.width;
    lpInfo->height = (LONG)image.height;
    lpInfo->colorDepth = 24;
  }
  HeapFree(GetProcessHeap(), 0, data);
  return result;
}

#ifdef KVT_STACK_OVERFLOW
static int Deeper(volatile char* above, unsigned depth) {
  volatile char frame[4096];
  frame[0] = above != NULL ? above[0] : 1;
  if (depth == 0xFFFFFFFFu) return frame[0];
  return Deeper(frame, depth + 1) + frame[100];
}
#endif

#ifdef KVT_START_PROCESS
static void StartWaitingProcess(void) {
  HANDLE read_end = NULL, write_end = NULL;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return;
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start;
  memset(&start, 0, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = read_end;
  start.hStdOutput = start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  char command[] = "cmd.exe /k";
  if (CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read_end); /* the write end stays open: cmd.exe waits */
}
#endif

EXPORT int WINAPI GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo,
                             HLOCAL* pHBm, ProgressCallback lpPrgressCallback, LONG_PTR lData) {
  CHAT("GetPicture");
#ifdef KVT_CRASH
  *(volatile int*)(INT_PTR)0 = 1;
#endif
#ifdef KVT_HANG
  for (;;) Sleep(1000);
#endif
#ifdef KVT_STACK_OVERFLOW
  if (Deeper(NULL, 0) == 42) return 8;
#endif
#ifdef KVT_START_PROCESS
  StartWaitingProcess();
#endif
#ifdef KVT_WRITE_FILE
  if ((flag & 7) == 0) WriteBeside(buf);
#endif
#ifdef KVT_OPEN_SOCKET
  OpenSocket();
#endif
  return Decode(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, 0);
}

EXPORT int WINAPI GetPreview(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo,
                             HLOCAL* pHBm, ProgressCallback lpPrgressCallback, LONG_PTR lData) {
  CHAT("GetPreview");
  return Decode(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, 1);
}
