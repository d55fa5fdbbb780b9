// The user32 functions that the neutral toolkit provides, through its backend:
// message boxes, the focus, system metrics, icons, and drawing an icon while
// painting (CPaintDC).
#include <map>

#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/window.h"

using toolkit::Window;

namespace {

// An HICON is the address of one of these, made once per icon resource and
// kept for the life of the process, as Win32 keeps shared icons.
struct IconHandle {
  UINT id;
};

std::map<UINT, IconHandle>& iconTable() {
  static std::map<UINT, IconHandle> table;
  return table;
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  toolkit::Backend* backend = toolkit::currentBackend();
  if (backend == nullptr) return 0;
  // Win32 uses the top-level window of the owner; a caption of null is
  // "Error", as Windows shows it.
  Window* owner_window = Window::fromHandle(owner);
  if (owner_window != nullptr) owner_window = owner_window->topLevel();
  const std::string caption_text = caption != nullptr ? caption : "Error";
  const int result =
      backend->messageBox(owner_window, text != nullptr ? text : "", caption_text, type);
  if (result != 0)
    toolkit::recordShown({toolkit::Shown::Kind::MessageBox, type, caption_text, result});
  return result;
}

HWND GetFocus() {
  toolkit::Backend* backend = toolkit::currentBackend();
  Window* window = backend != nullptr ? backend->focusWindow() : nullptr;
  return window != nullptr ? window->handle() : nullptr;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    default:
      return 0;
  }
}

HICON LoadIconA(HINSTANCE instance, UINT id) {
  if (instance == nullptr || instance != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (resources::findIcon(id) == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  IconHandle& handle = iconTable().try_emplace(id, IconHandle{id}).first->second;
  return reinterpret_cast<HICON>(&handle);
}

CPaintDC::CPaintDC(CWnd* window) : m_window(window) {
  // The device context is a token: painting goes through the backend.
  if (window != nullptr && Window::fromHandle(window->m_hWnd) != nullptr)
    m_hdc = reinterpret_cast<HDC>(window->m_hWnd);
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
  Window* window = m_window != nullptr ? Window::fromHandle(m_window->m_hWnd) : nullptr;
  toolkit::Backend* backend = toolkit::currentBackend();
  if (window == nullptr || icon == nullptr || backend == nullptr) return FALSE;
  for (const auto& [id, handle] : iconTable()) {
    if (reinterpret_cast<HICON>(const_cast<IconHandle*>(&handle)) == icon) {
      backend->drawIcon(*window, x, y, id);
      return TRUE;
    }
  }
  return FALSE;
}
