#include "platform/toolkit/curses/painter.h"

#include <algorithm>

#include "platform/resources/resources.h"

namespace toolkit::curses {
namespace {

// A control's place in dialog units: the template's where there is one, else
// worked back from its pixels.
CellRect controlCells(const resources::ControlTemplate* control, const Window& window) {
  if (control != nullptr) return unitsToCells(control->x, control->y, control->cx, control->cy);
  const RECT& r = window.rect;
  return unitsToCells(static_cast<int>(r.left * 4 / 6), static_cast<int>(r.top * 8 / 13),
                      static_cast<int>((r.right - r.left) * 4 / 6),
                      static_cast<int>((r.bottom - r.top) * 8 / 13));
}

const resources::ControlTemplate* templateOf(const Window& dialog, size_t index) {
  const resources::DialogTemplate* found = resources::findDialog(static_cast<UINT>(dialog.id));
  if (found == nullptr || found->controls.size() != dialog.children.size()) return nullptr;
  return &found->controls[index];
}

std::string withoutLeadingBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

int percentOf(const Window& bar) {
  const long long span = static_cast<long long>(bar.rangeMax) - bar.rangeMin;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<long long>(bar.pos) - bar.rangeMin) * 100 / span);
}

void paintStatic(Screen& screen, const Window& control, const CellRect& at) {
  const Style style = control.enabled ? Style::Window : Style::Disabled;
  const std::vector<std::string> lines = wrapText(control.text, at.w);
  for (int row = 0; row < at.h && row < static_cast<int>(lines.size()); ++row)
    screen.putText(at.x, at.y + row, lines[static_cast<size_t>(row)], at.w, style);
}

// "[x] " or "[ ] " and the text; the text's own indent, which makes room for
// the drawn box in a window, is left out. A cell is coarser than a pixel, so
// the text may run on to the client area's edge.
void paintCheckBox(Screen& screen, const Window& control, const CellRect& at, int right_edge) {
  const Style style = control.enabled ? Style::Window : Style::Disabled;
  // A three-state box may also be indeterminate.
  const char mark = control.check == static_cast<int>(BST_CHECKED)         ? 'x'
                    : control.check == static_cast<int>(BST_INDETERMINATE) ? '-'
                                                                           : ' ';
  const std::string line = std::string("[") + mark + "] " + withoutLeadingBlanks(control.text);
  screen.putText(at.x, at.y, line, right_edge - at.x, style);
}

// The bar between brackets, its done part filled, the percentage in the
// middle.
void paintProgress(Screen& screen, const Window& bar, const CellRect& at) {
  if (at.w < 3) return;
  const int inner = at.w - 2;
  const int percent = std::clamp(percentOf(bar), 0, 100);
  const int done = inner * percent / 100;
  const std::string label = std::to_string(percent) + "%";
  const int label_x = (inner - static_cast<int>(label.size())) / 2;
  screen.putText(at.x, at.y, "[", 1, Style::Window);
  screen.putText(at.x + at.w - 1, at.y, "]", 1, Style::Window);
  for (int i = 0; i < inner; ++i) {
    const int in_label = i - label_x;
    if (in_label >= 0 && in_label < static_cast<int>(label.size()))
      screen.putText(at.x + 1 + i, at.y, label.substr(static_cast<size_t>(in_label), 1), 1,
                     Style::Window);
    else if (i < done)
      screen.putGlyph(at.x + 1 + i, at.y, Glyph::Block, Style::BarFill);
  }
}

// The icon as a small card: a framed face with its name, crossed out.
void paintIcon(Screen& screen, const CellRect& at) {
  if (at.w < 3 || at.h < 2) return;
  screen.drawBorder(at, Style::Window);
  if (at.h >= 3)
    screen.putText(at.x + 1, at.y + at.h / 2, std::string(at.w - 2, 'X'), at.w - 2, Style::Window);
}

}  // namespace

