// CWnd on Windows: each member is the user32 call on the real window.
#include <string>

#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/win32/window_map.h"

namespace win32 = toolkit::win32;

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd != nullptr && win32::attached(m_hWnd) == this) win32::detach(m_hWnd);
}

CWnd* CWnd::FromHandle(HWND hwnd) { return win32::fromHandle(hwnd); }

void CWnd::SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text != nullptr ? text : ""); }

int CWnd::GetWindowText(CString& text) const {
  const int length = ::GetWindowTextLengthA(m_hWnd);
  if (length <= 0) {
    text.clear();
    return 0;
  }
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  const int copied = ::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
  text.assign(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
  return static_cast<int>(text.size());
}

int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }

BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(LPRECT rect) const {
  if (rect != nullptr) ::GetClientRect(m_hWnd, rect);
}

void CWnd::CenterWindow(CWnd* alternate_owner) {
  // Centred on the owner, or on the work area (the screen less the task bar)
  // for a window without one, and kept inside the work area.
  RECT work{};
  if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
    work = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  HWND owner = alternate_owner != nullptr ? alternate_owner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
  RECT centre_on = work;
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner))
    ::GetWindowRect(owner, &centre_on);

  RECT window{};
  if (!::GetWindowRect(m_hWnd, &window)) return;
  const LONG width = window.right - window.left;
  const LONG height = window.bottom - window.top;
  LONG x = (centre_on.left + centre_on.right - width) / 2;
  LONG y = (centre_on.top + centre_on.bottom - height) / 2;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWnd* CWnd::GetDlgItem(int id) const { return win32::fromHandle(::GetDlgItem(m_hWnd, id)); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::SendMessageA(m_hWnd, message, wparam, lparam);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::SendDlgItemMessageA(m_hWnd, id, message, wparam, lparam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::PostMessageA(m_hWnd, message, wparam, lparam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse_ms, void* timer_proc) {
  return ::SetTimer(m_hWnd, id, elapse_ms, reinterpret_cast<TIMERPROC>(timer_proc));
}

BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

CWnd* CWnd::GetFocus() { return win32::fromHandle(::GetFocus()); }

LRESULT CWnd::Default() {
  // A subclassed window (the dialog) gets its class's handling; any other
  // window the system's.
  if (WNDPROC super = win32::superProc(m_hWnd))
    return ::CallWindowProcA(super, m_hWnd, m_msg, m_wparam, m_lparam);
  return ::DefWindowProcA(m_hWnd, m_msg, m_wparam, m_lparam);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  // As in MFC, a control is attached once; later exchanges leave it as it is.
  if (dx == nullptr || dx->m_pDlgWnd == nullptr || control.m_hWnd != nullptr) return;
  HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
  if (item != nullptr) win32::attach(item, control);
}
