// The byte layout of a Windows 9x registry file (SYSTEM.DAT, USER.DAT):
//
//   [CREG header, 32 bytes][RGKN block: the key tree][RGDB block 0][RGDB block 1]...
//
// The blocks lie end to end, and the file ends where the last RGDB block
// ends. RGKN holds one 28-byte entry per key (parent, first child and next
// sibling as offsets from the start of RGKN); an entry names its key's record
// by RGDB block number and key id. An RGDB block holds key records (header,
// name, values), and free records. Everything is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace creg {

// CREG header, at file offset 0.
inline constexpr std::uint32_t kFileHeaderSize = 0x20;
inline constexpr std::uint32_t kVersion = 0x00010000;
inline constexpr std::size_t kHeaderVersion = 0x04;
inline constexpr std::size_t kHeaderRgdbOffset = 0x08;
inline constexpr std::size_t kHeaderChecksum = 0x0C;
inline constexpr std::size_t kHeaderBlockCount = 0x10;
inline constexpr std::size_t kHeaderFlags = 0x12;

// RGKN header, at file offset 0x20; every RGKN offset counts from its start.
inline constexpr std::uint32_t kRgknStart = 0x20;
inline constexpr std::uint32_t kRgknHeaderSize = 0x20;
inline constexpr std::size_t kRgknSize = 0x04;
inline constexpr std::size_t kRgknRootOffset = 0x08;
inline constexpr std::size_t kRgknFreeHead = 0x0C;
inline constexpr std::size_t kRgknFlags = 0x10;
inline constexpr std::size_t kRgknChecksum = 0x14;

// Key entries: 28 bytes, never across a page boundary. The first page is
// 0x2000 bytes long (291 entries after the header), each later one 0x1000
// (146 entries); the few bytes left at a page's end belong to no entry.
inline constexpr std::uint32_t kEntrySize = 0x1C;
inline constexpr std::uint32_t kRootEntry = 0x20;
inline constexpr std::uint32_t kFirstPageSize = 0x2000;
inline constexpr std::uint32_t kPageSize = 0x1000;
inline constexpr std::size_t kEntryState = 0x00;
inline constexpr std::size_t kEntryHash = 0x04;  // In a free entry: the size of its free run.
inline constexpr std::size_t kEntryNextFree = 0x08;
inline constexpr std::size_t kEntryParent = 0x0C;
inline constexpr std::size_t kEntryChild = 0x10;
inline constexpr std::size_t kEntryNext = 0x14;
inline constexpr std::size_t kEntryId = 0x18;
inline constexpr std::size_t kEntryBlock = 0x1A;
inline constexpr std::uint32_t kEntryInUse = 0x00000000;
inline constexpr std::uint32_t kEntryFree = 0x80000000;
inline constexpr std::uint32_t kNoOffset = 0xFFFFFFFF;
inline constexpr std::uint16_t kNoId = 0xFFFF;
// Windows keeps a key path within 512 levels below its root, as the REGEDIT4
// reader does; a file with deeper keys is refused, so that no walk over a
// tree read from a file goes deeper.
inline constexpr std::uint32_t kMaxKeyDepth = 512;

// RGDB block header.
inline constexpr std::uint32_t kBlockHeaderSize = 0x20;
inline constexpr std::uint32_t kMaxBlockSize = 0xFFFF;
inline constexpr std::size_t kBlockSize = 0x04;
inline constexpr std::size_t kBlockUnused = 0x08;
inline constexpr std::size_t kBlockFlags = 0x0C;
inline constexpr std::size_t kBlockIndex = 0x0E;
inline constexpr std::size_t kBlockFreeOffset = 0x10;
inline constexpr std::size_t kBlockMaxId = 0x14;
inline constexpr std::size_t kBlockFirstFreeId = 0x16;
inline constexpr std::size_t kBlockChecksum = 0x1C;
inline constexpr std::uint16_t kMaxKeyId = 254;
inline constexpr std::uint16_t kBlockFull = 255;

// Key records inside a block; a free record keeps only the first 12 bytes
// meaningful, its "used" field linking to the next free record.
inline constexpr std::uint32_t kRecordHeaderSize = 0x14;
inline constexpr std::size_t kRecordSize = 0x00;
inline constexpr std::size_t kRecordId = 0x04;
inline constexpr std::size_t kRecordBlock = 0x06;
inline constexpr std::size_t kRecordUsed = 0x08;  // In a free record: the next free record.
inline constexpr std::size_t kRecordNameLength = 0x0C;
inline constexpr std::size_t kRecordValueCount = 0x0E;

// Value records, one after the other behind the key's name.
inline constexpr std::uint32_t kValueHeaderSize = 0x0C;
inline constexpr std::size_t kValueType = 0x00;
inline constexpr std::size_t kValueNameLength = 0x08;
inline constexpr std::size_t kValueDataLength = 0x0A;

// The checksum flag, the same bit in all three headers. A flagged area's
// dwords, its checksum field included, add up to zero.
inline constexpr std::uint32_t kChecksumValid = 0x4;

inline std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
inline std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
inline void writeU16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void writeU32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 32-bit sum of the dwords of `area` (whose size is a multiple of 4).
inline std::uint32_t dwordSum(std::span<const std::uint8_t> area) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at + 4 <= area.size(); at += 4) sum += readU32(area, at);
  return sum;
}
// Sets the checksum field at `field` of `area` so that the area sums to zero.
inline void setChecksum(std::span<std::uint8_t> area, std::size_t field) {
  writeU32(area, field, 0);
  writeU32(area, field, 0u - dwordSum(area));
}

// The offset of the first entry slot at or after `at` in an RGKN of `size`
// bytes, or kNoOffset when no further whole entry fits.
inline std::uint32_t entrySlotAtOrAfter(std::uint32_t at, std::uint32_t size) {
  if (at < kRgknHeaderSize) at = kRgknHeaderSize;
  const std::uint32_t pageStart =
      at < kFirstPageSize ? 0 : kFirstPageSize + (at - kFirstPageSize) / kPageSize * kPageSize;
  const std::uint32_t first = pageStart == 0 ? kRgknHeaderSize : pageStart;
  const std::uint32_t pageEnd = pageStart == 0 ? kFirstPageSize : pageStart + kPageSize;
  std::uint32_t slot = first + (at - first + kEntrySize - 1) / kEntrySize * kEntrySize;
  if (slot + kEntrySize > pageEnd) slot = pageEnd;  // The next page's first slot.
  if (slot + kEntrySize > size) return kNoOffset;
  return slot;
}
// Whether an entry may start at `at`: on the grid of its page.
inline bool isEntrySlot(std::uint32_t at, std::uint32_t size) {
  return at < size && entrySlotAtOrAfter(at, size) == at;
}

}  // namespace creg
