#include "platform/system/shutdown.h"

#include <utility>

namespace {
std::function<bool(UINT, DWORD)>& Handler() {
  static std::function<bool(UINT, DWORD)> handler;
  return handler;
}
}  // namespace

void setShutdownHandler(std::function<bool(UINT flags, DWORD reason)> handler) {
  Handler() = std::move(handler);
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  if (!Handler()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!Handler()(flags, reason)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}
