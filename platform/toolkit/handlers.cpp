// The parts of the toolkit that are the same on every platform: how a window
// hands its messages to the handlers, the handlers' default behaviour, data
// exchange, and the control classes, which only send their controls messages.
#include "platform/toolkit/afxwin.h"

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

void CWnd::OnTimer(UINT_PTR /*id_event*/) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

BOOL CWnd::UpdateData(BOOL save_and_validate) {
  CDataExchange dx(this, save_and_validate);
  DoDataExchange(&dx);
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange* /*dx*/) {}

int CProgressCtrl::GetPos() const {
  return static_cast<int>(const_cast<CProgressCtrl*>(this)->SendMessage(PBM_GETPOS));
}

int CProgressCtrl::SetStep(int step) {
  return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step)));
}

int CProgressCtrl::StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }

CDataExchange::CDataExchange(CWnd* dialog, BOOL save_and_validate)
    : m_pDlgWnd(dialog), m_bSaveAndValidate(save_and_validate) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*dx*/) {}

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wparam, LPARAM /*lparam*/) {
  // Only the clicks and commands of OK and Cancel have a default meaning;
  // notifications of other controls (a click on a check box) are ignored.
  if (HIWORD(wparam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wparam)) {
    case IDOK:
      OnOK();
      return TRUE;
    case IDCANCEL:
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) return OnInitDialog();
  return CWnd::WindowProc(message, wparam, lparam);
}

LRESULT CWnd::dispatchMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const UINT saved_msg = m_msg;
  const WPARAM saved_wparam = m_wparam;
  const LPARAM saved_lparam = m_lparam;
  m_msg = message;
  m_wparam = wparam;
  m_lparam = lparam;
  const LRESULT result = WindowProc(message, wparam, lparam);
  m_msg = saved_msg;
  m_wparam = saved_wparam;
  m_lparam = saved_lparam;
  return result;
}
