#include "platform/registry/regedit4_writer.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/registry/regedit4_parser.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHexWrapColumn = 77;
// The text goes out in pieces of about this size: big enough for few writes,
// small enough that a large registry is never held twice in memory.
constexpr std::size_t kPieceSize = 256 * 1024;
// The room that the writer makes at a time for the lines to come.
constexpr std::size_t kSlice = 64 * 1024;

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The most a value's line can take: its name quoted with every byte escaped,
// and its data as hex, the longest of the forms, with a line break of five
// bytes after every twenty-fourth byte at most.
std::size_t longestLine(const RegistryValue& value) {
  return 2 * value.name.size() + 3 + 16 + 3 * value.data.size() + 5 * (value.data.size() / 24 + 1) +
         2;
}

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

// The text is written through a cursor into room made beforehand for the
// longest form each line could take, so that each byte costs a store rather
// than a call with its own check for room.
class Writer final {
 public:
  // Without a sink the whole text collects in the buffer. `expected` is the
  // room made at the start.
  Writer(const TextSink* emit, std::size_t expected) : m_emit(emit) { m_out.reserve(expected); }

  bool write(const RegistryTree& tree, const Regedit4Layout& layout) {
    char* out = room(16);
    out = put(out, "REGEDIT4");
    out = put(out, kLineEnd);
    out = put(out, kLineEnd);
    done(out);
    std::vector<RootKey> roots = layout.order;
    for (std::size_t r = 0; r < kRootKeyCount; ++r) {
      const auto root = static_cast<RootKey>(r);
      const KeyId key = RegistryTree::rootKey(root);
      if ((tree.hasValues(key) || tree.hasSubkeys(key)) &&
          std::find(roots.begin(), roots.end(), root) == roots.end())
        roots.push_back(root);
    }
    for (const RootKey root : roots) {
      const KeyId key = RegistryTree::rootKey(root);
      m_path.assign(rootKeyName(root));
      if (layout.isListed(root) || tree.hasValues(key)) appendSection(tree, key);
      if (!appendTree(tree, key)) return false;
    }
    return flush();
  }

  std::string take() {
    m_out.resize(m_used);
    return std::move(m_out);
  }

 private:
  // Hands the text so far to the sink; the next text is written over it.
  bool flush() {
    if (m_emit == nullptr || m_used == 0) return true;
    const bool ok = (*m_emit)(std::string_view(m_out.data(), m_used));
    m_used = 0;
    return ok;
  }

  // A cursor with room for `bytes` more; done() says how far it got. The
  // room is made a slice at a time, so that the buffer never holds more than
  // a slice beyond the text, and a reallocation copies only the text.
  char* room(std::size_t bytes) {
    if (m_out.size() - m_used < bytes) {
      m_out.resize(m_used);
      m_out.resize(m_used + std::max(bytes, kSlice));
    }
    return m_out.data() + m_used;
  }
  void done(const char* out) { m_used = static_cast<std::size_t>(out - m_out.data()); }

  static char* put(char* out, std::string_view bytes) {
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
  }

  // The sections below `key`, depth first, each key's subkeys in order. Each
  // level keeps the subkeys still to write and where the path stood before
  // them, so that a deep tree costs memory, not stack.
  bool appendTree(const RegistryTree& tree, KeyId key) {
    struct Level {
      std::vector<KeyId> subkeys;
      std::size_t next = 0;
      std::size_t mark = 0;  // The path's length at this level's key.
    };
    std::vector<Level> levels;
    const auto enter = [&](KeyId k) {
      Level level{{}, 0, m_path.size()};
      tree.forEachSubkey(k, [&](KeyId child) { level.subkeys.push_back(child); });
      levels.push_back(std::move(level));
    };
    enter(key);
    while (!levels.empty()) {
      Level& level = levels.back();
      if (level.next == level.subkeys.size()) {
        m_path.resize(level.mark);
        levels.pop_back();
        continue;
      }
      const KeyId child = level.subkeys[level.next++];
      m_path.resize(level.mark);
      m_path.push_back('\\');
      m_path += tree.name(child);
      appendSection(tree, child);
      if (m_emit != nullptr && m_used >= kPieceSize && !flush()) {
        m_path.resize(levels.front().mark);
        return false;
      }
      enter(child);
    }
    return true;
  }

