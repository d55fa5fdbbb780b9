// The application object, the backend registry and the Win32 functions that
// the toolkit provides (message boxes, focus, metrics, icons, painting).
#include <map>

#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/window.h"

using toolkit::Window;

namespace {

CWinApp* g_app = nullptr;
std::unique_ptr<toolkit::Backend> g_backend;
toolkit::MessageHook g_hook;
std::vector<toolkit::Shown> g_shown;
toolkit::DeliveryGuard g_guard;

// An HICON is the address of one of these, made once per icon resource and
// kept for the life of the process, as Win32 keeps shared icons.
struct IconHandle {
  UINT id;
};

std::map<UINT, IconHandle>& iconTable() {
  static std::map<UINT, IconHandle> table;
  return table;
}

}  // namespace

namespace toolkit {

void installBackend(std::unique_ptr<Backend> backend) { g_backend = std::move(backend); }

Backend* currentBackend() { return g_backend.get(); }

void setMessageHook(MessageHook hook) { g_hook = std::move(hook); }

const std::vector<Shown>& shownSoFar() { return g_shown; }

void clearShown() { g_shown.clear(); }

void recordShown(Shown shown) { g_shown.push_back(std::move(shown)); }
void setDeliveryGuard(DeliveryGuard guard) { g_guard = std::move(guard); }

LRESULT deliverMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND hwnd = window.handle();
  if (g_guard && !g_guard(hwnd, message, wparam)) return 0;
  const LRESULT result = Window::call(window.owner(), message, wparam, lparam);
  // A handler may destroy its window (a nested loop can end a dialog), so
  // the hook only runs for a window that still exists.
  if (g_hook && Window::fromHandle(hwnd) != nullptr) g_hook(message, wparam);
  return result;
}

}  // namespace toolkit

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() {
  return g_backend != nullptr && g_backend->enable3dControls() ? TRUE : FALSE;
}

HICON CWinApp::LoadIcon(UINT id) const { return LoadIconA(AfxGetResourceHandle(), id); }

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() { return GetModuleHandleA(nullptr); }

int AfxWinMain() {
  // Without an application object or a backend there is nothing to show the
  // program's questions with, so it must not start at all.
  if (g_app == nullptr || g_backend == nullptr) return -1;
  if (!g_app->InitInstance()) return g_app->ExitInstance();
  // The program's windows are modal and have ended by now; a modeless main
  // window is not supported, so there is no application message loop.
  return g_app->ExitInstance();
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (g_backend == nullptr) return 0;
  // Win32 uses the top-level window of the owner; a caption of null is
  // "Error", as Windows shows it.
  Window* owner_window = Window::fromHandle(owner);
  if (owner_window != nullptr) owner_window = owner_window->topLevel();
  const std::string caption_text = caption != nullptr ? caption : "Error";
  const int result =
      g_backend->messageBox(owner_window, text != nullptr ? text : "", caption_text, type);
  if (result != 0)
    toolkit::recordShown({toolkit::Shown::Kind::MessageBox, type, caption_text, result});
  return result;
}

HWND GetFocus() {
  Window* window = g_backend != nullptr ? g_backend->focusWindow() : nullptr;
  return window != nullptr ? window->handle() : nullptr;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    default:
      return 0;
  }
}

HICON LoadIconA(HINSTANCE instance, UINT id) {
  if (instance == nullptr || instance != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (resources::findIcon(id) == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  IconHandle& handle = iconTable().try_emplace(id, IconHandle{id}).first->second;
  return reinterpret_cast<HICON>(&handle);
}

CPaintDC::CPaintDC(CWnd* window) : m_window(window) {
  // The device context is a token: painting goes through the backend.
  if (window != nullptr && Window::fromHandle(window->m_hWnd) != nullptr)
    m_hdc = reinterpret_cast<HDC>(window->m_hWnd);
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
  Window* window = m_window != nullptr ? Window::fromHandle(m_window->m_hWnd) : nullptr;
  if (window == nullptr || icon == nullptr || g_backend == nullptr) return FALSE;
  for (const auto& [id, handle] : iconTable()) {
    if (reinterpret_cast<HICON>(const_cast<IconHandle*>(&handle)) == icon) {
      g_backend->drawIcon(*window, x, y, id);
      return TRUE;
    }
  }
  return FALSE;
}
