// The program's start, the parts of the application object that differ on
// Windows, and the painting of a minimised window.
#include "platform/toolkit/afxwin.h"

// Windows 95 draws every dialog control in the three-dimensional look itself.
BOOL CWinApp::Enable3dControls() { return TRUE; }

HICON CWinApp::LoadIcon(UINT id) const {
  return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  // The progress bar's window class lives in comctl32.
  ::InitCommonControls();
  if (!app->InitInstance()) return app->ExitInstance();
  // The program's windows are modal and have ended by now; a modeless main
  // window is not supported, so there is no application message loop.
  return app->ExitInstance();
}

CPaintDC::CPaintDC(CWnd* window) : m_window(window) {
  if (window != nullptr && window->m_hWnd != nullptr) m_hdc = ::BeginPaint(window->m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
  if (m_hdc != nullptr) ::EndPaint(m_window->m_hWnd, &m_ps);
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
  return m_hdc != nullptr ? ::DrawIcon(m_hdc, x, y, icon) : FALSE;
}
