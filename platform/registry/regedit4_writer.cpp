#include "platform/registry/regedit4_writer.h"

#include <cstdio>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHexWrapColumn = 77;

void appendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool writableAsText(const RegistryValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  const std::string_view text(value.data.data(), value.data.size() - 1);
  return text.find('\0') == std::string_view::npos && text.find('\n') == std::string_view::npos;
}

void appendHex(std::string& out, const RegistryValue& value, std::size_t line_start) {
  char buf[16];
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
    out += buf;
  }
  std::size_t column = out.size() - line_start;
  const std::size_t n = value.data.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(value.data[i]));
    out += buf;
    if (i + 1 == n) break;
    out.push_back(',');
    column += 3;
    if (column >= kHexWrapColumn) {
      out += "\\";
      out += kLineEnd;
      out += "  ";
      column = 2;
    }
  }
}

void appendValue(std::string& out, const RegistryValue& value) {
  const std::size_t line_start = out.size();
  if (value.name.empty()) {
    out.push_back('@');
  } else {
    appendQuoted(out, value.name);
  }
  out.push_back('=');
  if (writableAsText(value)) {
    appendQuoted(out, std::string_view(value.data.data(), value.data.size() - 1));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(value.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
    out += buf;
  } else {
    appendHex(out, value, line_start);
  }
  out += kLineEnd;
}

void appendSection(std::string& out, const std::string& path, const RegistryKey& key) {
  out.push_back('[');
  out += path;
  out.push_back(']');
  out += kLineEnd;
  for (const auto& value : key.values()) appendValue(out, value);
  out += kLineEnd;
}

// Depth is bounded by the parser's limit on key paths, and the program never
// creates keys, so the recursion stays shallow.
void appendTree(std::string& out, std::string& path, const RegistryKey& key) {
  key.forEachSubkey([&](const RegistryKey& child) {
    const std::size_t mark = path.size();
    path.push_back('\\');
    path += child.name();
    appendSection(out, path, child);
    appendTree(out, path, child);
    path.resize(mark);
  });
}

}  // namespace

std::string writeRegedit4(const RegistryTree& tree) {
  std::string out = "REGEDIT4";
  out += kLineEnd;
  out += kLineEnd;
  for (RootKey root : tree.mentionOrder()) {
    const RegistryKey& key = tree.root(root);
    std::string path(rootKeyName(root));
    if (tree.listed(root) || !key.values().empty()) appendSection(out, path, key);
    appendTree(out, path, key);
  }
  return out;
}
