// The window tree of a dialog and the default handling of the control
// messages, with Win32's rules for texts, check marks and progress bars.
#include "platform/toolkit/window.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/resources/resources.h"
#include "platform/toolkit/backend.h"

namespace toolkit {
namespace {

std::unordered_set<const Window*>& liveWindows() {
  static std::unordered_set<const Window*> windows;
  return windows;
}

WindowKind kindOf(resources::ControlKind kind) {
  switch (kind) {
    case resources::ControlKind::Static:
      return WindowKind::Static;
    case resources::ControlKind::CheckBox:
      return WindowKind::CheckBox;
    case resources::ControlKind::ProgressBar:
      return WindowKind::ProgressBar;
    case resources::ControlKind::Icon:
      return WindowKind::Icon;
    case resources::ControlKind::PushButton:
      return WindowKind::PushButton;
    case resources::ControlKind::Other:
      break;
  }
  return WindowKind::Other;
}

RECT pixelRect(int x, int y, int cx, int cy) {
  const LONG left = dialogUnitsToPixelsX(x);
  const LONG top = dialogUnitsToPixelsY(y);
  return RECT{left, top, left + dialogUnitsToPixelsX(cx), top + dialogUnitsToPixelsY(cy)};
}

}  // namespace

Window::Window(WindowKind kind_, int id_) : kind(kind_), id(id_) { liveWindows().insert(this); }

Window::~Window() {
  children.clear();
  liveWindows().erase(this);
  if (attached != nullptr) attached->m_hWnd = nullptr;
}

Window* Window::fromHandle(HWND hwnd) {
  auto* window = reinterpret_cast<Window*>(hwnd);
  return liveWindows().contains(window) ? window : nullptr;
}

Window* Window::child(int child_id) const {
  for (const auto& c : children)
    if (c->id == child_id) return c.get();
  return nullptr;
}

Window* Window::topLevel() {
  Window* window = this;
  while (window->parent != nullptr) window = window->parent;
  return window;
}

CWnd& Window::owner() {
  if (attached != nullptr) return *attached;
  if (!temporary) {
    temporary = std::make_unique<CWnd>();
    temporary->m_hWnd = handle();
  }
  return *temporary;
}

LRESULT Window::call(CWnd& cwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return cwnd.dispatchMessage(message, wparam, lparam);
}

void Window::notify(Change change) {
  if (Backend* backend = currentBackend()) backend->windowChanged(*this, change);
}

LRESULT Window::defaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTEXT: {
      const char* new_text = reinterpret_cast<const char*>(lparam);
      text = new_text != nullptr ? new_text : "";
      notify(Change::Text);
      return TRUE;
    }
    case WM_GETTEXT: {
      // Copies at most wparam - 1 characters and the terminating zero;
      // returns the characters copied. A zero-sized buffer is not touched.
      char* buffer = reinterpret_cast<char*>(lparam);
      if (buffer == nullptr || wparam == 0) return 0;
      const size_t count = std::min<size_t>(text.size(), wparam - 1);
      std::memcpy(buffer, text.data(), count);
      buffer[count] = '\0';
      return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(text.size());
    case BM_GETCHECK:
      return kind == WindowKind::CheckBox ? check : 0;
    case BM_SETCHECK:
      // The check state of a check box is BST_UNCHECKED, BST_CHECKED or
      // BST_INDETERMINATE; other buttons ignore the message. Returns 0 as
      // Win32 does.
      if (kind == WindowKind::CheckBox && wparam <= BST_INDETERMINATE &&
          check != static_cast<int>(wparam)) {
        check = static_cast<int>(wparam);
        notify(Change::Check);
      }
      return 0;
    default:
      break;
  }
  if (kind == WindowKind::ProgressBar && message >= PBM_SETRANGE && message <= PBM_GETPOS)
    return progressProc(message, wparam, lparam);
  return 0;
}

LRESULT Window::progressProc(UINT message, WPARAM wparam, LPARAM lparam) {
  const int old_pos = pos;
  auto clampPos = [this] {
    pos = std::clamp(pos, std::min(rangeMin, rangeMax), std::max(rangeMin, rangeMax));
  };
  auto setRange = [&](int low, int high) {
    const LRESULT previous = MAKELPARAM(static_cast<WORD>(rangeMin), static_cast<WORD>(rangeMax));
    rangeMin = low;
    rangeMax = high;
    clampPos();
    notify(Change::Progress);
    return previous;
  };
  switch (message) {
    case PBM_SETRANGE:
      return setRange(LOWORD(static_cast<ULONG_PTR>(lparam)),
                      HIWORD(static_cast<ULONG_PTR>(lparam)));
    case PBM_SETRANGE32:
      return setRange(static_cast<int>(wparam), static_cast<int>(lparam));
    case PBM_GETRANGE:
      return wparam != 0 ? rangeMin : rangeMax;
    case PBM_SETPOS:
      pos = static_cast<int>(wparam);
      break;
    case PBM_DELTAPOS:
      pos += static_cast<int>(wparam);
      break;
    case PBM_SETSTEP: {
      const int previous = step;
      step = static_cast<int>(wparam);
      return previous;
    }
    case PBM_STEPIT:
      // Past either end the position starts over from the other end, keeping
      // the overshoot (comctl32 does the same); an empty range never moves.
      if (rangeMin != rangeMax) {
        const int span = rangeMax - rangeMin;
        pos += step;
        if (pos > rangeMax) pos = (pos - rangeMin) % span + rangeMin;
        if (pos < rangeMin) pos = (pos - rangeMin) % span + rangeMax;
      }
      if (pos != old_pos) notify(Change::Progress);
      return old_pos;
    case PBM_GETPOS:
      return pos;
    default:
      return 0;
  }
  clampPos();
  if (pos != old_pos) notify(Change::Progress);
  return old_pos;
}

std::unique_ptr<Window> createDialogWindow(const resources::DialogTemplate& dialog_template) {
  auto dialog = std::make_unique<Window>(WindowKind::Dialog, static_cast<int>(dialog_template.id));
  dialog->text = dialog_template.caption;
  dialog->style = dialog_template.style;
  dialog->enabled = (dialog_template.style & WS_DISABLED) == 0;
  dialog->rect =
      pixelRect(dialog_template.x, dialog_template.y, dialog_template.cx, dialog_template.cy);
  for (const resources::ControlTemplate& control : dialog_template.controls) {
    auto window = std::make_unique<Window>(kindOf(control.kind), control.id);
    window->text = control.text;
    window->style = control.style;
    window->enabled = (control.style & WS_DISABLED) == 0;
    window->iconId = control.iconId;
    window->rect = pixelRect(control.x, control.y, control.cx, control.cy);
    window->parent = dialog.get();
    dialog->children.push_back(std::move(window));
  }
  return dialog;
}

void detachWindowTree(Window& root) {
  for (auto& c : root.children) detachWindowTree(*c);
  if (root.attached != nullptr) {
    root.attached->m_hWnd = nullptr;
    root.attached = nullptr;
  }
}

}  // namespace toolkit
