#include "platform/winbase/winbase.h"

#include <cstring>

namespace {
thread_local DWORD g_last_error = 0;
}

DWORD GetLastError() { return g_last_error; }
void SetLastError(DWORD code) { g_last_error = code; }

int lstrcmpA(LPCSTR a, LPCSTR b) {
  // A null pointer sorts before every text, as kernel32 treats it.
  if (a == nullptr || b == nullptr) return (a == b) ? 0 : (a == nullptr ? -1 : 1);
  const int r = std::strcmp(a, b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int lstrlenA(LPCSTR s) { return s == nullptr ? 0 : static_cast<int>(std::strlen(s)); }

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int max_len) {
  if (dest == nullptr || max_len <= 0) return dest;
  if (src == nullptr) src = "";
  int i = 0;
  for (; i < max_len - 1 && src[i] != '\0'; ++i) dest[i] = src[i];
  dest[i] = '\0';
  return dest;
}
