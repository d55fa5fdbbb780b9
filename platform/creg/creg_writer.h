// Writes removals into a registry file the way Windows does: by deletion
// only. Nothing is allocated, nothing grows and no block moves; the new file
// has the old one's size.
//
// - A removed key is unlinked from its parent's first-child link or from its
//   previous sibling; its entry and those of its subkeys, children first,
//   become single free slots at the head of the RGKN free list.
// - Its record leaves its block. A block that keeps its free space as one
//   tail (as Windows 95 does, and as the files of that age are read) is
//   compacted: the later records move down, keeping their ids, and the tail
//   becomes one free record. A block that already has free records between
//   live ones (as later Windows 9x versions leave them) gets the record marked
//   free and put at the head of its free chain. Either way the block's unused
//   count, free offset, first free id and highest id follow, and the freed
//   bytes are zeroed.
// - A removed value is shifted out of its key's record; the record keeps its
//   size, and its used count drops by the value's bytes, which are zeroed.
// - Checksums whose flag is set are computed again; flags, hashes and fields
//   that are not understood keep their bytes.
// The new bytes are then checked as strictly as the old were, and compared key
// by key with the tree the removals were made on.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/creg/creg_check.h"
#include "platform/creg/creg_tree.h"
#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

namespace creg {

// `bytes` is the file as read and checked into `file`; `map` says which of
// `tree`'s keys (below `root`) came from which entry; `removals` are those
// recorded on `tree` since then, in the order made. Keys and values that the
// file never held (added after reading) are passed over, and the final
// comparison refuses a tree that differs from the file in anything but
// removals.
Result<std::vector<std::uint8_t>> writeRemovals(std::span<const std::uint8_t> bytes,
                                                const CheckedFile& file, const TreeMap& map,
                                                const RegistryTree& tree, KeyId root,
                                                std::span<const TreeRemoval> removals,
                                                std::string_view fileName);

}  // namespace creg
