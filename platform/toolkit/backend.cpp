// The backend seam: the one backend the toolkit shows its windows with, the
// record of what was shown, and the delivery of a backend's messages to the
// windows' handlers between the delivery guard and the message hook.
#include "platform/toolkit/backend.h"

namespace toolkit {
namespace {

std::unique_ptr<Backend> g_backend;
MessageHook g_hook;
std::vector<Shown> g_shown;
DeliveryGuard g_guard;

}  // namespace

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
