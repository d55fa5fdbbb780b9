#include "tools/creg/creg_generator.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/creg/creg_layout.h"
#include "platform/text/ascii.h"

namespace creg_gen {
namespace {

using namespace creg;

struct Key {
  KeyId id;
  std::uint32_t parent;  // Index in the key list; the root's is itself.
  std::uint32_t entry = kNoOffset;
  std::uint32_t firstChild = kNoOffset;
  std::uint32_t nextSibling = kNoOffset;
  std::uint16_t block = kNoId;
  std::uint16_t keyId = kNoId;
};

class Junk {
 public:
  explicit Junk(std::uint32_t seed) : m_state(seed * 2654435761u + 1) {}
  std::uint32_t next() {
    m_state = m_state * 1664525u + 1013904223u;
    return m_state;
  }
  void fill(std::span<std::uint8_t> bytes) {
    for (auto& b : bytes) b = static_cast<std::uint8_t>(next() >> 24);
  }

 private:
  std::uint32_t m_state;
};

std::vector<std::uint8_t> keyRecord(const RegistryTree& tree, KeyId key, bool junkUnknown) {
  const std::string_view name = tree.name(key);
  std::vector<std::uint8_t> bytes(kRecordHeaderSize);
  bytes.insert(bytes.end(), name.begin(), name.end());
  std::uint16_t count = 0;
  tree.forEachValue(key, [&](const RegistryValue& value) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kValueHeaderSize);
    std::span<std::uint8_t> header(bytes.data() + at, kValueHeaderSize);
    writeU32(header, kValueType, value.type);
    writeU32(header, 4, junkUnknown ? 0xFFFFFFFF : 0);
    writeU16(header, kValueNameLength, static_cast<std::uint16_t>(value.name.size()));
    writeU16(header, kValueDataLength, static_cast<std::uint16_t>(value.data.size()));
    bytes.insert(bytes.end(), value.name.begin(), value.name.end());
    bytes.insert(bytes.end(), value.data.begin(), value.data.end());
    ++count;
  });
  std::span<std::uint8_t> header(bytes);
  writeU32(header, kRecordSize, static_cast<std::uint32_t>(bytes.size()));
  writeU32(header, kRecordUsed, static_cast<std::uint32_t>(bytes.size()));
  writeU16(header, kRecordNameLength, static_cast<std::uint16_t>(name.size()));
  writeU16(header, kRecordValueCount, count);
  return bytes;
}

bool tooLarge(const RegistryTree& tree, KeyId key) {
  bool large = tree.name(key).size() > 0xFFFF;
  tree.forEachValue(key, [&](const RegistryValue& value) {
    large = large || value.name.size() > 0xFFFF || value.data.size() > 0xFFFF;
  });
  return large;
}

constexpr std::uint32_t kLargestBlock = 0xFFF0;

std::uint32_t roundUp(std::uint32_t value, std::uint32_t step) {
  return (value + step - 1) / step * step;
}

// A free record of `size` bytes at `at` of `block`, linking to `next`.
void putFreeRecord(std::span<std::uint8_t> block, std::uint32_t at, std::uint32_t size,
                   std::uint32_t next) {
  writeU32(block, at + kRecordSize, size);
  writeU16(block, at + kRecordId, kNoId);
  writeU16(block, at + kRecordBlock, kNoId);
  writeU32(block, at + kRecordUsed, next);
}

}  // namespace

std::uint32_t nameHash(std::string_view name) {
  std::uint32_t hash = 0;
  for (char c : name) {
    const auto byte = static_cast<std::uint8_t>(ascii::toUpper(c));
    if (byte < 0x80) hash += byte;
  }
  return hash;
}

