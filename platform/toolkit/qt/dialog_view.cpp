#include "platform/toolkit/qt/dialog_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "platform/toolkit/backend.h"
#include "platform/toolkit/qt/icons.h"

namespace toolkit::qt {
namespace {

constexpr const char* kWindowProperty = "uinqWindow";

// A plain (BS_CHECKBOX) check box: a click tells the dialog but does not
// change the mark; only BM_SETCHECK does.
class PlainCheckBox final : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {}
};

QRect toQRect(const RECT& rect) {
  return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

Qt::CheckState toCheckState(int check) {
  if (check == static_cast<int>(BST_CHECKED)) return Qt::Checked;
  if (check == static_cast<int>(BST_INDETERMINATE)) return Qt::PartiallyChecked;
  return Qt::Unchecked;
}

}  // namespace

DialogView::DialogView(Window& dialog) : QDialog(nullptr), m_dialog(dialog) {
  // No close box, system menu or minimise box unless the template asks.
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (dialog.style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (dialog.style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setObjectName(QStringLiteral("dialog%1").arg(dialog.id));
  setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(&dialog)));
  m_widgets[&dialog] = this;

  // The dialog font is MS Sans Serif 8 point, 11 pixels high at 96 dpi; the
  // layout in pixels was made with its base units.
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  for (const auto& control : dialog.children) buildControl(*control);

  setWindowTitle(fromAnsi(dialog.text));
  setFixedSize(dialog.rect.right - dialog.rect.left, dialog.rect.bottom - dialog.rect.top);
  setEnabled(dialog.enabled);
  setModal(true);
}

DialogView::~DialogView() = default;

void DialogView::buildControl(Window& control) {
  QWidget* widget = nullptr;
  switch (control.kind) {
    case WindowKind::Static: {
      auto* label = new QLabel(fromAnsi(control.text), this);
      label->setWordWrap(true);
      const DWORD type = control.style & SS_TYPEMASK;
      const Qt::Alignment horizontal = type == SS_CENTER  ? Qt::AlignHCenter
                                       : type == SS_RIGHT ? Qt::AlignRight
                                                          : Qt::AlignLeft;
      label->setAlignment(horizontal | Qt::AlignTop);
      widget = label;
      break;
    }
    case WindowKind::CheckBox: {
      const bool automatic = (control.style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
      QCheckBox* box = automatic ? new QCheckBox(fromAnsi(control.text), this)
                                 : new PlainCheckBox(fromAnsi(control.text), this);
      box->setCheckState(toCheckState(control.check));
      QObject::connect(box, &QAbstractButton::clicked, this, [this, &control, box] {
        control.check =
            static_cast<int>(box->checkState() == Qt::Checked ? BST_CHECKED : BST_UNCHECKED);
        deliverMessage(m_dialog, WM_COMMAND,
                       static_cast<WPARAM>(MAKELPARAM(static_cast<WORD>(control.id), BN_CLICKED)),
                       reinterpret_cast<LPARAM>(control.handle()));
      });
      widget = box;
      break;
    }
    case WindowKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
    case WindowKind::Icon: {
      auto* label = new QLabel(this);
      const QPixmap pixmap = iconPixmap(static_cast<UINT>(control.iconId));
      label->setPixmap(pixmap);
      widget = label;
      break;
    }
    case WindowKind::PushButton: {
      auto* button = new QPushButton(fromAnsi(control.text), this);
      QObject::connect(button, &QAbstractButton::clicked, this, [this, &control] {
        deliverMessage(m_dialog, WM_COMMAND,
                       static_cast<WPARAM>(MAKELPARAM(static_cast<WORD>(control.id), BN_CLICKED)),
                       reinterpret_cast<LPARAM>(control.handle()));
      });
      widget = button;
      break;
    }
    case WindowKind::Dialog:
    case WindowKind::Other:
      widget = new QWidget(this);
      break;
  }
  widget->setObjectName(QString::number(control.id));
  widget->setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(&control)));
  QRect geometry = toQRect(control.rect);
  // An icon control takes the size of its icon, as SS_ICON does.
  if (control.kind == WindowKind::Icon) geometry.setSize(QSize(32, 32));
  widget->setGeometry(geometry);
  widget->setEnabled(control.enabled);
  m_widgets[&control] = widget;
  showChange(control, Change::Text);
}

