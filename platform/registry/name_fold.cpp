#include "platform/registry/name_fold.h"

#include <array>

namespace {

constexpr std::array<unsigned char, 256> makeUpperTable() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<unsigned char>(c - 32);
  // Windows-1252: à..þ map to À..Þ, except ÷ (0xF7), which has no capital.
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) t[c] = static_cast<unsigned char>(c - 32);
  }
  t[0x9A] = 0x8A;  // š -> Š
  t[0x9C] = 0x8C;  // œ -> Œ
  t[0x9E] = 0x8E;  // ž -> Ž
  t[0xFF] = 0x9F;  // ÿ -> Ÿ
  return t;
}

constexpr std::array<unsigned char, 256> kUpper = makeUpperTable();

unsigned char upper(char c) { return kUpper[static_cast<unsigned char>(c)]; }

}  // namespace

std::string foldName(std::string_view name) {
  std::string out(name.size(), '\0');
  for (std::size_t i = 0; i < name.size(); ++i) out[i] = static_cast<char>(upper(name[i]));
  return out;
}

bool namesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // Mostly the same spelling; a byte compare is quicker.
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

int compareNames(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int d = upper(a[i]) - upper(b[i]);
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::uint32_t foldedNameHash(std::string_view name) {
  // FNV-1a.
  std::uint32_t hash = 2166136261u;
  for (char c : name) {
    hash ^= upper(c);
    hash *= 16777619u;
  }
  return hash;
}
