// The strict reading of a Windows 9x registry file: every structure the file
// holds is checked before anything is read from it or changed in it, and a
// file with anything unexpected is refused with a message that names the
// file, the offset and what is wrong.
//
// What a checked file keeps to (and what a changed file must keep to again):
//  1. The CREG header, then RGKN right behind it, then the RGDB blocks end to
//     end, numbered 0, 1, ... in order, as many as the header says, the last
//     one ending exactly at the end of the file.
//  2. Every checksum whose flag is set sums its area to zero.
//  3. The RGKN free list is a chain of free runs on the entry grid, without a
//     cycle or overlap; every entry slot is either on the key tree or inside
//     a free run.
//  4. The key tree, read from the root through first-child and next-sibling
//     links, reaches each entry once, each entry names its parent, and each
//     in-use entry names a live record that no other entry names. No key lies
//     more than kMaxKeyDepth (512) levels below the root: every later walk
//     over the tree may rely on that.
//  5. In each block the records tile the block; the free records are exactly
//     those on the block's free chain, their sizes add up to the block's
//     unused count, and the first free id is not in use.
//  6. A key's values lie inside the bytes its record says are used.
// Hashes are never checked or used: names are compared as names.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/result/result.h"

namespace creg {

inline constexpr std::uint32_t kNoRecord = UINT32_MAX;

struct CheckedValue {
  std::uint32_t offset = 0;  // From the start of the key record.
  std::uint32_t type = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t dataLength = 0;
  std::uint32_t size() const { return 0x0C + nameLength + dataLength; }
};

struct CheckedRecord {
  std::uint32_t offset = 0;  // From the start of the block.
  std::uint32_t size = 0;
  bool live = false;
  std::uint16_t id = 0;
  std::uint32_t used = 0;
  std::uint16_t nameLength = 0;
  std::vector<CheckedValue> values;
};

struct CheckedBlock {
  std::uint32_t start = 0;  // File offset.
  std::uint32_t size = 0;
  std::uint32_t unused = 0;
  std::uint16_t flags = 0;
  std::uint32_t freeOffset = 0;
  std::uint16_t maxId = 0;
  std::uint16_t firstFreeId = 0;
  // All free space is one record at the block's end (or there is none), as
  // Windows 95 keeps its blocks; otherwise free records lie between live ones.
  bool packed = true;
  std::vector<CheckedRecord> records;  // In file order.
};

struct CheckedEntry {
  std::uint32_t offset = 0;  // From the start of RGKN.
  std::uint32_t parent = 0;  // Index into entries; the root's is kNoRecord.
  std::uint32_t block = kNoRecord;
  std::uint32_t record = kNoRecord;     // Index into that block's records.
  std::vector<std::uint32_t> children;  // Indexes into entries, in sibling order.
};

struct CheckedFile {
  std::uint16_t fileFlags = 0;
  std::uint32_t rgknSize = 0;
  std::uint32_t rgknFlags = 0;
  std::uint32_t freeHead = 0;
  std::vector<CheckedEntry> entries;  // The root first, each parent before its children.
  std::vector<CheckedBlock> blocks;
};

// Checks `bytes`, the whole file; `fileName` is what messages call it.
Result<CheckedFile> checkFile(std::span<const std::uint8_t> bytes, std::string_view fileName);

// The name and a value's parts of a checked key record, as bytes of the file.
std::string_view recordName(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                            const CheckedRecord& record);
std::string_view valueName(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                           const CheckedRecord& record, const CheckedValue& value);
std::string_view valueData(std::span<const std::uint8_t> bytes, const CheckedBlock& block,
                           const CheckedRecord& record, const CheckedValue& value);

}  // namespace creg
