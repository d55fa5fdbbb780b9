// The application object and the program's start (CWinApp, AfxWinMain) on the
// neutral toolkit, whose windows a backend shows.
#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() {
  toolkit::Backend* backend = toolkit::currentBackend();
  return backend != nullptr && backend->enable3dControls() ? TRUE : FALSE;
}

HICON CWinApp::LoadIcon(UINT id) const { return LoadIconA(AfxGetResourceHandle(), id); }

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() { return GetModuleHandleA(nullptr); }

int AfxWinMain() {
  // Without an application object or a backend there is nothing to show the
  // program's questions with, so it must not start at all.
  if (g_app == nullptr || toolkit::currentBackend() == nullptr) return -1;
  if (!g_app->InitInstance()) return g_app->ExitInstance();
  // The program's windows are modal and have ended by now; a modeless main
  // window is not supported, so there is no application message loop.
  return g_app->ExitInstance();
}
