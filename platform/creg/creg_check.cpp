#include "platform/creg/creg_check.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/creg/creg_layout.h"

namespace creg {
namespace {

using Bytes = std::span<const std::uint8_t>;

class Checker {
 public:
  Checker(Bytes bytes, std::string_view fileName) : m_bytes(bytes), m_fileName(fileName) {}

  Result<CheckedFile> run() {
    if (auto r = checkHeaders(); !r) return r.failure();
    if (auto r = checkBlocks(); !r) return r.failure();
    if (auto r = checkFreeList(); !r) return r.failure();
    if (auto r = checkTree(); !r) return r.failure();
    return std::move(m_file);
  }

 private:
  // "NAME: offset 0x1A2B: what is wrong"
  Error fail(std::uint64_t fileOffset, std::string_view what) const {
    char at[32];
    std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(fileOffset));
    return Error{std::string(m_fileName) + ": offset " + at + ": " + std::string(what)};
  }
  static std::string hex(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
  }
  bool signatureAt(std::size_t at, const char (&signature)[5]) const {
    return std::equal(signature, signature + 4, m_bytes.begin() + at,
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
  }

  Result<void> checkHeaders();
  Result<void> checkBlocks();
  Result<void> checkRecords(CheckedBlock& block, std::uint32_t index);
  Result<void> checkRecord(const CheckedBlock& block, CheckedRecord& record);
  Result<void> checkFreeRecords(CheckedBlock& block, const std::string& name);
  Result<void> checkFreeList();
  Result<void> checkTree();
  Result<void> checkEntry(std::uint32_t at, std::uint32_t parent);

  Bytes m_bytes;
  std::string_view m_fileName;
  CheckedFile m_file;
  std::uint32_t m_rgdbOffset = 0;
  // The free runs, as [start, end) from the start of RGKN, in address order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_freeRuns;
  // Per block, which record index a key id has, and whether an entry names it.
  std::vector<std::vector<std::uint32_t>> m_recordOfId;
  std::vector<std::vector<bool>> m_recordNamed;
};

Result<void> Checker::checkHeaders() {
  if (m_bytes.size() < kFileHeaderSize + kRgknHeaderSize)
    return fail(0, "the file is " + std::to_string(m_bytes.size()) +
                       " bytes long, too short for a registry file");
  if (!signatureAt(0, "CREG"))
    return fail(0, "no \"CREG\" signature: not a Windows 9x registry file");
  if (const auto version = readU32(m_bytes, kHeaderVersion); version != kVersion)
    return fail(kHeaderVersion, "version " + hex(version) + ", expected 0x10000");
  m_file.fileFlags = readU16(m_bytes, kHeaderFlags);
  if ((m_file.fileFlags & kChecksumValid) && dwordSum(m_bytes.first(kFileHeaderSize)) != 0)
    return fail(kHeaderChecksum, "the header's checksum is flagged valid but does not match");

  if (!signatureAt(kRgknStart, "RGKN")) return fail(kRgknStart, "no \"RGKN\" signature");
  m_file.rgknSize = readU32(m_bytes, kRgknStart + kRgknSize);
  const std::uint64_t rgknEnd = std::uint64_t{kRgknStart} + m_file.rgknSize;
  if (m_file.rgknSize < kRgknHeaderSize + kEntrySize || m_file.rgknSize % 4 != 0 ||
      rgknEnd > m_bytes.size())
    return fail(kRgknStart + kRgknSize, "RGKN size " + hex(m_file.rgknSize) +
                                            " does not fit the file of " + hex(m_bytes.size()) +
                                            " bytes");
  m_rgdbOffset = readU32(m_bytes, kHeaderRgdbOffset);
  if (m_rgdbOffset != rgknEnd)
    return fail(kHeaderRgdbOffset, "the first RGDB block is said to be at " + hex(m_rgdbOffset) +
                                       ", but RGKN ends at " + hex(rgknEnd));
  const Bytes rgkn = m_bytes.subspan(kRgknStart, m_file.rgknSize);
  m_file.rgknFlags = readU32(rgkn, kRgknFlags);
  if ((m_file.rgknFlags & kChecksumValid) && dwordSum(rgkn) != 0)
    return fail(kRgknStart + kRgknChecksum,
                "the RGKN checksum is flagged valid but does not match");
  if (const auto root = readU32(rgkn, kRgknRootOffset); root != kRootEntry)
    return fail(kRgknStart + kRgknRootOffset,
                "the root key entry is at " + hex(root) + ", expected 0x20");
  m_file.freeHead = readU32(rgkn, kRgknFreeHead);
  return {};
}

Result<void> Checker::checkBlocks() {
  const std::uint32_t count = readU16(m_bytes, kHeaderBlockCount);
  std::uint64_t at = m_rgdbOffset;
  for (std::uint32_t index = 0; index < count; ++index) {
    if (at + kBlockHeaderSize > m_bytes.size())
      return fail(at, "the file ends before RGDB block " + std::to_string(index) + " of " +
                          std::to_string(count));
    if (!signatureAt(at, "RGDB"))
      return fail(at, "no \"RGDB\" signature for block " + std::to_string(index));
    CheckedBlock block;
    block.start = static_cast<std::uint32_t>(at);
    block.size = readU32(m_bytes, at + kBlockSize);
    if (block.size < kBlockHeaderSize || block.size > kMaxBlockSize || block.size % 16 != 0)
      return fail(at + kBlockSize, "RGDB block " + std::to_string(index) + " has size " +
                                       hex(block.size) +
                                       ", not a multiple of 16 between 0x20 and 0xFFFF");
    if (at + block.size > m_bytes.size())
      return fail(at + kBlockSize, "RGDB block " + std::to_string(index) + " of " +
                                       hex(block.size) + " bytes runs past the end of the file");
    const Bytes bytes = m_bytes.subspan(at, block.size);
    if (const auto stored = readU16(bytes, kBlockIndex); stored != index)
      return fail(at + kBlockIndex,
                  "RGDB block " + std::to_string(index) + " is numbered " + std::to_string(stored));
    block.flags = readU16(bytes, kBlockFlags);
    if ((block.flags & kChecksumValid) && dwordSum(bytes) != 0)
      return fail(at + kBlockChecksum, "the checksum of RGDB block " + std::to_string(index) +
                                           " is flagged valid but does not match");
    block.unused = readU32(bytes, kBlockUnused);
    block.freeOffset = readU32(bytes, kBlockFreeOffset);
    block.maxId = readU16(bytes, kBlockMaxId);
    block.firstFreeId = readU16(bytes, kBlockFirstFreeId);
    if (auto r = checkRecords(block, index); !r) return r;
    m_file.blocks.push_back(std::move(block));
    at += m_file.blocks.back().size;
  }
  if (at != m_bytes.size())
    return fail(at, std::to_string(m_bytes.size() - at) + " bytes follow the last of the " +
                        std::to_string(count) + " RGDB blocks");
  return {};
}

Result<void> Checker::checkRecords(CheckedBlock& block, std::uint32_t index) {
  const std::string name = "RGDB block " + std::to_string(index);
  const Bytes bytes = m_bytes.subspan(block.start, block.size);
  std::vector<std::uint32_t> recordOfId(kMaxKeyId + 1, kNoRecord);
  std::uint64_t freeTotal = 0;
  std::uint32_t highestId = 0;
  bool anyLive = false;
  for (std::uint32_t at = kBlockHeaderSize; at < block.size;) {
    const std::uint64_t fileAt = std::uint64_t{block.start} + at;
    if (block.size - at < kRecordHeaderSize)
      return fail(fileAt, name + ": " + std::to_string(block.size - at) +
                              " bytes at the end of the block are no record");
    CheckedRecord record;
    record.offset = at;
    record.size = readU32(bytes, at + kRecordSize);
    if (record.size < kRecordHeaderSize || record.size > block.size - at)
      return fail(fileAt, name + ": a record of size " + hex(record.size) +
                              " does not fit between here and the block's end");
    const std::uint16_t id = readU16(bytes, at + kRecordId);
    const std::uint16_t number = readU16(bytes, at + kRecordBlock);
    if (id == kNoId && number == kNoId) {
      freeTotal += record.size;
    } else {
      if (number != index)
        return fail(fileAt + kRecordBlock,
                    name + ": a key record says it is in block " + std::to_string(number));
      if (id > kMaxKeyId)
        return fail(fileAt + kRecordId, name + ": key id " + std::to_string(id) + " is over 254");
      if (recordOfId[id] != kNoRecord)
        return fail(fileAt + kRecordId, name + ": key id " + std::to_string(id) + " is used twice");
      record.live = true;
      record.id = id;
      anyLive = true;
      highestId = std::max<std::uint32_t>(highestId, id);
      recordOfId[id] = static_cast<std::uint32_t>(block.records.size());
      if (auto r = checkRecord(block, record); !r) return r;
    }
    block.records.push_back(std::move(record));
    at += block.records.back().size;
  }
  if (freeTotal != block.unused)
    return fail(std::uint64_t{block.start} + kBlockUnused,
                name + ": the unused count " + hex(block.unused) + " is not the " + hex(freeTotal) +
                    " bytes its free records hold");
  if (auto r = checkFreeRecords(block, name); !r) return r;
  if (block.firstFreeId > kBlockFull)
    return fail(
        std::uint64_t{block.start} + kBlockFirstFreeId,
        name + ": the first free key id " + std::to_string(block.firstFreeId) + " is over 255");
  if (block.firstFreeId <= kMaxKeyId && recordOfId[block.firstFreeId] != kNoRecord)
    return fail(
        std::uint64_t{block.start} + kBlockFirstFreeId,
        name + ": the first free key id " + std::to_string(block.firstFreeId) + " is not free");
  if (anyLive && block.maxId < highestId)
    return fail(std::uint64_t{block.start} + kBlockMaxId,
                name + ": the highest key id is said to be " + std::to_string(block.maxId) +
                    ", but " + std::to_string(highestId) + " is in use");
  m_recordOfId.push_back(std::move(recordOfId));
  m_recordNamed.emplace_back(block.records.size(), false);
  return {};
}

// A live record: its name and values inside it.
Result<void> Checker::checkRecord(const CheckedBlock& block, CheckedRecord& record) {
  const Bytes bytes = m_bytes.subspan(block.start + record.offset, record.size);
  const std::uint64_t fileAt = std::uint64_t{block.start} + record.offset;
  record.used = readU32(bytes, kRecordUsed);
  record.nameLength = readU16(bytes, kRecordNameLength);
  const std::uint16_t count = readU16(bytes, kRecordValueCount);
  if (record.used > record.size)
    return fail(fileAt + kRecordUsed,
                "key record uses " + hex(record.used) + " of its " + hex(record.size) + " bytes");
  std::uint64_t at = std::uint64_t{kRecordHeaderSize} + record.nameLength;
  if (at > record.size)
    return fail(fileAt + kRecordNameLength, "a key name of " + std::to_string(record.nameLength) +
                                                " bytes runs past its record");
  const std::uint32_t limit = count == 0 ? record.size : record.used;
  record.values.reserve(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    if (at + kValueHeaderSize > limit)
      return fail(fileAt + at, "value " + std::to_string(i + 1) + " of " + std::to_string(count) +
                                   " starts past the used part of its key record");
    CheckedValue value;
    value.offset = static_cast<std::uint32_t>(at);
    value.type = readU32(bytes, at + kValueType);
    value.nameLength = readU16(bytes, at + kValueNameLength);
    value.dataLength = readU16(bytes, at + kValueDataLength);
    if (at + value.size() > limit)
      return fail(fileAt + at, "value " + std::to_string(i + 1) + " of " + std::to_string(count) +
                                   " (" + std::to_string(value.size()) +
                                   " bytes) runs past the used part of its key record");
    at += value.size();
    record.values.push_back(value);
  }
  return {};
}

// The block's free chain names exactly its free records, and in a packed
// block the one free record is the tail.
Result<void> Checker::checkFreeRecords(CheckedBlock& block, const std::string& name) {
  std::vector<std::uint32_t> freeAt;
  for (const auto& record : block.records)
    if (!record.live) freeAt.push_back(record.offset);
  const std::uint64_t headField = std::uint64_t{block.start} + kBlockFreeOffset;
  std::vector<bool> seen(freeAt.size(), false);
  std::size_t chained = 0;
  for (std::uint32_t at = block.freeOffset, field = kBlockFreeOffset; at != kNoOffset;) {
    const auto found = std::lower_bound(freeAt.begin(), freeAt.end(), at);
    if (found == freeAt.end() || *found != at)
      return fail(std::uint64_t{block.start} + field,
                  name + ": the free chain leads to " + hex(at) + ", where no free record starts");
    const std::size_t n = static_cast<std::size_t>(found - freeAt.begin());
    if (seen[n])
      return fail(std::uint64_t{block.start} + field,
                  name + ": the free chain comes back to " + hex(at) + ": a cycle");
    seen[n] = true;
    ++chained;
    field = at + kRecordUsed;
    at = readU32(m_bytes, std::uint64_t{block.start} + field);
  }
  if (chained != freeAt.size())
    return fail(headField, name + ": " + std::to_string(freeAt.size() - chained) + " of its " +
                               std::to_string(freeAt.size()) +
                               " free records are not on its free chain");
  block.packed = freeAt.empty() || (freeAt.size() == 1 && !block.records.back().live);
  return {};
}

Result<void> Checker::checkFreeList() {
  const std::uint32_t size = m_file.rgknSize;
  const std::size_t maxRuns = size / kEntrySize + 1;
  std::uint64_t field = std::uint64_t{kRgknStart} + kRgknFreeHead;
  for (std::uint32_t at = m_file.freeHead; at != kNoOffset;) {
    if (m_freeRuns.size() >= maxRuns)
      return fail(field, "the free key-entry list is longer than RGKN can hold: a cycle");
    if (!isEntrySlot(at, size))
      return fail(field, "the free key-entry list leads to " + hex(at) +
                             ", which is not an entry slot of RGKN");
    const Bytes entry = m_bytes.subspan(kRgknStart + at, kEntrySize);
    if (readU32(entry, kEntryState) != kEntryFree)
      return fail(kRgknStart + at, "an entry on the free list is not marked free");
    const std::uint32_t runSize = readU32(entry, kEntryHash);
    if (runSize < kEntrySize || runSize > size - at)
      return fail(kRgknStart + at + kEntryHash,
                  "a free run of " + hex(runSize) + " bytes does not fit in RGKN");
    m_freeRuns.emplace_back(at, at + runSize);
    field = std::uint64_t{kRgknStart} + at + kEntryNextFree;
    at = readU32(entry, kEntryNextFree);
  }
  std::sort(m_freeRuns.begin(), m_freeRuns.end());
  for (std::size_t i = 1; i < m_freeRuns.size(); ++i) {
    if (m_freeRuns[i].first < m_freeRuns[i - 1].second)
      return fail(kRgknStart + m_freeRuns[i].first,
                  "this free run overlaps the one at " + hex(kRgknStart + m_freeRuns[i - 1].first) +
                      (m_freeRuns[i].first == m_freeRuns[i - 1].first ? " (a cycle)" : ""));
  }
  return {};
}

Result<void> Checker::checkTree() {
  const std::uint32_t size = m_file.rgknSize;
  const Bytes root = m_bytes.subspan(kRgknStart + kRootEntry, kEntrySize);
  if (readU32(root, kEntryParent) != kNoOffset || readU32(root, kEntryNext) != kNoOffset ||
      readU16(root, kEntryId) != kNoId || readU16(root, kEntryBlock) != kNoId)
    return fail(kRgknStart + kRootEntry,
                "the root key entry has a parent, a sibling or a key record");
  std::vector<bool> visited(size / 4, false);
  // Room for every slot outside the free runs: each may be a key.
  std::size_t slots = 0;
  for (std::uint32_t at = entrySlotAtOrAfter(kRgknHeaderSize, size), run = 0; at != kNoOffset;
       at = entrySlotAtOrAfter(at + kEntrySize, size)) {
    while (run < m_freeRuns.size() && m_freeRuns[run].second <= at) ++run;
    if (run == m_freeRuns.size() || m_freeRuns[run].first > at) ++slots;
  }
  m_file.entries.reserve(slots);
  // Depth first, each key's children in sibling order; the explicit stack
  // holds the next sibling to visit at each level.
  if (auto r = checkEntry(kRootEntry, kNoRecord); !r) return r;
  visited[kRootEntry / 4] = true;
  struct Level {
    std::uint32_t parent;
    std::uint32_t next;  // Offset of the next child to visit.
    std::uint64_t field;
  };
  std::vector<Level> stack{{0, readU32(root, kEntryChild), kRgknStart + kRootEntry + kEntryChild}};
  while (!stack.empty()) {
    Level& level = stack.back();
    const std::uint32_t at = level.next;
    if (at == kNoOffset) {
      stack.pop_back();
      continue;
    }
    if (!isEntrySlot(at, size))
      return fail(level.field, "a key link leads to " + hex(at) + ", which is not an entry slot");
    if (visited[at / 4])
      return fail(level.field, "a key link leads back to the entry at " + hex(kRgknStart + at) +
                                   ": a cycle or a shared key");
    // The stack holds one level per key on the path down to this one.
    if (stack.size() > kMaxKeyDepth)
      return fail(kRgknStart + at, "this key entry lies " + std::to_string(stack.size()) +
                                       " levels below the root, deeper than the " +
                                       std::to_string(kMaxKeyDepth) + " a key path may have");
    visited[at / 4] = true;
    const std::uint32_t parent = level.parent;
    if (auto r = checkEntry(at, parent); !r) return r;
    const std::uint32_t self = static_cast<std::uint32_t>(m_file.entries.size() - 1);
    m_file.entries[parent].children.push_back(self);
    const Bytes entry = m_bytes.subspan(kRgknStart + at, kEntrySize);
    level.next = readU32(entry, kEntryNext);
    level.field = std::uint64_t{kRgknStart} + at + kEntryNext;
    stack.push_back(
        {self, readU32(entry, kEntryChild), std::uint64_t{kRgknStart} + at + kEntryChild});
  }
  // Every slot is in the tree or free, and every live record is named.
  std::size_t run = 0;
  for (std::uint32_t at = entrySlotAtOrAfter(kRgknHeaderSize, size); at != kNoOffset;
       at = entrySlotAtOrAfter(at + kEntrySize, size)) {
    while (run < m_freeRuns.size() && m_freeRuns[run].second <= at) ++run;
    const bool free = run < m_freeRuns.size() && m_freeRuns[run].first <= at;
    if (!free && !visited[at / 4])
      return fail(kRgknStart + at, "this key entry is neither in the key tree nor free");
  }
  for (std::size_t b = 0; b < m_file.blocks.size(); ++b) {
    const auto& block = m_file.blocks[b];
    for (std::size_t r = 0; r < block.records.size(); ++r) {
      if (block.records[r].live && !m_recordNamed[b][r])
        return fail(std::uint64_t{block.start} + block.records[r].offset,
                    "key record " + std::to_string(block.records[r].id) + " of RGDB block " +
                        std::to_string(b) + " belongs to no key");
    }
  }
  return {};
}

// One entry reached from `parent` (an index into entries; kNoRecord for the root).
Result<void> Checker::checkEntry(std::uint32_t at, std::uint32_t parent) {
  const Bytes entry = m_bytes.subspan(kRgknStart + at, kEntrySize);
  const std::uint64_t fileAt = std::uint64_t{kRgknStart} + at;
  if (readU32(entry, kEntryState) != kEntryInUse)
    return fail(fileAt, "a key entry in the tree is not marked in use");
  const auto run = std::upper_bound(m_freeRuns.begin(), m_freeRuns.end(),
                                    std::pair<std::uint32_t, std::uint32_t>{at, UINT32_MAX});
  if (run != m_freeRuns.begin() && std::prev(run)->second > at)
    return fail(fileAt, "a key entry in the tree lies inside the free run at " +
                            hex(kRgknStart + std::prev(run)->first));
  CheckedEntry checked;
  checked.offset = at;
  checked.parent = parent;
  if (parent != kNoRecord) {
    if (const auto stored = readU32(entry, kEntryParent); stored != m_file.entries[parent].offset)
      return fail(fileAt + kEntryParent, "the key entry names " + hex(stored) +
                                             " as its parent, but is a child of " +
                                             hex(m_file.entries[parent].offset));
    const std::uint16_t id = readU16(entry, kEntryId);
    const std::uint16_t block = readU16(entry, kEntryBlock);
    if (block >= m_file.blocks.size() || id > kMaxKeyId || m_recordOfId[block][id] == kNoRecord)
      return fail(fileAt + kEntryId, "the key entry names key " + std::to_string(id) +
                                         " of RGDB block " + std::to_string(block) +
                                         ", which does not exist");
    const std::uint32_t record = m_recordOfId[block][id];
    if (m_recordNamed[block][record])
      return fail(fileAt + kEntryId, "key " + std::to_string(id) + " of RGDB block " +
                                         std::to_string(block) + " is named by two entries");
    m_recordNamed[block][record] = true;
    checked.block = block;
    checked.record = record;
  }
  m_file.entries.push_back(std::move(checked));
  return {};
}

}  // namespace

Result<CheckedFile> checkFile(std::span<const std::uint8_t> bytes, std::string_view fileName) {
  return Checker(bytes, fileName).run();
}

std::string_view recordName(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                            const CheckedRecord& record) {
  const auto* start = bytes.data() + block.start + record.offset + kRecordHeaderSize;
  return {reinterpret_cast<const char*>(start), record.nameLength};
}

std::string_view valueName(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                           const CheckedRecord& record, const CheckedValue& value) {
  const auto* start = bytes.data() + block.start + record.offset + value.offset + kValueHeaderSize;
  return {reinterpret_cast<const char*>(start), value.nameLength};
}

std::string_view valueData(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                           const CheckedRecord& record, const CheckedValue& value) {
  const auto* start = bytes.data() + block.start + record.offset + value.offset + kValueHeaderSize +
                      value.nameLength;
  return {reinterpret_cast<const char*>(start), value.dataLength};
}

}  // namespace creg
