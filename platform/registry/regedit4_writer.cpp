#include "platform/registry/regedit4_writer.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHexWrapColumn = 77;
// The text goes out in pieces of about this size: big enough for few writes,
// small enough that a large registry is never held twice in memory.
constexpr std::size_t kPieceSize = 256 * 1024;

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// How a byte goes into a quoted text: as it is, after a backslash, or not at
// all (a zero or line feed, which a REG_SZ written as text cannot hold).
enum class InQuotes : unsigned char { Plain, Escaped, Impossible };

constexpr std::array<InQuotes, 256> kInQuotes = [] {
  std::array<InQuotes, 256> table{};
  table['\\'] = InQuotes::Escaped;
  table['"'] = InQuotes::Escaped;
  table['\0'] = InQuotes::Impossible;
  table['\n'] = InQuotes::Impossible;
  return table;
}();

class Writer final {
 public:
  // Without a sink the whole text collects in the buffer.
  explicit Writer(const TextSink* emit) : m_emit(emit) {
    if (m_emit != nullptr) m_out.reserve(kPieceSize + kPieceSize / 4);
  }

  bool write(const RegistryTree& tree) {
    m_out += "REGEDIT4";
    m_out += kLineEnd;
    m_out += kLineEnd;
    for (RootKey root : tree.mentionOrder()) {
      const KeyId key = RegistryTree::rootKey(root);
      m_path.assign(rootKeyName(root));
      if (tree.listed(root) || tree.hasValues(key)) appendSection(tree, key);
      if (!appendTree(tree, key)) return false;
    }
    return flush();
  }

  std::string take() { return std::move(m_out); }

 private:
  bool flush() {
    if (m_emit == nullptr || m_out.empty()) return true;
    const bool ok = (*m_emit)(m_out);
    m_out.clear();
    return ok;
  }

  // Depth is bounded by the reader's limit on key paths, and the program
  // never creates keys, so the recursion stays shallow.
  bool appendTree(const RegistryTree& tree, KeyId key) {
    bool ok = true;
    tree.forEachSubkey(key, [&](KeyId child) {
      if (!ok) return;
      const std::size_t mark = m_path.size();
      m_path.push_back('\\');
      m_path += tree.name(child);
      appendSection(tree, child);
      if (m_emit != nullptr && m_out.size() >= kPieceSize) ok = flush();
      if (ok) ok = appendTree(tree, child);
      m_path.resize(mark);
    });
    return ok;
  }

  void appendSection(const RegistryTree& tree, KeyId key) {
    m_out.push_back('[');
    m_out += m_path;
    m_out.push_back(']');
    m_out += kLineEnd;
    tree.forEachValue(key, [&](const RegistryValue& value) { appendValue(value); });
    m_out += kLineEnd;
  }

  // Appends `text` in quotes with its escapes. With `text_only`, a zero or
  // line feed in it undoes the append and gives false.
  bool appendQuoted(std::string_view text, bool text_only = false) {
    const std::size_t mark = m_out.size();
    m_out.push_back('"');
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const InQuotes how = kInQuotes[static_cast<unsigned char>(text[i])];
      if (how == InQuotes::Plain) continue;
      if (how == InQuotes::Impossible && text_only) {
        m_out.resize(mark);
        return false;
      }
      if (how == InQuotes::Escaped) {
        m_out.append(text.substr(start, i - start));
        m_out.push_back('\\');
        start = i;
      }
    }
    m_out.append(text.substr(start));
    m_out.push_back('"');
    return true;
  }

  // A REG_SZ whose bytes end in their only zero and hold no line feed goes out
  // as "text"; anything else gives false, having appended nothing.
  bool appendAsText(const RegistryValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
    return appendQuoted(value.data.substr(0, value.data.size() - 1), true);
  }

  void appendHexByte(unsigned char byte) {
    m_out.push_back(kHexDigits[byte >> 4]);
    m_out.push_back(kHexDigits[byte & 0xF]);
  }

  void appendHex(const RegistryValue& value, std::size_t line_start) {
    if (value.type == REG_BINARY) {
      m_out += "hex:";
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
      m_out += buf;
    }
    std::size_t column = m_out.size() - line_start;
    const std::size_t n = value.data.size();
    for (std::size_t i = 0; i < n; ++i) {
      appendHexByte(static_cast<unsigned char>(value.data[i]));
      if (i + 1 == n) break;
      m_out.push_back(',');
      column += 3;
      if (column >= kHexWrapColumn) {
        m_out += "\\";
        m_out += kLineEnd;
        m_out += "  ";
        column = 2;
      }
    }
  }

  // dword:%08x of four little-endian bytes.
  void appendDword(std::string_view bytes) {
    char dword[14] = {'d', 'w', 'o', 'r', 'd', ':'};
    for (int i = 0; i < 4; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[3 - i]);
      dword[6 + 2 * i] = kHexDigits[byte >> 4];
      dword[7 + 2 * i] = kHexDigits[byte & 0xF];
    }
    m_out.append(dword, sizeof dword);
  }

  void appendValue(const RegistryValue& value) {
    const std::size_t line_start = m_out.size();
    if (value.name.empty()) {
      m_out.push_back('@');
    } else {
      appendQuoted(value.name);
    }
    m_out.push_back('=');
    if (!appendAsText(value)) {
      if (value.type == REG_DWORD && value.data.size() == 4) {
        appendDword(value.data);
      } else {
        appendHex(value, line_start);
      }
    }
    m_out += kLineEnd;
  }

  const TextSink* m_emit;
  std::string m_out;
  std::string m_path;  // The path of the key being written.
};

}  // namespace

bool writeRegedit4(const RegistryTree& tree, const TextSink& emit) {
  return Writer(&emit).write(tree);
}

std::string writeRegedit4(const RegistryTree& tree) {
  Writer writer(nullptr);
  writer.write(tree);
  return writer.take();
}