QWidget* DialogView::widgetFor(const Window& window) const {
  auto it = m_widgets.find(&window);
  return it != m_widgets.end() ? it->second : nullptr;
}

Window* DialogView::windowOf(const QWidget* widget) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    const QVariant value = widget->property(kWindowProperty);
    if (value.isValid()) return Window::fromHandle(reinterpret_cast<HWND>(value.value<quintptr>()));
  }
  return nullptr;
}

void DialogView::showChange(const Window& window, Change change) {
  QWidget* widget = widgetFor(window);
  if (widget == nullptr) return;
  if (change == Change::Enabled) {
    widget->setEnabled(window.enabled);
  } else if (widget == this) {
    setWindowTitle(fromAnsi(window.text));
  } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
    bar->setRange(std::min(window.rangeMin, window.rangeMax),
                  std::max(window.rangeMin, window.rangeMax));
    bar->setValue(window.pos);
  } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
    box->setText(fromAnsi(window.text));
    box->setCheckState(toCheckState(window.check));
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(fromAnsi(window.text));
  } else if (auto* label = qobject_cast<QLabel*>(widget);
             label && window.kind == WindowKind::Static) {
    label->setText(fromAnsi(window.text));
  }
}

void DialogView::setWindowTimer(Window& window, UINT_PTR id, UINT elapse_ms) {
  QTimer*& timer = m_timers[{&window, id}];
  if (timer == nullptr) {
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, this,
                     [&window, id] { deliverMessage(window, WM_TIMER, id, 0); });
  }
  // Win32 raises shorter periods to USER_TIMER_MINIMUM, 10 ms.
  timer->start(static_cast<int>(std::max<UINT>(elapse_ms, 10)));
}

bool DialogView::killWindowTimer(Window& window, UINT_PTR id) {
  auto it = m_timers.find({&window, id});
  if (it == m_timers.end()) return false;
  // The timer may be killed from its own timeout: delete it later.
  it->second->stop();
  it->second->deleteLater();
  m_timers.erase(it);
  return true;
}

void DialogView::centerOnScreen() {
  // Before the window is shown its frame is not known; it is centred again,
  // frame included, once it is.
  m_centered = true;
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QSize size = isVisible() ? frameGeometry().size() : this->size();
  // Centred on the work area and kept inside it, as CenterWindow does.
  int x = area.x() + (area.width() - size.width()) / 2;
  int y = area.y() + (area.height() - size.height()) / 2;
  x = std::max(area.left(), std::min(x, area.right() + 1 - size.width()));
  y = std::max(area.top(), std::min(y, area.bottom() + 1 - size.height()));
  move(x, y);
}

void DialogView::runModal() {
  QEventLoop loop;
  m_loop = &loop;
  show();
  if (m_centered) centerOnScreen();
  activateWindow();
  if (!m_dialog.endResult) loop.exec();
  m_loop = nullptr;
  hide();
}

void DialogView::endModal() {
  if (m_loop != nullptr) m_loop->exit(0);
}

void DialogView::drawIcon(int x, int y, UINT icon_id) {
  // Drawing is only possible while the dialog paints itself.
  if (!m_painting) return;
  QPainter painter(this);
  painter.drawPixmap(x, y, iconPixmap(icon_id));
}

void DialogView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      sendCommand(IDOK);
      return;
    case Qt::Key_Escape:
      sendCommand(IDCANCEL);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void DialogView::closeEvent(QCloseEvent* event) {
  // Only EndDialog closes the window; the close button asks for Cancel.
  event->ignore();
  sendCommand(IDCANCEL);
}

void DialogView::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  m_painting = true;
  deliverMessage(m_dialog, WM_PAINT, 0, 0);
  m_painting = false;
}

void DialogView::accept() { sendCommand(IDOK); }
void DialogView::reject() { sendCommand(IDCANCEL); }
void DialogView::done(int result) { sendCommand(result == QDialog::Accepted ? IDOK : IDCANCEL); }

void DialogView::sendCommand(int id) {
  if (m_dialog.endResult) return;  // already ending: the run is over
  deliverMessage(m_dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

}  // namespace toolkit::qt
