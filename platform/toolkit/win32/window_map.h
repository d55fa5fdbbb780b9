// Which CWnd stands for which real window. A CWnd is attached to its window by
// the dialog that creates it or by DDX_Control; any other window asked for by
// handle (GetDlgItem, GetFocus) gets a temporary CWnd, kept until its window
// is gone, as MFC keeps its temporary objects.
#pragma once

#include "platform/toolkit/afxwin.h"

namespace toolkit::win32 {

// Attaches `cwnd` to `hwnd`; a CWnd attached to it before is let go.
void attach(HWND hwnd, CWnd& cwnd);
// Lets go of whatever CWnd is attached to `hwnd`.
void detach(HWND hwnd);
// The attached CWnd, or null.
CWnd* attached(HWND hwnd);
// The attached CWnd, or a temporary one; null for null or a handle that is no
// window.
CWnd* fromHandle(HWND hwnd);
// Lets go of the CWnd objects, attached and temporary, whose windows no longer
// exist.
void forgetDestroyedWindows();

// The window procedure that the dialog had before it was subclassed, which
// gives the default handling of its messages.
void setSuperProc(HWND hwnd, WNDPROC proc);
WNDPROC superProc(HWND hwnd);

}  // namespace toolkit::win32
