// The program's start (AfxWinMain) and the parts of the application object
// that differ on the neutral toolkit, whose windows a backend shows.
#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"

BOOL CWinApp::Enable3dControls() {
  toolkit::Backend* backend = toolkit::currentBackend();
  return backend != nullptr && backend->enable3dControls() ? TRUE : FALSE;
}

HICON CWinApp::LoadIcon(UINT id) const { return LoadIconA(AfxGetResourceHandle(), id); }

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  // Without an application object or a backend there is nothing to show the
  // program's questions with, so it must not start at all.
  if (app == nullptr || toolkit::currentBackend() == nullptr) return -1;
  if (!app->InitInstance()) return app->ExitInstance();
  // The program's windows are modal and have ended by now; a modeless main
  // window is not supported, so there is no application message loop.
  return app->ExitInstance();
}
