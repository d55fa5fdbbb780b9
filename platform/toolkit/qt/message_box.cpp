#include "platform/toolkit/qt/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <optional>
#include <vector>

#include "platform/toolkit/box_buttons.h"
#include "platform/toolkit/qt/icons.h"

namespace toolkit::qt {
namespace {

struct Button {
  QMessageBox::StandardButton button;
  int result;
};

QMessageBox::StandardButton standardButton(int result) {
  switch (result) {
    case IDCANCEL:
      return QMessageBox::Cancel;
    case IDYES:
      return QMessageBox::Yes;
    case IDNO:
      return QMessageBox::No;
    default:
      return QMessageBox::Ok;
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
  const std::optional<BoxButtons> decoded = decodeBoxButtons(type);
  if (!decoded) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<Button> buttons;
  for (const int result : decoded->results) buttons.push_back({standardButton(result), result});
  QMessageBox box(owner);
  box.setWindowTitle(fromAnsi(caption));
  box.setText(fromAnsi(text));
  box.setIcon(iconOf(type));
  for (const Button& button : buttons) box.addButton(button.button);
  box.setDefaultButton(buttons[decoded->defaultButton].button);
  box.setEscapeButton(standardButton(decoded->escapeResult));
  box.exec();
  for (const Button& button : buttons)
    if (box.clickedButton() == box.button(button.button)) return button.result;
  return decoded->escapeResult;
}

}  // namespace toolkit::qt