Result<std::vector<std::uint8_t>> generate(const RegistryTree& tree, KeyId root,
                                           const Options& options) {
  const bool records = options.style == Style::FreeRecords;
  const std::uint32_t capacity =
      std::clamp<std::uint32_t>(options.blockSize, kPageSize, 0xF000) / kPageSize * kPageSize;
  Junk junk(options.seed);

  // The keys, breadth first, so that siblings follow each other.
  std::vector<Key> keys{{root, 0}};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::vector<KeyId> children;
    tree.forEachSubkey(keys[i].id, [&](KeyId child) { children.push_back(child); });
    for (KeyId child : children) {
      if (tooLarge(tree, child))
        return Error{"the key \"" + std::string(tree.name(child)) + "\" is too large for a block"};
      keys.push_back({child, static_cast<std::uint32_t>(i)});
    }
  }

  // Entry slots, with a free slot after every seventh key in the junk style.
  std::vector<std::uint32_t> freeSlots;
  std::uint32_t slot = kRgknHeaderSize;
  std::uint32_t rgknSize = kFirstPageSize;
  auto nextSlot = [&] {
    std::uint32_t at = entrySlotAtOrAfter(slot, rgknSize);
    while (at == kNoOffset) {
      rgknSize += kPageSize;
      at = entrySlotAtOrAfter(slot, rgknSize);
    }
    slot = at + kEntrySize;
    return at;
  };
  for (std::size_t i = 0; i < keys.size(); ++i) {
    keys[i].entry = nextSlot();
    if (records && i % 7 == 6) freeSlots.push_back(nextSlot());
  }
  // The rest of RGKN is one free run; there is always one.
  std::uint32_t tailRun = entrySlotAtOrAfter(slot, rgknSize);
  if (tailRun == kNoOffset) {
    rgknSize += kPageSize;
    tailRun = entrySlotAtOrAfter(slot, rgknSize);
  }
  for (std::size_t i = 1; i < keys.size(); ++i) {
    Key& parent = keys[keys[i].parent];
    // Siblings are in order in the list: link each to the one before.
    if (parent.firstChild == kNoOffset) {
      parent.firstChild = keys[i].entry;
    } else {
      std::size_t previous = i - 1;
      while (keys[previous].parent != keys[i].parent) --previous;
      keys[previous].nextSibling = keys[i].entry;
    }
  }

  // Records, into blocks of at most `capacity` bytes and 255 ids.
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> freeAt;
    std::uint16_t nextId = 0;
    std::uint16_t maxId = 0;
    std::uint16_t firstFreeId = kBlockFull;
  };
  std::vector<Block> blocks;
  const std::uint32_t innerFree = 0x20;
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const auto record = keyRecord(tree, keys[i].id, records);
    const bool gap = records && i % 5 == 0;
    const std::size_t needed = record.size() + (gap ? innerFree : 0) + kRecordHeaderSize;
    if (blocks.empty() || blocks.back().bytes.size() + needed > capacity ||
        blocks.back().nextId + (gap ? 2 : 1) > kMaxKeyId + 1) {
      if (kBlockHeaderSize + needed > kLargestBlock)
        return Error{"the key \"" + std::string(tree.name(keys[i].id)) +
                     "\" is too large for a block"};
      blocks.emplace_back();
      blocks.back().bytes.resize(kBlockHeaderSize);
    }
    Block& block = blocks.back();
    if (gap) {
      // A record freed earlier: its id left unused, its bytes those of the
      // key that was there (libcreg reads a free record's name length too).
      const auto at = static_cast<std::uint32_t>(block.bytes.size());
      block.bytes.resize(at + innerFree);
      const auto stale = std::span(block.bytes).subspan(at, innerFree);
      junk.fill(stale);
      writeU16(stale, kRecordNameLength, 8);
      writeU16(stale, kRecordValueCount, 0);
      writeU32(stale, 0x10, 0);
      block.freeAt.push_back(at);
      block.firstFreeId = std::min(block.firstFreeId, block.nextId);
      ++block.nextId;
    }
    keys[i].block = static_cast<std::uint16_t>(blocks.size() - 1);
    keys[i].keyId = block.nextId;
    block.maxId = block.nextId++;
    std::vector<std::uint8_t> placed = record;
    writeU16(placed, kRecordId, keys[i].keyId);
    writeU16(placed, kRecordBlock, keys[i].block);
    block.bytes.insert(block.bytes.end(), placed.begin(), placed.end());
  }

  std::vector<std::uint8_t> file(kFileHeaderSize + rgknSize);
  const std::uint32_t rgdbOffset = kFileHeaderSize + rgknSize;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    Block& block = blocks[b];
    const auto used = static_cast<std::uint32_t>(block.bytes.size());
    // Blocks are whole pages, but for a single record too large for that.
    std::uint32_t size = std::max(roundUp(used, kPageSize), kPageSize);
    if (size > kLargestBlock) size = roundUp(used, 16);
    std::uint32_t tail = size - used;
    if (tail != 0 && tail < kRecordHeaderSize) {
      // Too little for a free record: the last record takes the slack.
      std::uint32_t last = kBlockHeaderSize;
      while (last + readU32(block.bytes, last) < used) last += readU32(block.bytes, last);
      writeU32(block.bytes, last + kRecordSize, readU32(block.bytes, last) + tail);
      block.bytes.resize(size, 0);
      tail = 0;
    }
    block.bytes.resize(size, 0);
    if (tail != 0) block.freeAt.push_back(used);
    std::uint32_t next = kNoOffset;
    for (auto at = block.freeAt.rbegin(); at != block.freeAt.rend(); ++at) {
      const std::uint32_t recordSize = *at == used ? tail : innerFree;
      putFreeRecord(block.bytes, *at, recordSize, next);
      next = *at;
    }
    if (block.nextId <= kMaxKeyId) block.firstFreeId = std::min(block.firstFreeId, block.nextId);
    std::span<std::uint8_t> header(block.bytes);
    std::memcpy(header.data(), "RGDB", 4);
    writeU32(header, kBlockSize, size);
    writeU32(
        header, kBlockUnused,
        tail + innerFree * static_cast<std::uint32_t>(block.freeAt.size() - (tail != 0 ? 1 : 0)));
    const std::uint16_t flags = (records ? 0x8 : 0x9) | (options.checksums ? kChecksumValid : 0);
    writeU16(header, kBlockFlags, flags);
    writeU16(header, kBlockIndex, static_cast<std::uint16_t>(b));
    writeU32(header, kBlockFreeOffset, next);
    writeU16(header, kBlockMaxId, block.maxId);
    writeU16(header, kBlockFirstFreeId, block.firstFreeId);
    if (records) std::memcpy(header.data() + 0x18, "ab$ ", 4);
    if (options.checksums)
      setChecksum(header, kBlockChecksum);
    else if (records)
      writeU32(header, kBlockChecksum, junk.next());
    file.insert(file.end(), block.bytes.begin(), block.bytes.end());
  }

  // RGKN: the entries, the free slots and the free tail.
  const auto rgkn = std::span(file).subspan(kRgknStart, rgknSize);
  if (records) junk.fill(rgkn);
  std::fill_n(rgkn.begin(), kRgknHeaderSize, 0);
  std::memcpy(rgkn.data(), "RGKN", 4);
  writeU32(rgkn, kRgknSize, rgknSize);
  writeU32(rgkn, kRgknRootOffset, kRootEntry);
  writeU32(rgkn, kRgknFlags, (records ? 0x8 : 0x9) | (options.checksums ? kChecksumValid : 0));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const Key& key = keys[i];
    const auto entry = rgkn.subspan(key.entry, kEntrySize);
    writeU32(entry, kEntryState, kEntryInUse);
    writeU32(entry, kEntryHash, i == 0 ? 0 : nameHash(tree.name(key.id)));
    writeU32(entry, kEntryNextFree,
             records ? (i == 0 ? 0x0001BE8C : junk.next() & 0x1FFFF) : kNoOffset);
    writeU32(entry, kEntryParent, i == 0 ? kNoOffset : keys[key.parent].entry);
    writeU32(entry, kEntryChild, key.firstChild);
    writeU32(entry, kEntryNext, key.nextSibling);
    writeU16(entry, kEntryId, key.keyId);
    writeU16(entry, kEntryBlock, key.block);
  }
  if (!records) std::fill(rgkn.begin() + tailRun, rgkn.end(), 0);
  freeSlots.push_back(tailRun);
  std::uint32_t next = kNoOffset;
  for (auto at = freeSlots.rbegin(); at != freeSlots.rend(); ++at) {
    const auto entry = rgkn.subspan(*at, kEntrySize);
    writeU32(entry, kEntryState, kEntryFree);
    writeU32(entry, kEntryHash, *at == tailRun ? rgknSize - tailRun : kEntrySize);
    writeU32(entry, kEntryNextFree, next);
    next = *at;
  }
  writeU32(rgkn, kRgknFreeHead, next);
  if (options.checksums) setChecksum(rgkn, kRgknChecksum);

  const auto header = std::span(file).first(kFileHeaderSize);
  std::memcpy(header.data(), "CREG", 4);
  writeU32(header, kHeaderVersion, kVersion);
  writeU32(header, kHeaderRgdbOffset, rgdbOffset);
  writeU16(header, kHeaderBlockCount, static_cast<std::uint16_t>(blocks.size()));
  writeU16(header, kHeaderFlags,
           static_cast<std::uint16_t>((records ? 0x20 : 0x1) | (options.checksums ? 0x4 : 0)));
  writeU32(header, 0x14, 0x00010000);
  if (options.checksums) setChecksum(header, kHeaderChecksum);
  return file;
}

}  // namespace creg_gen
