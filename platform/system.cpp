#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <windows.h>

extern "C" {

void WINAPI Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

// The host name up to its first dot, as the machine's name.
BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (nSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "localhost");
  if (char* dot = std::strchr(host, '.')) *dot = '\0';
  const DWORD length = static_cast<DWORD>(std::strlen(host));
  if (lpBuffer == nullptr || *nSize <= length) {
    *nSize = length + 1;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, host, length + 1);
  *nSize = length;
  return TRUE;
}

}  // extern "C"
