#include "shell/backup/sha256.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "platform/registry/regedit4_writer.h"

namespace backup {
namespace {

std::string hexOf(sha256_ctx& context) {
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (const uint8_t byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

void add(sha256_ctx& context, std::string_view bytes) {
  sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
}

// A number as eight bytes, least significant first.
void addNumber(sha256_ctx& context, std::uint64_t number) {
  std::array<std::uint8_t, 8> bytes{};
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(number);
    number >>= 8;
  }
  sha256_update(&context, bytes.size(), bytes.data());
}

// Bytes after their count, so that where one ends is never in doubt.
void addCounted(sha256_ctx& context, std::string_view bytes) {
  addNumber(context, bytes.size());
  add(context, bytes);
}

// Each key once, depth first, without recursion: a key's subkeys go on the
// stack last first, so that they come off it in order.
void addTree(sha256_ctx& context, const RegistryTree& tree) {
  std::vector<KeyId> pending;
  for (std::size_t r = 0; r < kRootKeyCount; ++r) {
    pending.push_back(RegistryTree::rootKey(static_cast<RootKey>(r)));
    while (!pending.empty()) {
      const KeyId key = pending.back();
      pending.pop_back();
      addCounted(context, tree.name(key));
      std::uint64_t values = 0;
      tree.forEachValue(key, [&](const RegistryValue&) { ++values; });
      addNumber(context, values);
      tree.forEachValue(key, [&](const RegistryValue& value) {
        addCounted(context, value.name);
        addNumber(context, value.type);
        addCounted(context, value.data);
      });
      const std::size_t first = pending.size();
      tree.forEachSubkey(key, [&](KeyId child) { pending.push_back(child); });
      addNumber(context, pending.size() - first);
      std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
    }
  }
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  sha256_init(&context);
  add(context, bytes);
  return hexOf(context);
}

std::string registryDigest(const RegistryTree& tree) {
  sha256_ctx context;
  sha256_init(&context);
  addTree(context, tree);
  return hexOf(context);
}

std::string registryTextDigest(const RegistryTree& tree, const Regedit4Layout& layout) {
  sha256_ctx context;
  sha256_init(&context);
  writeRegedit4(
      tree,
      [&](std::string_view piece) {
        add(context, piece);
        return true;
      },
      layout);
  return hexOf(context);
}

}  // namespace backup
