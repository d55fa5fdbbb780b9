// The QDialog that shows one dialog's window tree. It routes Enter, Esc and
// the window's close button into WM_COMMAND (OK and Cancel), so that the
// program's OnCommand decides, and it keeps the dialog's window timers.
#pragma once

#include <QDialog>
#include <map>
#include <utility>

#include "platform/toolkit/window.h"

class QEventLoop;
class QTimer;

namespace toolkit::qt {

class DialogView final : public QDialog {
 public:
  explicit DialogView(Window& dialog);
  ~DialogView() override;

  // The widget that shows `window` (the dialog itself or a control).
  QWidget* widgetFor(const Window& window) const;
  // The window a widget of any dialog view shows, or null.
  static Window* windowOf(const QWidget* widget);

  void showChange(const Window& window, Change change);
  void setWindowTimer(Window& window, UINT_PTR id, UINT elapse_ms);
  bool killWindowTimer(Window& window, UINT_PTR id);
  void centerOnScreen();
  void runModal();
  void endModal();
  void drawIcon(int x, int y, UINT icon_id);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 public:
  // QDialog's own ending is replaced by the commands of the Win32 dialog.
  void accept() override;
  void reject() override;
  void done(int result) override;

 private:
  void buildControl(Window& control);
  void sendCommand(int id);

  Window& m_dialog;
  std::map<const Window*, QWidget*> m_widgets;
  std::map<std::pair<const Window*, UINT_PTR>, QTimer*> m_timers;
  QEventLoop* m_loop = nullptr;
  bool m_painting = false;
  bool m_centered = false;
};

}  // namespace toolkit::qt
