// Stands in for Wine's session-ending program in a test prefix. Wine's
// ExitWindowsEx starts C:\windows\system32\wineboot.exe with --end-session
// (and --shutdown unless a restart was asked for), which ends every process of
// the prefix a few tens of milliseconds later. That would race the program's
// own close timer, so the test prefix gets this recorder in its place: it
// appends its command line to the file named by UINQ_SHUTDOWN_LOG and ends
// nothing, and the test then sees the program finish on its own.
#include <windows.h>

#include <cstdio>

int main() {
  char path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("UINQ_SHUTDOWN_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return 1;
  std::FILE* log = std::fopen(path, "a");
  if (log == nullptr) return 1;
  std::fprintf(log, "%s\n", GetCommandLineA());
  return std::fclose(log) == 0 ? 0 : 1;
}
