/* The baseline of the bridge benchmark: a Windows program that loads a
 * plug-in DLL itself and decodes a file with it, so that the same DLL is
 * timed under the same Wine with no bridge and no host in between.
 *
 *   windows-direct-decode.exe PLUGIN.DLL FILE COUNT
 *
 * prints one line per decode: the milliseconds GetPicture took. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

typedef int(WINAPI* GetPictureFunc)(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* info,
                                    HLOCAL* bits, void* progress, LONG_PTR data);

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: windows-direct-decode PLUGIN FILE COUNT\n");
    return 2;
  }
  HMODULE plugin = LoadLibraryA(argv[1]);
  GetPictureFunc get_picture =
      plugin != NULL ? (GetPictureFunc)(void (*)(void))GetProcAddress(plugin, "GetPicture") : NULL;
  if (get_picture == NULL) {
    fprintf(stderr, "windows-direct-decode: %s has no GetPicture\n", argv[1]);
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  const int count = atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    HLOCAL info = NULL, bits = NULL;
    QueryPerformanceCounter(&start);
    const int result = get_picture(argv[2], 0, 0, &info, &bits, NULL, 0);
    QueryPerformanceCounter(&end);
    if (result != 0) {
      fprintf(stderr, "windows-direct-decode: GetPicture returned %d\n", result);
      return 1;
    }
    LocalFree(info);
    LocalFree(bits);
    printf("%.3f\n", (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    fflush(stdout);
  }
  return 0;
}
