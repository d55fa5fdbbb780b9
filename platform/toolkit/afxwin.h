// A small MFC-like toolkit: the application object, windows, a modal dialog
// built from a dialog template, the few controls the program uses, message
// boxes, window timers and the shutdown request. Names and conventions follow
// MFC and Win32 so the program logic reads like the Windows program it is.
//
// This header names no type of any backend. On Windows the classes wrap the
// real windows (platform/toolkit/win32). Elsewhere the controls' state lives in
// plain C++, and a backend (the Qt window or the text mode) shows it and feeds
// timer and command messages back in.
//
// With <windows.h>, names such as SendMessage, GetWindowText and LoadIcon are
// macros for their ...A functions; the members below are renamed with them in
// every file that includes this header, so callers and definitions agree.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/win32/windows.h"

using CString = std::string;

class CDataExchange;
class CWinApp;

namespace toolkit {
struct Window;  // the backend-neutral state of one window or control
namespace win32 {
struct Dispatch;  // the window procedures of the Windows toolkit
}
}  // namespace toolkit

// A window or control. A CWnd is attached to a window (m_hWnd) by the dialog
// that creates it or by DDX_Control; messages reach it through WindowProc.
class CWnd {
 public:
  CWnd();
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  static CWnd* FromHandle(HWND hwnd);

  void SetWindowText(LPCSTR text);
  int GetWindowText(CString& text) const;
  int GetWindowTextLength() const;
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL IsIconic() const;
  void GetClientRect(LPRECT rect) const;
  void CenterWindow(CWnd* alternate_owner = nullptr);

  // Runs DoDataExchange: FALSE fills the controls, TRUE reads them back.
  BOOL UpdateData(BOOL save_and_validate = TRUE);

  CWnd* GetDlgItem(int id) const;
  LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
  BOOL PostMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);

  UINT_PTR SetTimer(UINT_PTR id, UINT elapse_ms, void* timer_proc = nullptr);
  BOOL KillTimer(UINT_PTR id);

  static CWnd* GetFocus();

 protected:
  // Dispatches WM_TIMER, WM_PAINT, WM_QUERYDRAGICON and WM_COMMAND to the
  // handlers below; everything else gets the default handling.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  virtual BOOL OnCommand(WPARAM wparam, LPARAM lparam);
  // The default handling of the message being handled now.
  LRESULT Default();

  virtual void OnTimer(UINT_PTR id_event);
  virtual void OnPaint();
  virtual HCURSOR OnQueryDragIcon();
  virtual void DoDataExchange(CDataExchange* dx);

 private:
  // Runs WindowProc with the message remembered for Default(), and restores
  // the one handled before it afterwards (messages may nest).
  LRESULT dispatchMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // The message being handled now, for Default().
  UINT m_msg = 0;
  WPARAM m_wparam = 0;
  LPARAM m_lparam = 0;

  friend struct toolkit::Window;
  friend struct toolkit::win32::Dispatch;
  friend class CDialog;
};

class CStatic : public CWnd {};

class CButton : public CWnd {};

class CProgressCtrl : public CWnd {
 public:
  int GetPos() const;
  int SetStep(int step);
  int StepIt();
};

// A modal dialog built from a dialog template in the resources.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT template_id, CWnd* parent = nullptr);
  ~CDialog() override;

  // Creates the window from the template, runs OnInitDialog and the modal
  // loop, and returns the result given to EndDialog (or -1 if the template or
  // the window could not be created).
  virtual INT_PTR DoModal();
  void EndDialog(int result);

 protected:
  // Default: binds the controls through DoDataExchange; returns TRUE.
  virtual BOOL OnInitDialog();
  void DoDataExchange(CDataExchange* dx) override;
  virtual void OnOK();      // ends the modal run with IDOK
  virtual void OnCancel();  // ends the modal run with IDCANCEL
  BOOL OnCommand(WPARAM wparam, LPARAM lparam) override;
  // Adds WM_INITDIALOG, which runs OnInitDialog.
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  UINT m_template_id;
  CWnd* m_parent;
};

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL save_and_validate);
  CWnd* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
};

// Attaches `control` to the dialog's control `id`, so that the member object
// talks to that control from then on.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// A device context for painting; used only while a window is minimised.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window);
  ~CPaintDC();
  HDC GetSafeHdc() const { return m_hdc; }
  BOOL DrawIcon(int x, int y, HICON icon);

 private:
  CWnd* m_window;
  HDC m_hdc = nullptr;
#ifdef _WIN32
  PAINTSTRUCT m_ps{};
#endif
};

// The application object. Exactly one exists; its constructor registers it.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  // Runs when the application ends; returns the process exit code.
  virtual int ExitInstance();
  // Asks for the three-dimensional look of dialog controls; returns FALSE
  // where the backend cannot give it.
  BOOL Enable3dControls();
  HICON LoadIcon(UINT id) const;

  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// Runs the registered application: InitInstance, then ExitInstance, whose
// result is the process exit code. The program's windows are all modal and
// have ended when InitInstance returns, so there is no application message
// loop.
int AfxWinMain();

#ifndef _WIN32
// Win32 functions that the toolkit provides; on Windows they are user32's.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HWND GetFocus();
int GetSystemMetrics(int index);
HICON LoadIconA(HINSTANCE instance, UINT id);
#endif
