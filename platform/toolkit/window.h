// The backend-neutral state of a window or control: what a backend shows and
// what the control messages read and change. A dialog owns its controls; the
// HWND handed to the program is the address of one of these, checked against
// the set of live windows before use, so a stale handle is refused, not read.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/afxwin.h"

namespace resources {
struct DialogTemplate;
}

namespace toolkit {

enum class WindowKind { Dialog, Static, CheckBox, ProgressBar, Icon, PushButton, Other };

// What changed in a window, so that a backend redraws only that.
enum class Change { Text, Check, Progress, Enabled };

struct Window {
  Window(WindowKind kind, int id);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND handle() const { return reinterpret_cast<HWND>(const_cast<Window*>(this)); }
  // The live window behind `hwnd`, or null for null, stale or foreign handles.
  static Window* fromHandle(HWND hwnd);

  Window* child(int id) const;
  Window* topLevel();

  // The CWnd that handles this window's messages: the attached one, or a
  // plain CWnd made on first use and kept for the window's life (as MFC's
  // temporary objects, but never freed while the window exists).
  CWnd& owner();

  // Runs `cwnd`'s WindowProc with the message remembered for Default().
  static LRESULT call(CWnd& cwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // The default handling of a message by this window's kind of control.
  LRESULT defaultProc(UINT message, WPARAM wparam, LPARAM lparam);

  WindowKind kind;
  int id;
  std::string text;
  DWORD style = 0;
  bool enabled = true;
  int check = static_cast<int>(BST_UNCHECKED);
  int rangeMin = 0;  // progress bars: Win32's defaults
  int rangeMax = 100;
  int pos = 0;
  int step = 10;
  int iconId = 0;  // icon controls: the icon resource shown
  RECT rect{};     // pixels; controls relative to the dialog's client area
  Window* parent = nullptr;
  std::vector<std::unique_ptr<Window>> children;
  CWnd* attached = nullptr;
  std::unique_ptr<CWnd> temporary;
  std::optional<int> endResult;  // dialogs: set by EndDialog

 private:
  void notify(Change change);
  LRESULT progressProc(UINT message, WPARAM wparam, LPARAM lparam);
};

// Dialog units to pixels with the base units of the dialog font, MS Sans
// Serif 8 point: 6 by 13 pixels for 4 by 8 units, as Windows lays it out.
constexpr int dialogUnitsToPixelsX(int du) { return du * 6 / 4; }
constexpr int dialogUnitsToPixelsY(int du) { return du * 13 / 8; }

// Builds the window tree of a dialog template, laid out in pixels; styles,
// texts and the initial enabled states are the template's.
std::unique_ptr<Window> createDialogWindow(const resources::DialogTemplate& dialog_template);

// Detaches every CWnd from the windows of the tree, so that the program's
// objects outlive the windows safely.
void detachWindowTree(Window& root);

}  // namespace toolkit