  void appendSection(const RegistryTree& tree, KeyId key) {
    char* out = room(m_path.size() + 6);
    *out++ = '[';
    out = put(out, m_path);
    *out++ = ']';
    out = put(out, kLineEnd);
    done(out);
    tree.forEachValue(key, [&](const RegistryValue& value) { appendValue(value); });
    done(put(room(2), kLineEnd));
  }

  // Writes `text` in quotes with its escapes. With `text_only`, a zero or
  // line feed in it gives nullptr instead.
  static char* putQuoted(char* out, std::string_view text, bool text_only) {
    *out++ = '"';
    for (const char c : text) {
      const InQuotes how = kInQuotes[static_cast<unsigned char>(c)];
      if (how == InQuotes::Escaped) {
        *out++ = '\\';
      } else if (how == InQuotes::Impossible && text_only) {
        return nullptr;
      }
      *out++ = c;
    }
    *out++ = '"';
    return out;
  }

  // A REG_SZ whose bytes end in their only zero and hold no line feed goes out
  // as "text"; anything else gives nullptr.
  static char* putAsText(char* out, const RegistryValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return nullptr;
    return putQuoted(out, value.data.substr(0, value.data.size() - 1), true);
  }

  static char* putHexByte(char* out, unsigned char byte) {
    out[0] = kHexDigits[byte >> 4];
    out[1] = kHexDigits[byte & 0xF];
    return out + 2;
  }

  static char* putHex(char* out, const RegistryValue& value, const char* line_start) {
    if (value.type == REG_BINARY) {
      out = put(out, "hex:");
    } else {
      char buf[16];
      const int n = std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
      out = put(out, std::string_view(buf, static_cast<std::size_t>(n)));
    }
    std::size_t column = static_cast<std::size_t>(out - line_start);
    const std::size_t n = value.data.size();
    for (std::size_t i = 0; i < n; ++i) {
      out = putHexByte(out, static_cast<unsigned char>(value.data[i]));
      if (i + 1 == n) break;
      *out++ = ',';
      column += 3;
      if (column >= kHexWrapColumn) {
        *out++ = '\\';
        out = put(out, kLineEnd);
        out = put(out, "  ");
        column = 2;
      }
    }
    return out;
  }

  // dword:%08x of four little-endian bytes.
  static char* putDword(char* out, std::string_view bytes) {
    out = put(out, "dword:");
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHexDigits[(v >> shift) & 0xF];
    return out;
  }

  void appendValue(const RegistryValue& value) {
    char* const line_start = room(longestLine(value));
    char* out = line_start;
    if (value.name.empty()) {
      *out++ = '@';
    } else {
      out = putQuoted(out, value.name, false);
    }
    *out++ = '=';
    if (char* text_end = putAsText(out, value)) {
      out = text_end;
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
      out = putDword(out, value.data);
    } else {
      out = putHex(out, value, line_start);
    }
    out = put(out, kLineEnd);
    assert(static_cast<std::size_t>(out - line_start) <= longestLine(value));
    done(out);
  }

  const TextSink* m_emit;
  // m_out's first m_used bytes are the text not yet handed on; the rest is
  // room to write into.
  std::string m_out;
  std::size_t m_used = 0;
  std::string m_path;  // The path of the key being written.
};

}  // namespace

bool writeRegedit4(const RegistryTree& tree, const TextSink& emit, const Regedit4Layout& layout) {
  return Writer(&emit, kPieceSize + kPieceSize / 4).write(tree, layout);
}

std::string writeRegedit4(const RegistryTree& tree, const Regedit4Layout& layout) {
  // Room for about the text the tree was read from, and a little more for
  // what was added since, so that the text is not copied as it grows.
  Writer writer(nullptr, layout.textSize + layout.textSize / 16);
  writer.write(tree, layout);
  return writer.take();
}
