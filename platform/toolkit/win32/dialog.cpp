// CDialog on Windows: DialogBoxParamA on the template in the program's
// resources. The dialog object is attached to its window in WM_INITDIALOG and
// the window is subclassed, as MFC does it, so that every later message
// reaches the object's WindowProc first and Default() is the dialog class's
// own handling.
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/win32/window_map.h"

namespace toolkit::win32 {

struct Dispatch {
  // Runs `cwnd`'s WindowProc with the message remembered for Default().
  static LRESULT call(CWnd& cwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    return cwnd.dispatchMessage(message, wparam, lparam);
  }

  // The subclassed dialog's window procedure.
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const WNDPROC super = superProc(hwnd);
    CWnd* cwnd = attached(hwnd);
    if (message == WM_NCDESTROY) {
      // The window is going: the object lets go of it.
      ::SetWindowLongA(hwnd, GWL_WNDPROC, reinterpret_cast<LONG>(super));
      detach(hwnd);
      return ::CallWindowProcA(super, hwnd, message, wparam, lparam);
    }
    if (cwnd == nullptr) return ::CallWindowProcA(super, hwnd, message, wparam, lparam);
    return call(*cwnd, message, wparam, lparam);
  }

  // The dialog procedure that DialogBoxParamA is given. Once the window is
  // subclassed, the dialog class calls it for the default handling of every
  // message, which it leaves to the class.
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_INITDIALOG) return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(lparam);
    attach(hwnd, *dialog);
    setSuperProc(hwnd, reinterpret_cast<WNDPROC>(::SetWindowLongA(
                           hwnd, GWL_WNDPROC, reinterpret_cast<LONG>(&windowProc))));
    // TRUE: the system puts the focus on the first control that takes it.
    return call(*dialog, WM_INITDIALOG, wparam, lparam);
  }
};

}  // namespace toolkit::win32

CDialog::CDialog(UINT template_id, CWnd* parent) : m_template_id(template_id), m_parent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
  if (m_hWnd != nullptr) return -1;
  HWND parent = m_parent != nullptr ? m_parent->m_hWnd : nullptr;
  const INT_PTR result =
      ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_template_id), parent,
                        &toolkit::win32::Dispatch::dialogProc, reinterpret_cast<LPARAM>(this));
  // The controls' objects, attached or temporary, outlive their windows.
  toolkit::win32::forgetDestroyedWindows();
  m_hWnd = nullptr;
  return result;
}

void CDialog::EndDialog(int result) {
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);
}
