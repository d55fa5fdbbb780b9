// Writes whole Windows 9x registry files from a key tree, for the demo
// machine and the tests only (the program itself only ever deletes from a
// file). Two styles, as files of different Windows 9x versions look:
//
// - Packed: each block's live records lie packed from its start, with one
//   free record as its tail; stale fields are -1 or 0. The checksum flags are
//   set and the checksums valid unless asked otherwise.
// - FreeRecords: free records between the live ones (the ids they had left
//   unused), single free key slots among the used ones, stale fields and
//   unknown fields holding junk; no checksum unless asked.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

namespace creg_gen {

enum class Style { Packed, FreeRecords };

struct Options {
  Style style = Style::Packed;
  bool checksums = true;
  // The largest RGDB block made (a multiple of 0x1000 up to 0xF000): small
  // blocks spread a key's subkeys over several.
  std::uint32_t blockSize = 0xF000;
  std::uint32_t seed = 1;  // For the junk of the FreeRecords style.
};

// The file holding `root`'s subkeys and values as the file's root key.
Result<std::vector<std::uint8_t>> generate(const RegistryTree& tree, KeyId root,
                                           const Options& options);

// The name hash Windows stores: the capital form's bytes below 0x80, added up.
std::uint32_t nameHash(std::string_view name);

}  // namespace creg_gen