Frame dialogFrame(const Window& dialog, int screen_w, int screen_h) {
  const resources::DialogTemplate* found = resources::findDialog(static_cast<UINT>(dialog.id));
  CellRect size;
  if (found != nullptr) {
    size = unitsToCells(0, 0, found->cx, found->cy);
  } else {
    size = unitsToCells(0, 0, static_cast<int>((dialog.rect.right - dialog.rect.left) * 4 / 6),
                        static_cast<int>((dialog.rect.bottom - dialog.rect.top) * 8 / 13));
  }
  return centredFrame(size.w, size.h, screen_w, screen_h);
}

void paintDialog(Screen& screen, const Window& dialog, const Frame& frame) {
  screen.fillRect(frame.outer, Style::Window);
  screen.drawBorder(frame.outer, Style::Window);
  screen.fillRect(frame.title, Style::Title);
  screen.putText(frame.title.x + 1, frame.title.y, dialog.text, frame.title.w - 2, Style::Title);
  const int right_edge = frame.client.x + frame.client.w;
  for (size_t i = 0; i < dialog.children.size(); ++i) {
    const Window& control = *dialog.children[i];
    CellRect at = controlCells(templateOf(dialog, i), control);
    at.x += frame.client.x;
    at.y += frame.client.y;
    at.w = std::min(at.w, right_edge - at.x);
    switch (control.kind) {
      case WindowKind::Static:
        paintStatic(screen, control, at);
        break;
      case WindowKind::CheckBox:
        paintCheckBox(screen, control, at, right_edge);
        break;
      case WindowKind::ProgressBar:
        paintProgress(screen, control, at);
        break;
      case WindowKind::Icon:
        paintIcon(screen, at);
        break;
      case WindowKind::PushButton:
        screen.putText(at.x, at.y, "[ " + control.text + " ]", at.w,
                       control.enabled ? Style::Button : Style::Disabled);
        break;
      case WindowKind::Dialog:
      case WindowKind::Other:
        break;
    }
  }
}

MessageBoxLayout boxLayout(const OpenBox& box, int screen_w, int screen_h) {
  return layoutMessageBox(box.text, static_cast<int>(box.caption.size()), box.buttons.labels(),
                          screen_w, screen_h);
}

void paintMessageBox(Screen& screen, const OpenBox& box, const MessageBoxLayout& layout) {
  const Frame& frame = layout.frame;
  screen.fillRect(frame.outer, Style::Window);
  screen.drawBorder(frame.outer, Style::Window);
  screen.fillRect(frame.title, Style::Title);
  screen.putText(frame.title.x + 1, frame.title.y, box.caption, frame.title.w - 2, Style::Title);
  for (size_t row = 0; row < layout.lines.size(); ++row)
    screen.putText(layout.text.x, layout.text.y + static_cast<int>(row), layout.lines[row],
                   layout.text.w, Style::Window);
  for (size_t i = 0; i < layout.buttons.size() && i < box.buttons.buttons.size(); ++i) {
    const CellRect& at = layout.buttons[i];
    const BoxButton& button = box.buttons.buttons[i];
    const Style style = i == box.focus ? Style::FocusedButton : Style::Button;
    const int label_w = static_cast<int>(button.label.size());
    // A label wider than its button gets no padding rather than a negative one.
    const int spare = std::max(0, at.w - 2 - label_w);
    const int left = spare / 2;
    std::string face;
    face.reserve(static_cast<size_t>(label_w + spare + 2));
    face += '[';
    face.append(static_cast<size_t>(left), ' ');
    face += button.label;
    face.append(static_cast<size_t>(spare - left), ' ');
    face += ']';
    screen.putText(at.x, at.y, face, at.w, style,
                   button.underline >= 0 ? 1 + left + button.underline : -1);
  }
}

void paintTooSmall(Screen& screen, int need_w, int need_h) {
  screen.paintDesktop();
  // Short, the sizes early: a narrow terminal cuts the end of the line.
  const std::string notice = "Terminal too small: needs " + std::to_string(need_w) + "x" +
                             std::to_string(need_h) + ", has " + std::to_string(screen.width()) +
                             "x" + std::to_string(screen.height());
  screen.putText(0, 0, notice, screen.width(), Style::Notice);
}

}  // namespace toolkit::curses
