// CDialog: builds the window tree from the dialog template, runs it modally
// through the backend and gives the default handling of OK and Cancel.
#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/window.h"

using toolkit::Window;

CDialog::CDialog(UINT template_id, CWnd* parent) : m_template_id(template_id), m_parent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
  toolkit::Backend* backend = toolkit::currentBackend();
  const resources::DialogTemplate* dialog_template = resources::findDialog(m_template_id);
  if (backend == nullptr || dialog_template == nullptr || m_hWnd != nullptr) return -1;

  std::unique_ptr<Window> window = toolkit::createDialogWindow(*dialog_template);
  window->attached = this;
  m_hWnd = window->handle();
  if (!backend->createDialog(*window)) {
    toolkit::detachWindowTree(*window);
    return -1;
  }
  toolkit::deliverMessage(*window, WM_INITDIALOG, 0, 0);
  // A dialog that ended during its initialisation is never shown.
  if (!window->endResult) backend->runModal(*window);
  const int result = window->endResult.value_or(-1);
  toolkit::recordShown({toolkit::Shown::Kind::Dialog, m_template_id, window->text, result});

  backend->destroyDialog(*window);
  toolkit::detachWindowTree(*window);
  return result;
}

void CDialog::EndDialog(int result) {
  Window* window = Window::fromHandle(m_hWnd);
  if (window == nullptr) return;
  window->endResult = result;
  if (toolkit::Backend* backend = toolkit::currentBackend()) backend->endModal(*window);
}
