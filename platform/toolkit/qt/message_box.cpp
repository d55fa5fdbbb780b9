#include "platform/toolkit/qt/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <vector>

#include "platform/toolkit/qt/icons.h"

namespace toolkit::qt {
namespace {

struct Button {
  QMessageBox::StandardButton button;
  int result;
};

std::vector<Button> buttonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      return {{QMessageBox::Ok, IDOK}};
    case MB_OKCANCEL:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_YESNOCANCEL:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    default:
      return {};
  }
}

QMessageBox::Icon iconOf(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

int runMessageBox(QWidget* owner, const std::string& text, const std::string& caption, UINT type) {
  const std::vector<Button> buttons = buttonsOf(type);
  if (buttons.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  QMessageBox box(owner);
  box.setWindowTitle(fromAnsi(caption));
  box.setText(fromAnsi(text));
  box.setIcon(iconOf(type));
  for (const Button& button : buttons) box.addButton(button.button);
  // Windows makes the first button the default when the style names one
  // that the box does not have.
  const size_t requested = (type & MB_DEFMASK) >> 8;
  box.setDefaultButton(buttons[requested < buttons.size() ? requested : 0].button);
  int abandoned = IDOK;
  for (int result : {IDNO, IDCANCEL}) {
    for (const Button& button : buttons) {
      if (button.result == result) {
        box.setEscapeButton(button.button);
        abandoned = result;
      }
    }
  }
  box.exec();
  for (const Button& button : buttons)
    if (box.clickedButton() == box.button(button.button)) return button.result;
  return abandoned;
}

}  // namespace toolkit::qt
