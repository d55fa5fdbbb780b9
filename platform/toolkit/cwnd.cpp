// CWnd and the control classes: thin wrappers that turn member calls into the
// window messages Win32 would send, so a CWnd and a raw SendMessage agree.
#include <cstdio>
#include <string>

#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/window.h"

using toolkit::Window;

namespace {

Window* windowOf(HWND hwnd) { return Window::fromHandle(hwnd); }

}  // namespace

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (Window* window = windowOf(m_hWnd); window != nullptr && window->attached == this)
    window->attached = nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  Window* window = windowOf(hwnd);
  return window != nullptr ? &window->owner() : nullptr;
}

void CWnd::SetWindowText(LPCSTR text) {
  SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : ""));
}

int CWnd::GetWindowText(CString& text) const {
  const Window* window = windowOf(m_hWnd);
  text = window != nullptr ? window->text : std::string();
  return static_cast<int>(text.size());
}

int CWnd::GetWindowTextLength() const {
  const Window* window = windowOf(m_hWnd);
  return window != nullptr ? static_cast<int>(window->text.size()) : 0;
}

BOOL CWnd::EnableWindow(BOOL enable) {
  Window* window = windowOf(m_hWnd);
  if (window == nullptr) return FALSE;
  // Returns whether the window was disabled before, as Win32 does.
  const BOOL was_disabled = window->enabled ? FALSE : TRUE;
  if (window->enabled != (enable != FALSE)) {
    window->enabled = enable != FALSE;
    if (toolkit::Backend* backend = toolkit::currentBackend())
      backend->windowChanged(*window, toolkit::Change::Enabled);
  }
  return was_disabled;
}

BOOL CWnd::IsWindowEnabled() const {
  const Window* window = windowOf(m_hWnd);
  return window != nullptr && window->enabled ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const {
  const Window* window = windowOf(m_hWnd);
  toolkit::Backend* backend = toolkit::currentBackend();
  return window != nullptr && backend != nullptr && backend->isIconic(*window) ? TRUE : FALSE;
}

void CWnd::GetClientRect(LPRECT rect) const {
  if (rect == nullptr) return;
  const Window* window = windowOf(m_hWnd);
  if (window == nullptr) return;
  *rect =
      RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
}

void CWnd::CenterWindow(CWnd* /*alternate_owner*/) {
  // The program's dialogs have no owner, so they are centred on the work
  // area of the screen, which is the backend's to know.
  Window* window = windowOf(m_hWnd);
  toolkit::Backend* backend = toolkit::currentBackend();
  if (window != nullptr && backend != nullptr) backend->centerWindow(*window);
}

CWnd* CWnd::GetDlgItem(int id) const {
  Window* window = windowOf(m_hWnd);
  Window* child = window != nullptr ? window->child(id) : nullptr;
  return child != nullptr ? &child->owner() : nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  Window* window = windowOf(m_hWnd);
  if (window == nullptr) return 0;
  return Window::call(window->owner(), message, wparam, lparam);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam) {
  CWnd* item = GetDlgItem(id);
  return item != nullptr ? item->SendMessage(message, wparam, lparam) : 0;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  Window* window = windowOf(m_hWnd);
  toolkit::Backend* backend = toolkit::currentBackend();
  if (window == nullptr || backend == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return backend->postMessage(*window, message, wparam, lparam) ? TRUE : FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse_ms, void* /*timer_proc*/) {
  // Timer procedures are not supported: every timer is a WM_TIMER message.
  Window* window = windowOf(m_hWnd);
  toolkit::Backend* backend = toolkit::currentBackend();
  if (window == nullptr || backend == nullptr || id == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return backend->setTimer(*window, id, elapse_ms) ? id : 0;
}

BOOL CWnd::KillTimer(UINT_PTR id) {
  Window* window = windowOf(m_hWnd);
  toolkit::Backend* backend = toolkit::currentBackend();
  if (window == nullptr || backend == nullptr) return FALSE;
  return backend->killTimer(*window, id) ? TRUE : FALSE;
}

CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }

LRESULT CWnd::Default() {
  Window* window = windowOf(m_hWnd);
  return window != nullptr ? window->defaultProc(m_msg, m_wparam, m_lparam) : 0;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  // As in MFC, a control is attached once; later exchanges leave it as it is.
  if (dx == nullptr || dx->m_pDlgWnd == nullptr || control.m_hWnd != nullptr) return;
  Window* dialog = Window::fromHandle(dx->m_pDlgWnd->m_hWnd);
  Window* child = dialog != nullptr ? dialog->child(id) : nullptr;
  if (child == nullptr) {
    std::fprintf(stderr, "toolkit: dialog %d has no control %d to bind\n",
                 dialog != nullptr ? dialog->id : 0, id);
    return;
  }
  if (child->attached != nullptr) child->attached->m_hWnd = nullptr;
  child->attached = &control;
  control.m_hWnd = child->handle();
}
