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

BOOL CWnd::UpdateData(BOOL save_and_validate) {
  CDataExchange dx(this, save_and_validate);
  DoDataExchange(&dx);
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange* /*dx*/) {}

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

LRESULT CWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wparam));
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(OnQueryDragIcon());
    case WM_COMMAND:
      if (OnCommand(wparam, lparam)) return 0;
      return Default();
    default:
      return Default();
  }
}

BOOL CWnd::OnCommand(WPARAM /*wparam*/, LPARAM /*lparam*/) { return FALSE; }

LRESULT CWnd::Default() {
  Window* window = windowOf(m_hWnd);
  return window != nullptr ? window->defaultProc(m_msg, m_wparam, m_lparam) : 0;
}

void CWnd::OnTimer(UINT_PTR /*id_event*/) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

int CButton::GetCheck() const {
  return static_cast<int>(const_cast<CButton*>(this)->SendMessage(BM_GETCHECK));
}

void CButton::SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }

void CProgressCtrl::SetRange(short lower, short upper) {
  SendMessage(PBM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(lower), static_cast<WORD>(upper)));
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
  auto* self = const_cast<CProgressCtrl*>(this);
  lower = static_cast<int>(self->SendMessage(PBM_GETRANGE, TRUE));
  upper = static_cast<int>(self->SendMessage(PBM_GETRANGE, FALSE));
}

int CProgressCtrl::SetPos(int pos) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)));
}

int CProgressCtrl::GetPos() const {
  return static_cast<int>(const_cast<CProgressCtrl*>(this)->SendMessage(PBM_GETPOS));
}

int CProgressCtrl::SetStep(int step) {
  return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step)));
}

int CProgressCtrl::StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }

CDataExchange::CDataExchange(CWnd* dialog, BOOL save_and_validate)
    : m_pDlgWnd(dialog), m_bSaveAndValidate(save_and_validate) {}

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
