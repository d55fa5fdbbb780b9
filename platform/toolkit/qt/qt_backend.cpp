#include "platform/toolkit/qt/qt_backend.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <map>

#include "platform/toolkit/qt/dialog_view.h"
#include "platform/toolkit/qt/icons.h"
#include "platform/toolkit/qt/message_box.h"

namespace toolkit {
namespace {

using qt::DialogView;

// The system colours of Windows 95: grey 3D faces lit from the top left,
// white fields, dark blue selection, grey disabled text.
QPalette windows95Palette() {
  const QColor face(0xC0, 0xC0, 0xC0);
  QPalette palette(Qt::black, face, Qt::white, QColor(0x80, 0x80, 0x80), face, Qt::black, Qt::white,
                   Qt::white, face);
  palette.setColor(QPalette::Midlight, QColor(0xDF, 0xDF, 0xDF));
  palette.setColor(QPalette::Shadow, Qt::black);
  palette.setColor(QPalette::Highlight, QColor(0x00, 0x00, 0x80));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
  return palette;
}

class QtBackend final : public Backend {
 public:
  QtBackend(int& argc, char** argv) : m_app(argc, argv) {
    // The program ends when its dialog has ended, not when the last window
    // closes: a quit request would also end the dialog's own loop.
    QApplication::setQuitOnLastWindowClosed(false);
    // Icon 128 is the application's icon, shown by every window.
    const QPixmap icon = qt::iconPixmap(128);
    if (!icon.isNull()) QApplication::setWindowIcon(QIcon(icon));
  }

  ~QtBackend() override {
    for (auto& [window, view] : m_views) delete view;
    qt::clearIconCache();
    QApplication::setWindowIcon(QIcon());
  }

  int messageBox(Window* owner, const std::string& text, const std::string& caption,
                 UINT type) override {
    return qt::runMessageBox(viewOf(owner), text, caption, type);
  }

  bool createDialog(Window& dialog) override {
    m_views[&dialog] = new DialogView(dialog);
    return true;
  }

  void destroyDialog(Window& dialog) override {
    auto it = m_views.find(&dialog);
    if (it == m_views.end()) return;
    delete it->second;
    m_views.erase(it);
  }

  void runModal(Window& dialog) override {
    if (DialogView* view = viewOf(&dialog)) view->runModal();
  }

  void endModal(Window& dialog) override {
    if (DialogView* view = viewOf(&dialog)) view->endModal();
  }

  void windowChanged(Window& window, Change change) override {
    if (DialogView* view = viewOf(&window)) view->showChange(window, change);
  }

  void centerWindow(Window& window) override {
    if (DialogView* view = viewOf(&window)) view->centerOnScreen();
  }

  bool isIconic(const Window& window) override {
    DialogView* view = viewOf(const_cast<Window*>(&window));
    return view != nullptr && view->isMinimized();
  }

  Window* focusWindow() override { return DialogView::windowOf(QApplication::focusWidget()); }

  void drawIcon(Window& window, int x, int y, UINT icon_id) override {
    if (DialogView* view = viewOf(&window)) view->drawIcon(x, y, icon_id);
  }

  bool enable3dControls() override {
    QStyle* style = QApplication::setStyle("Windows");
    if (style == nullptr) return false;
    QApplication::setPalette(windows95Palette());
    return true;
  }

  bool setTimer(Window& window, UINT_PTR id, UINT elapse_ms) override {
    DialogView* view = viewOf(&window);
    if (view == nullptr) return false;
    view->setWindowTimer(window, id, elapse_ms);
    return true;
  }

  bool killTimer(Window& window, UINT_PTR id) override {
    DialogView* view = viewOf(&window);
    return view != nullptr && view->killWindowTimer(window, id);
  }

  bool postMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam) override {
    DialogView* view = viewOf(&window);
    if (view == nullptr) return false;
    // Queued on the view: a message still waiting when the view goes is
    // dropped with it.
    Window* target = &window;
    return QMetaObject::invokeMethod(
        view,
        [target, message, wparam, lparam] { deliverMessage(*target, message, wparam, lparam); },
        Qt::QueuedConnection);
  }

 private:
  // The view of the dialog that `window` belongs to.
  DialogView* viewOf(Window* window) {
    if (window == nullptr) return nullptr;
    auto it = m_views.find(window->topLevel());
    return it != m_views.end() ? it->second : nullptr;
  }

  QApplication m_app;
  std::map<const Window*, DialogView*> m_views;
};

}  // namespace

std::unique_ptr<Backend> makeQtBackend(int& argc, char** argv) {
  return std::make_unique<QtBackend>(argc, argv);
}

}  // namespace toolkit
