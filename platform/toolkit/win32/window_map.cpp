#include "platform/toolkit/win32/window_map.h"

#include <map>
#include <memory>

namespace toolkit::win32 {
namespace {

struct Entry {
  CWnd* cwnd = nullptr;
  std::unique_ptr<CWnd> temporary;
  WNDPROC super = nullptr;
};

std::map<HWND, Entry>& entries() {
  static std::map<HWND, Entry> map;
  return map;
}

}  // namespace

void attach(HWND hwnd, CWnd& cwnd) {
  Entry& entry = entries()[hwnd];
  if (entry.cwnd != nullptr && entry.cwnd != &cwnd) entry.cwnd->m_hWnd = nullptr;
  entry.cwnd = &cwnd;
  entry.temporary.reset();
  cwnd.m_hWnd = hwnd;
}

void detach(HWND hwnd) {
  const auto it = entries().find(hwnd);
  if (it == entries().end()) return;
  if (it->second.cwnd != nullptr) it->second.cwnd->m_hWnd = nullptr;
  entries().erase(it);
}

CWnd* attached(HWND hwnd) {
  const auto it = entries().find(hwnd);
  return it != entries().end() ? it->second.cwnd : nullptr;
}

CWnd* fromHandle(HWND hwnd) {
  if (hwnd == nullptr || !::IsWindow(hwnd)) return nullptr;
  Entry& entry = entries()[hwnd];
  if (entry.cwnd == nullptr) {
    entry.temporary = std::make_unique<CWnd>();
    entry.cwnd = entry.temporary.get();
    entry.cwnd->m_hWnd = hwnd;
  }
  return entry.cwnd;
}

void forgetDestroyedWindows() {
  for (auto it = entries().begin(); it != entries().end();) {
    if (::IsWindow(it->first)) {
      ++it;
      continue;
    }
    if (it->second.cwnd != nullptr) it->second.cwnd->m_hWnd = nullptr;
    it = entries().erase(it);
  }
}

void setSuperProc(HWND hwnd, WNDPROC proc) { entries()[hwnd].super = proc; }

WNDPROC superProc(HWND hwnd) {
  const auto it = entries().find(hwnd);
  return it != entries().end() ? it->second.super : nullptr;
}

}  // namespace toolkit::win32
