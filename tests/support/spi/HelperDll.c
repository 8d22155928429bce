/* helper.dll for the bridge's DLL search test: HelperName says which copy
 * was loaded (HELPER_NAME, chosen when it is built). */
#include <windows.h>

__declspec(dllexport) const char* WINAPI HelperName(void) {
  return HELPER_NAME;
}
