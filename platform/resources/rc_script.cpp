#include "platform/resources/rc_script.h"

#include <charconv>
#include <utility>
#include <vector>

#include "platform/resources/rc_lexer.h"
#include "platform/text/ascii.h"

namespace resources {
namespace {

// What the parse of a script shares with the parses of the headers it
// includes: the names they #define, and how the parse went. The first error
// ends the parse: from then on the lexers hand out only the end of the text,
// so every loop stops, and each step returns as soon as it has failed.
struct ParseState {
  std::map<std::string, long, std::less<>> symbols;
  Result<void> status;
};

// The style names a resource script may use, beyond those that its headers
// #define.
const std::map<std::string, long, std::less<>>& builtinSymbols() {
  static const std::map<std::string, long, std::less<>> symbols = {
      {"WS_POPUP", WS_POPUP},
      {"WS_CHILD", WS_CHILD},
      {"WS_VISIBLE", WS_VISIBLE},
      {"WS_DISABLED", WS_DISABLED},
      {"WS_CAPTION", WS_CAPTION},
      {"WS_BORDER", WS_BORDER},
      {"WS_DLGFRAME", WS_DLGFRAME},
      {"WS_SYSMENU", WS_SYSMENU},
      {"WS_THICKFRAME", WS_THICKFRAME},
      {"WS_GROUP", WS_GROUP},
      {"WS_TABSTOP", WS_TABSTOP},
      {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
      {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
      {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
      {"DS_SETFONT", DS_SETFONT},
      {"DS_MODALFRAME", DS_MODALFRAME},
      {"DS_CENTER", DS_CENTER},
      {"BS_PUSHBUTTON", BS_PUSHBUTTON},
      {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
      {"BS_CHECKBOX", BS_CHECKBOX},
      {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
      {"BS_3STATE", BS_3STATE},
      {"BS_AUTO3STATE", BS_AUTO3STATE},
      {"SS_LEFT", SS_LEFT},
      {"SS_CENTER", SS_CENTER},
      {"SS_RIGHT", SS_RIGHT},
      {"SS_ICON", SS_ICON},
  };
  return symbols;
}

class Parser {
 public:
  Parser(std::string_view name, std::string_view text, const FileLookup& files, int depth,
         ParseState& state)
      : m_lexer(name, text, state.status), m_files(files), m_depth(depth), m_state(state) {
    advance();
  }

  void parseScript(ResourceSet& out) {
    while (m_token.kind != TokenKind::End) {
      if (isWord("STRINGTABLE")) {
        advance();
        skipMemoryOptions();
        parseStringTable(out);
        continue;
      }
      const int line = m_token.line;
      const long id = parseExpression();
      if (isWord("ICON")) {
        advance();
        skipMemoryOptions();
        parseIcon(out, static_cast<UINT>(id), line);
      } else if (isWord("DIALOG") || isWord("DIALOGEX")) {
        advance();
        skipMemoryOptions();
        parseDialog(out, static_cast<UINT>(id), line);
      } else {
        fail("expected ICON, DIALOG or STRINGTABLE");
        return;
      }
    }
  }

  // Only the #define lines of a header count; everything else in it is skipped.
  void parseHeaderOnly() {
    while (m_token.kind != TokenKind::End) advance();
  }

 private:
  void advance() {
    m_token = m_lexer.next([this](std::string_view line, int number) { directive(line, number); });
  }

  bool failed() const { return m_lexer.failed(); }
  // Records the error and ends the parse: the current token becomes the end.
  void fail(const std::string& what) {
    m_lexer.fail(what);
    m_token = m_lexer.endToken();
  }
  void failAt(int line, const std::string& what) {
    m_lexer.failAt(line, what);
    m_token = m_lexer.endToken();
  }

  void directive(std::string_view line, int /*number*/) {
    std::string_view rest = line.substr(1);
    auto word = [&rest]() {
      while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
      size_t n = 0;
      while (n < rest.size() && rest[n] != ' ' && rest[n] != '\t' && rest[n] != '\r') ++n;
      std::string_view w = rest.substr(0, n);
      rest.remove_prefix(n);
      return w;
    };
    const std::string_view keyword = word();
    if (keyword == "define") {
      const std::string name(word());
      std::string value;
      for (char c : rest)
        if (c != ' ' && c != '\t' && c != '\r') value += c;
      if (name.empty() || value.empty()) return;
      // A value in parentheses, possibly negative: (-1).
      if (value.size() > 2 && value.front() == '(' && value.back() == ')')
        value = value.substr(1, value.size() - 2);
      bool negative = false;
      if (!value.empty() && value.front() == '-') {
        negative = true;
        value.erase(0, 1);
      }
      long parsed = 0;
      int base = 10;
      std::string_view digits = value;
      if (digits.size() > 2 && (digits.substr(0, 2) == "0x" || digits.substr(0, 2) == "0X")) {
        base = 16;
        digits.remove_prefix(2);
      }
      const auto [ptr, ec] =
          std::from_chars(digits.data(), digits.data() + digits.size(), parsed, base);
      if (ec == std::errc() && ptr == digits.data() + digits.size())
        m_state.symbols[name] = negative ? -parsed : parsed;
    } else if (keyword == "include") {
      std::string_view target = word();
      // A system header (<windows.h>) gives the resource compiler the names
      // of the styles, which this reader knows itself.
      if (target.size() >= 2 && target.front() == '<' && target.back() == '>') return;
      // A directive is read within the lexer's next(), which hands out the
      // end once an error is recorded; so an error here is only recorded.
      if (target.size() < 2 || target.front() != '"' || target.back() != '"') {
        m_lexer.fail("#include needs a quoted file name");
        return;
      }
      target = target.substr(1, target.size() - 2);
      if (m_depth > 8) {
        m_lexer.fail("#include nested too deeply");
        return;
      }
      const auto text = m_files(target);
      if (!text) {
        m_lexer.fail("cannot find included file \"" + std::string(target) + "\"");
        return;
      }
      Parser header(target, *text, m_files, m_depth + 1, m_state);
      header.parseHeaderOnly();
    }
    // #pragma, #if and the like carry nothing the resources need.
  }

  bool isWord(std::string_view w) const {
    return m_token.kind == TokenKind::Identifier && m_token.text == w;
  }
  bool isPunct(char c) const {
    return m_token.kind == TokenKind::Punct && m_token.text.size() == 1 && m_token.text[0] == c;
  }

  void expectPunct(char c) {
    if (!isPunct(c)) {
      fail(std::string("expected '") + c + "'");
      return;
    }
    advance();
  }

  void skipMemoryOptions() {
    while (isWord("DISCARDABLE") || isWord("MOVEABLE") || isWord("PURE") || isWord("PRELOAD") ||
           isWord("LOADONCALL") || isWord("FIXED") || isWord("IMPURE"))
      advance();
  }

  std::string expectString() {
    if (m_token.kind != TokenKind::String) {
      fail("expected a quoted text");
      return {};
    }
    std::string s = std::move(m_token.text);
    advance();
    return s;
  }

  long parsePrimary() {
    if (isPunct('-')) {
      advance();
      return -parsePrimary();
    }
    if (isPunct('(')) {
      advance();
      const long v = parseExpression();
      expectPunct(')');
      return v;
    }
    if (m_token.kind == TokenKind::Number) {
      const long v = m_token.value;
      advance();
      return v;
    }
    if (m_token.kind == TokenKind::Identifier) {
      const auto own = m_state.symbols.find(m_token.text);
      long v = 0;
      if (own != m_state.symbols.end()) {
        v = own->second;
      } else if (const auto b = builtinSymbols().find(m_token.text); b != builtinSymbols().end()) {
        v = b->second;
      } else {
        fail("unknown name " + m_token.text);
        return 0;
      }
      advance();
      return v;
    }
    fail("expected a number or a name");
    return 0;
  }

  // expr := ["NOT"] primary { "|" ["NOT"] primary }; NOT clears the bits.
  long parseExpression(long initial = 0) {
    long value = initial;
    for (bool first = true;; first = false) {
      if (!first) {
        if (!isPunct('|')) return value;
        advance();
      }
      if (isWord("NOT")) {
        advance();
        value &= ~parsePrimary();
      } else {
        value |= parsePrimary();
      }
    }
  }

  void parseStringTable(ResourceSet& out) {
    if (!isWord("BEGIN")) {
      fail("expected BEGIN");
      return;
    }
    advance();
    while (!isWord("END")) {
      if (m_token.kind == TokenKind::End) {
        fail("STRINGTABLE is not closed with END");
        return;
      }
      const long id = parseExpression();
      if (isPunct(',')) advance();
      if (id < 0 || id > 0xFFFF) {
        fail("string id out of range");
        return;
      }
      const auto [it, added] = out.strings.emplace(static_cast<UINT>(id), expectString());
      if (!added) {
        fail("string " + std::to_string(id) + " is defined twice");
        return;
      }
    }
    advance();
  }

  void parseIcon(ResourceSet& out, UINT id, int line) {
    const int fileLine = m_token.line;
    const std::string file = expectString();
    if (failed()) return;
    const auto bytes = m_files(file);
    if (!bytes) {
      failAt(fileLine, "cannot find icon file \"" + file + "\"");
      return;
    }
    IconResource icon;
    icon.id = id;
    const size_t dot = file.rfind('.');
    if (dot != std::string::npos)
      icon.format = ascii::toLower(std::string_view(file).substr(dot + 1));
    icon.bytes = *bytes;
    if (!out.icons.emplace(id, std::move(icon)).second) failAt(line, "icon defined twice");
  }

  int parseNumberArg() {
    const long v = parseExpression();
    return static_cast<int>(v);
  }

  void parseRect(int& x, int& y, int& cx, int& cy) {
    x = parseNumberArg();
    expectPunct(',');
    y = parseNumberArg();
    expectPunct(',');
    cx = parseNumberArg();
    expectPunct(',');
    cy = parseNumberArg();
  }

  void parseDialog(ResourceSet& out, UINT id, int line) {
    DialogTemplate dialog;
    dialog.id = id;
    dialog.style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    parseRect(dialog.x, dialog.y, dialog.cx, dialog.cy);
    while (!isWord("BEGIN")) {
      if (isWord("STYLE")) {
        advance();
        dialog.style = static_cast<DWORD>(parseExpression());
      } else if (isWord("CAPTION")) {
        advance();
        dialog.caption = expectString();
        dialog.style |= WS_CAPTION;
      } else if (isWord("FONT")) {
        advance();
        dialog.pointSize = parseNumberArg();
        expectPunct(',');
        dialog.fontName = expectString();
        dialog.style |= DS_SETFONT;
      } else {
        fail("expected STYLE, CAPTION, FONT or BEGIN in a dialog");
        return;
      }
    }
    advance();
    while (!isWord("END")) {
      if (m_token.kind == TokenKind::End) {
        fail("DIALOG is not closed with END");
        return;
      }
      dialog.controls.push_back(parseControl());
    }
    advance();
    if (!out.dialogs.emplace(id, std::move(dialog)).second) failAt(line, "dialog defined twice");
  }

  static ControlKind kindOf(const std::string& windowClass, DWORD style) {
    const auto same = ascii::equalsIgnoringCase;
    if (same(windowClass, "Button")) {
      switch (style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
          return ControlKind::CheckBox;
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
          return ControlKind::PushButton;
        default:
          return ControlKind::Other;
      }
    }
    if (same(windowClass, "Static"))
      return (style & SS_TYPEMASK) == SS_ICON ? ControlKind::Icon : ControlKind::Static;
    if (same(windowClass, "msctls_progress32")) return ControlKind::ProgressBar;
    return ControlKind::Other;
  }

  // "text", id, x, y, cx, cy: the common start of the text and button statements.
  void parseTextIdAndRect(ControlTemplate& c) {
    c.text = expectString();
    expectPunct(',');
    c.id = parseNumberArg();
    expectPunct(',');
    parseRect(c.x, c.y, c.cx, c.cy);
  }

  ControlTemplate parseControl() {
    ControlTemplate c;
    const DWORD base = WS_CHILD | WS_VISIBLE;
    auto optionalStyles = [&](DWORD& style) {
      if (isPunct(',')) {
        advance();
        style = static_cast<DWORD>(parseExpression(style));
        if (isPunct(',')) {
          advance();
          c.exStyle = static_cast<DWORD>(parseExpression());
        }
      }
    };
    if (isWord("LTEXT") || isWord("CTEXT") || isWord("RTEXT")) {
      const DWORD align = isWord("LTEXT") ? SS_LEFT : isWord("CTEXT") ? SS_CENTER : SS_RIGHT;
      advance();
      parseTextIdAndRect(c);
      c.windowClass = "Static";
      c.style = base | WS_GROUP | align;
      optionalStyles(c.style);
    } else if (isWord("CHECKBOX") || isWord("AUTOCHECKBOX") || isWord("PUSHBUTTON") ||
               isWord("DEFPUSHBUTTON")) {
      const DWORD type = isWord("CHECKBOX")       ? BS_CHECKBOX
                         : isWord("AUTOCHECKBOX") ? BS_AUTOCHECKBOX
                         : isWord("PUSHBUTTON")   ? BS_PUSHBUTTON
                                                  : BS_DEFPUSHBUTTON;
      advance();
      parseTextIdAndRect(c);
      c.windowClass = "Button";
      c.style = base | WS_TABSTOP | type;
      optionalStyles(c.style);
    } else if (isWord("ICON")) {
      advance();
      if (m_token.kind == TokenKind::String) {
        fail("an ICON control must name its icon by id");
        return c;
      }
      c.iconId = parseNumberArg();
      expectPunct(',');
      c.id = parseNumberArg();
      expectPunct(',');
      c.x = parseNumberArg();
      expectPunct(',');
      c.y = parseNumberArg();
      c.windowClass = "Static";
      c.style = base | SS_ICON;
      if (isPunct(',')) {
        advance();
        c.cx = parseNumberArg();
        expectPunct(',');
        c.cy = parseNumberArg();
        optionalStyles(c.style);
      }
    } else if (isWord("CONTROL")) {
      advance();
      c.text = expectString();
      expectPunct(',');
      c.id = parseNumberArg();
      expectPunct(',');
      if (m_token.kind == TokenKind::String) {
        c.windowClass = expectString();
      } else if (m_token.kind == TokenKind::Identifier) {
        c.windowClass = m_token.text;
        advance();
      } else {
        fail("expected a window class");
        return c;
      }
      expectPunct(',');
      c.style = static_cast<DWORD>(parseExpression(base));
      expectPunct(',');
      parseRect(c.x, c.y, c.cx, c.cy);
      if (isPunct(',')) {
        advance();
        c.exStyle = static_cast<DWORD>(parseExpression());
      }
    } else {
      fail("expected a control statement (LTEXT, CONTROL, ICON, ...)");
      return c;
    }
    c.kind = kindOf(c.windowClass, c.style);
    return c;
  }

  Lexer m_lexer;
  const FileLookup& m_files;
  int m_depth;
  ParseState& m_state;
  Token m_token;
};

}  // namespace

Result<ResourceSet> parseResourceScript(std::string_view name, std::string_view text,
                                        const FileLookup& files) {
  ParseState state;
  ResourceSet set;
  Parser parser(name, text, files, 0, state);
  parser.parseScript(set);
  if (!state.status) return state.status.failure();
  return set;
}

}  // namespace resources
