// The application object, its start and the painting of a minimised window,
// on Windows.
#include "platform/toolkit/afxwin.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

// Windows 95 draws every dialog control in the three-dimensional look itself.
BOOL CWinApp::Enable3dControls() { return TRUE; }

HICON CWinApp::LoadIcon(UINT id) const {
  return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleA(nullptr); }

int AfxWinMain() {
  if (g_app == nullptr) return -1;
  // The progress bar's window class lives in comctl32.
  ::InitCommonControls();
  if (!g_app->InitInstance()) return g_app->ExitInstance();
  // The program's windows are modal and have ended by now; a modeless main
  // window is not supported, so there is no application message loop.
  return g_app->ExitInstance();
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
