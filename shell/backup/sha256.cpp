#include "shell/backup/sha256.h"

#include <nettle/sha2.h>

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
  writeRegedit4(tree, [&](std::string_view piece) {
    add(context, piece);
    return true;
  });
  return hexOf(context);
}

}  // namespace backup
