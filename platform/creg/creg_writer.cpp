#include "platform/creg/creg_writer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "platform/creg/creg_layout.h"
#include "platform/registry/name_fold.h"

namespace creg {
namespace {

class Remover {
 public:
  Remover(std::span<const std::uint8_t> bytes, const CheckedFile& file)
      : m_old(bytes), m_out(bytes.begin(), bytes.end()), m_file(file) {
    m_children.reserve(file.entries.size());
    for (const auto& entry : file.entries) m_children.push_back(entry.children);
    m_entryFreed.assign(file.entries.size(), false);
    m_freeHead = file.freeHead;
    m_blocks.resize(file.blocks.size());
    for (std::size_t b = 0; b < file.blocks.size(); ++b) {
      m_blocks[b].recordFreed.assign(file.blocks[b].records.size(), false);
      m_blocks[b].valueRemoved.resize(file.blocks[b].records.size());
    }
  }

  bool live(std::uint32_t entry) const { return !m_entryFreed[entry]; }

  void removeKey(std::uint32_t entry);
  // Removes the value named `name` from the entry's record, if it has one.
  void removeValue(std::uint32_t entry, std::string_view name);
  std::vector<std::uint8_t> finish();

 private:
  struct BlockState {
    bool touched = false;
    std::vector<bool> recordFreed;
    std::vector<std::vector<bool>> valueRemoved;  // Per record, empty while none is.
  };

  std::span<std::uint8_t> entryBytes(std::uint32_t entry) {
    return std::span(m_out).subspan(kRgknStart + m_file.entries[entry].offset, kEntrySize);
  }
  void freeEntry(std::uint32_t entry);
  // The new bytes of a live record whose values were removed, else its old bytes.
  std::vector<std::uint8_t> recordBytes(std::size_t b, std::size_t r) const;
  void rewriteBlock(std::size_t b);

  std::span<const std::uint8_t> m_old;
  std::vector<std::uint8_t> m_out;
  const CheckedFile& m_file;
  std::vector<std::vector<std::uint32_t>> m_children;  // The live children, in sibling order.
  std::vector<bool> m_entryFreed;
  std::uint32_t m_freeHead = kNoOffset;
  bool m_rgknTouched = false;
  std::vector<BlockState> m_blocks;
};

void Remover::removeKey(std::uint32_t entry) {
  if (entry == 0 || m_entryFreed[entry]) return;
  // Unlink it: its previous sibling, or its parent's first-child link, now
  // leads to its next sibling.
  const std::uint32_t parent = m_file.entries[entry].parent;
  auto& siblings = m_children[parent];
  const auto at = std::find(siblings.begin(), siblings.end(), entry);
  const std::uint32_t next = readU32(entryBytes(entry), kEntryNext);
  if (at == siblings.begin())
    writeU32(entryBytes(parent), kEntryChild, next);
  else
    writeU32(entryBytes(*std::prev(at)), kEntryNext, next);
  siblings.erase(at);
  m_rgknTouched = true;
  // Free the subtree, children first.
  std::vector<std::uint32_t> order;
  std::vector<std::pair<std::uint32_t, std::size_t>> stack{{entry, 0}};
  while (!stack.empty()) {
    auto& [current, child] = stack.back();
    if (child < m_children[current].size()) {
      const std::uint32_t next_child = m_children[current][child++];
      stack.emplace_back(next_child, 0);
    } else {
      order.push_back(current);
      stack.pop_back();
    }
  }
  for (const std::uint32_t e : order) freeEntry(e);
}

// The slot becomes a free run of one entry at the head of the free list; its
// other fields keep their stale values, as Windows leaves them.
void Remover::freeEntry(std::uint32_t entry) {
  const auto bytes = entryBytes(entry);
  writeU32(bytes, kEntryState, kEntryFree);
  writeU32(bytes, kEntryHash, kEntrySize);
  writeU32(bytes, kEntryNextFree, m_freeHead);
  m_freeHead = m_file.entries[entry].offset;
  m_entryFreed[entry] = true;
  m_children[entry].clear();
  const CheckedEntry& checked = m_file.entries[entry];
  m_blocks[checked.block].recordFreed[checked.record] = true;
  m_blocks[checked.block].touched = true;
}

void Remover::removeValue(std::uint32_t entry, std::string_view name) {
  if (entry == 0 || m_entryFreed[entry]) return;
  const CheckedEntry& checked = m_file.entries[entry];
  const CheckedBlock& block = m_file.blocks[checked.block];
  const CheckedRecord& record = block.records[checked.record];
  auto& removed = m_blocks[checked.block].valueRemoved[checked.record];
  for (std::size_t v = 0; v < record.values.size(); ++v) {
    if (!removed.empty() && removed[v]) continue;
    if (!namesEqual(valueName(m_old, block, record, record.values[v]), name)) continue;
    if (removed.empty()) removed.assign(record.values.size(), false);
    removed[v] = true;
    m_blocks[checked.block].touched = true;
    return;
  }
}

std::vector<std::uint8_t> Remover::recordBytes(std::size_t b, std::size_t r) const {
  const CheckedBlock& block = m_file.blocks[b];
  const CheckedRecord& record = block.records[r];
  const auto old = m_old.subspan(block.start + record.offset, record.size);
  std::vector<std::uint8_t> bytes(old.begin(), old.end());
  const auto& removed = m_blocks[b].valueRemoved[r];
  if (removed.empty()) return bytes;
  // Kept values move down over removed ones; whatever lay between the last
  // value and the used count follows them; the bytes given up become zero;
  // the slack behind the used count stays.
  std::uint32_t to = kRecordHeaderSize + record.nameLength;
  std::uint32_t removedBytes = 0;
  std::uint16_t kept = 0;
  for (std::size_t v = 0; v < record.values.size(); ++v) {
    const CheckedValue& value = record.values[v];
    if (removed[v]) {
      removedBytes += value.size();
      continue;
    }
    std::memcpy(bytes.data() + to, old.data() + value.offset, value.size());
    to += value.size();
    ++kept;
  }
  const std::uint32_t valuesEnd = to + removedBytes;
  std::memcpy(bytes.data() + to, old.data() + valuesEnd, record.used - valuesEnd);
  std::memset(bytes.data() + record.used - removedBytes, 0, removedBytes);
  std::span<std::uint8_t> view(bytes);
  writeU32(view, kRecordUsed, record.used - removedBytes);
  writeU16(view, kRecordValueCount, kept);
  return bytes;
}

void Remover::rewriteBlock(std::size_t b) {
  const CheckedBlock& block = m_file.blocks[b];
  const BlockState& state = m_blocks[b];
  const auto out = std::span(m_out).subspan(block.start, block.size);
  std::uint32_t unused = block.unused;
  std::uint32_t freeOffset = block.freeOffset;
  std::uint16_t firstFreeId = block.firstFreeId;
  std::uint32_t highestLive = 0;
  bool anyLive = false;
  bool maxIdFreed = false;
  for (std::size_t r = 0; r < block.records.size(); ++r) {
    const CheckedRecord& record = block.records[r];
    if (!record.live) continue;
    if (state.recordFreed[r]) {
      firstFreeId = std::min<std::uint16_t>(firstFreeId, record.id);
      maxIdFreed = maxIdFreed || record.id == block.maxId;
    } else {
      anyLive = true;
      highestLive = std::max<std::uint32_t>(highestLive, record.id);
    }
  }
  const bool anyFreed = std::find(state.recordFreed.begin(), state.recordFreed.end(), true) !=
                        state.recordFreed.end();
  if (block.packed && anyFreed) {
    // Compact: the live records in their order from the block's start, then
    // one free tail record.
    std::uint32_t at = kBlockHeaderSize;
    for (std::size_t r = 0; r < block.records.size(); ++r) {
      if (!block.records[r].live || state.recordFreed[r]) continue;
      const auto bytes = recordBytes(b, r);
      std::memcpy(out.data() + at, bytes.data(), bytes.size());
      at += static_cast<std::uint32_t>(bytes.size());
    }
    // A freed record has at least a record header's bytes, so the tail holds one.
    unused = block.size - at;
    freeOffset = at;
    std::memset(out.data() + at, 0, unused);
    writeU32(out, at + kRecordSize, unused);
    writeU16(out, at + kRecordId, kNoId);
    writeU16(out, at + kRecordBlock, kNoId);
    writeU32(out, at + kRecordUsed, kNoOffset);
  } else {
    for (std::size_t r = 0; r < block.records.size(); ++r) {
      const CheckedRecord& record = block.records[r];
      if (!record.live) continue;
      if (state.recordFreed[r]) {
        std::memset(out.data() + record.offset + 12, 0, record.size - 12);
        writeU16(out, record.offset + kRecordId, kNoId);
        writeU16(out, record.offset + kRecordBlock, kNoId);
        writeU32(out, record.offset + kRecordUsed, freeOffset);
        freeOffset = record.offset;
        unused += record.size;
      } else if (!state.valueRemoved[r].empty()) {
        const auto bytes = recordBytes(b, r);
        std::memcpy(out.data() + record.offset, bytes.data(), bytes.size());
      }
    }
  }
  writeU32(out, kBlockUnused, unused);
  writeU32(out, kBlockFreeOffset, freeOffset);
  writeU16(out, kBlockFirstFreeId, firstFreeId);
  if (maxIdFreed && anyLive) writeU16(out, kBlockMaxId, static_cast<std::uint16_t>(highestLive));
  if (block.flags & kChecksumValid) setChecksum(out, kBlockChecksum);
}

std::vector<std::uint8_t> Remover::finish() {
  for (std::size_t b = 0; b < m_blocks.size(); ++b)
    if (m_blocks[b].touched) rewriteBlock(b);
  if (m_rgknTouched) {
    const auto rgkn = std::span(m_out).subspan(kRgknStart, m_file.rgknSize);
    writeU32(rgkn, kRgknFreeHead, m_freeHead);
    if (m_file.rgknFlags & kChecksumValid) setChecksum(rgkn, kRgknChecksum);
  }
  return std::move(m_out);
}

}  // namespace

Result<std::vector<std::uint8_t>> writeRemovals(std::span<const std::uint8_t> bytes,
                                                const CheckedFile& file, const TreeMap& map,
                                                const RegistryTree& tree, KeyId root,
                                                std::span<const TreeRemoval> removals,
                                                std::string_view fileName) {
  Remover remover(bytes, file);
  for (const TreeRemoval& removal : removals) {
    const std::uint32_t entry = map.entryOf(removal.key);
    if (entry == kNoRecord) continue;
    if (removal.value == kNoValueRecord)
      remover.removeKey(entry);
    else
      remover.removeValue(entry, tree.valueRecord(removal.value).name);
  }
  std::vector<std::uint8_t> out = remover.finish();

  // The new file must pass the same check and hold exactly what the tree holds.
  const std::string name = std::string(fileName) + " (as it would be written)";
  auto checked = checkFile(out, name);
  if (!checked) return Error{"the changed registry would not be sound: " + checked.error()};
  if (holdsTree(out, checked.value(), tree, root)) return out;
  // Read into a tree of its own, the new bytes say what is wrong with them.
  RegistryTree reread;
  const KeyId rereadRoot = RegistryTree::rootKey(RootKey::LocalMachine);
  if (auto r = readIntoTree(out, checked.value(), reread, rereadRoot, name); !r)
    return Error{"the changed registry would not be sound: " + r.error()};
  auto r = compareTrees(reread, rereadRoot, tree, root, std::string(fileName));
  return Error{"the changed registry would not hold what remains after the removals" +
               (r ? std::string() : ": " + r.error())};
}

}  // namespace creg
