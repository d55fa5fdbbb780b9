// The strict check: generated files of every style pass; for each thing the
// check looks at there is a file that fails it, refused with a message that
// names the file, the offset and what is wrong.
#include "platform/creg/creg_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/creg/creg_layout.h"
#include "platform/creg/creg_tree.h"
#include "platform/creg/creg_writer.h"
#include "tests/platform/creg/creg_samples.h"

namespace {

using namespace creg;
using creg_gen::Style;
using Bytes = std::vector<std::uint8_t>;

TEST(CregCheck, GeneratedFilesOfEveryStylePass) {
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    for (const bool checksums : {true, false}) {
      for (const std::uint32_t blockSize : {0x1000u, 0xF000u}) {
        const auto bytes = creg_samples::sampleFile(style, checksums, blockSize);
        auto loaded = loadFile(bytes, "SYSTEM.DAT");
        ASSERT_TRUE(loaded) << loaded.error();
        const auto& file = loaded.value();
        EXPECT_EQ(file.checked.blocks.size() > 1, blockSize == 0x1000);
        for (const auto& block : file.checked.blocks)
          EXPECT_EQ(block.packed, style == Style::Packed);
        // The file's content is the sample's HKEY_LOCAL_MACHINE.
        auto store = creg_samples::sampleStore();
        const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
        EXPECT_TRUE(compareTrees(file.tree, hklm, store->tree(), hklm, "HKLM"));
      }
    }
  }
}

// Names are found without regard to case, the accented letters of
// Windows-1252 included, whatever hash the file stores.
TEST(CregCheck, NamesAreFoundInAnyCaseAndHashesAreNotTrusted) {
  auto bytes = creg_samples::sampleFile(Style::Packed, false);
  auto checked = checkFile(bytes, "SYSTEM.DAT");
  ASSERT_TRUE(checked);
  for (const auto& entry : checked.value().entries)
    writeU32(bytes, kRgknStart + entry.offset + kEntryHash, 0xDEADBEEF);
  auto loaded = loadFile(bytes, "SYSTEM.DAT");
  ASSERT_TRUE(loaded) << loaded.error();
  const RegistryTree& tree = loaded.value().tree;
  const KeyId software = tree.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "SOFTWARE");
  ASSERT_NE(software, kNoKey);
  const KeyId cafe = tree.findSubkey(software, "CAF\xc9 SOFT");
  ASSERT_NE(cafe, kNoKey);
  EXPECT_EQ(tree.name(cafe), "Caf\xe9 Soft");
  EXPECT_NE(tree.findSubkey(cafe, "r\xc9GLAGES"), kNoKey);
}

// The sample, checked, with helpers to find its parts.
struct Sample {
  Bytes bytes;
  CheckedFile file;
  Sample(Style style, bool checksums) : bytes(creg_samples::sampleFile(style, checksums)) {
    auto checked = checkFile(bytes, "SYSTEM.DAT");
    EXPECT_TRUE(checked);
    if (checked) file = std::move(checked).value();
  }
  std::size_t entry(std::uint32_t index) const { return kRgknStart + file.entries[index].offset; }
  std::size_t record(std::uint32_t block, std::uint32_t index) const {
    return file.blocks[block].start + file.blocks[block].records[index].offset;
  }
  // The record of entry `index`, with its block.
  std::size_t recordOf(std::uint32_t index) const {
    return record(file.entries[index].block, file.entries[index].record);
  }
  const CheckedRecord& checkedRecordOf(std::uint32_t index) const {
    return file.blocks[file.entries[index].block].records[file.entries[index].record];
  }
  std::string_view nameOf(std::uint32_t index) const {
    const auto& e = file.entries[index];
    return recordName(bytes, file.blocks[e.block], checkedRecordOf(index));
  }
  // An entry whose record holds values, and one whose record holds none.
  std::uint32_t withValues() const {
    for (std::uint32_t e = 1; e < file.entries.size(); ++e)
      if (!checkedRecordOf(e).values.empty()) return e;
    return 1;
  }
  std::uint32_t withoutValues() const {
    for (std::uint32_t e = 1; e < file.entries.size(); ++e)
      if (checkedRecordOf(e).values.empty()) return e;
    return 1;
  }
  // The first block with at least two free records.
  std::uint32_t blockWithFreeRecords() const {
    for (std::uint32_t b = 0; b < file.blocks.size(); ++b) {
      const auto& records = file.blocks[b].records;
      if (std::count_if(records.begin(), records.end(), [](auto& r) { return !r.live; }) >= 2)
        return b;
    }
    return 0;
  }
  std::vector<std::uint32_t> freeRecords(std::uint32_t b) const {
    std::vector<std::uint32_t> out;
    for (const auto& r : file.blocks[b].records)
      if (!r.live) out.push_back(r.offset);
    return out;
  }
  // The free runs in list order, as RGKN offsets.
  std::vector<std::uint32_t> freeRuns() const {
    std::vector<std::uint32_t> runs;
    for (std::uint32_t at = file.freeHead; at != kNoOffset;
         at = readU32(bytes, kRgknStart + at + kEntryNextFree))
      runs.push_back(at);
    return runs;
  }
};

struct BadFile {
  const char* what;
  Style style;
  bool checksums;
  std::function<void(Sample&)> spoil;
  const char* message;
};

void put16(Bytes& b, std::size_t at, std::uint16_t v) { writeU16(b, at, v); }
void put32(Bytes& b, std::size_t at, std::uint32_t v) { writeU32(b, at, v); }

const std::vector<BadFile>& badFiles() {
  static const std::vector<BadFile> files = {
      {"too short", Style::Packed, false, [](Sample& s) { s.bytes.resize(40); }, "too short"},
      {"signature", Style::Packed, false, [](Sample& s) { s.bytes[0] = 'X'; },
       "no \"CREG\" signature"},
      {"version", Style::Packed, false, [](Sample& s) { put32(s.bytes, 4, 0x20000); },
       "version 0x20000"},
      {"header checksum", Style::Packed, true, [](Sample& s) { s.bytes[0x18] ^= 1; },
       "header's checksum"},
      {"RGKN signature", Style::Packed, false, [](Sample& s) { s.bytes[0x21] = 'X'; },
       "no \"RGKN\" signature"},
      {"RGKN size", Style::Packed, false, [](Sample& s) { put32(s.bytes, 0x24, 0x7FFFFFF0); },
       "RGKN size 0x7FFFFFF0 does not fit"},
      {"RGDB offset", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, 8, readU32(s.bytes, 8) + 0x10); }, "is said to be at"},
      {"RGKN checksum", Style::Packed, true, [](Sample& s) { s.bytes[s.entry(1) + 8] ^= 1; },
       "RGKN checksum"},
      {"root offset", Style::Packed, false, [](Sample& s) { put32(s.bytes, 0x28, 0x3C); },
       "root key entry is at 0x3C"},
      {"missing block", Style::Packed, false,
       [](Sample& s) { s.bytes.resize(s.file.blocks.back().start); }, "the file ends before"},
      {"bytes after the blocks", Style::Packed, false,
       [](Sample& s) { s.bytes.resize(s.bytes.size() + 16); }, "16 bytes follow the last"},
      {"block signature", Style::Packed, false,
       [](Sample& s) { s.bytes[s.file.blocks[1].start] = 'X'; },
       "no \"RGDB\" signature for block 1"},
      {"block size", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, s.file.blocks[1].start + 4, s.file.blocks[1].size + 4); },
       "not a multiple of 16"},
      {"block past the end", Style::Packed, false,
       [](Sample& s) {
         const auto& last = s.file.blocks.back();
         put32(s.bytes, last.start + 4, last.size + 0x1000);
       },
       "runs past the end of the file"},
      {"block number", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.file.blocks[1].start + kBlockIndex, 5); },
       "block 1 is numbered 5"},
      {"block checksum", Style::Packed, true,
       [](Sample& s) { s.bytes[s.record(1, 0) + 0x14] ^= 1; }, "checksum of RGDB block 1"},
      {"record size", Style::Packed, false, [](Sample& s) { put32(s.bytes, s.record(0, 0), 0x10); },
       "does not fit between here"},
      {"record's block", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.record(0, 1) + kRecordBlock, 7); },
       "says it is in block 7"},
      {"key id over 254", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.record(0, 1) + kRecordId, 300); }, "is over 254"},
      {"key id twice", Style::Packed, false,
       [](Sample& s) {
         put16(s.bytes, s.record(0, 1) + kRecordId, s.file.blocks[0].records[0].id);
       },
       "is used twice"},
      {"unused count", Style::Packed, false,
       [](Sample& s) {
         put32(s.bytes, s.file.blocks[0].start + kBlockUnused, s.file.blocks[0].unused + 4);
       },
       "unused count"},
      {"free offset", Style::Packed, false,
       [](Sample& s) {
         put32(s.bytes, s.file.blocks[0].start + kBlockFreeOffset, s.file.blocks[0].freeOffset + 4);
       },
       "where no free record starts"},
      {"free chain cycle", Style::FreeRecords, false,
       [](Sample& s) {
         const auto b = s.blockWithFreeRecords();
         const auto& block = s.file.blocks[b];
         std::uint32_t last = block.freeOffset;
         while (readU32(s.bytes, block.start + last + kRecordUsed) != kNoOffset)
           last = readU32(s.bytes, block.start + last + kRecordUsed);
         put32(s.bytes, block.start + last + kRecordUsed, block.freeOffset);
       },
       "a cycle"},
      {"free record off the chain", Style::FreeRecords, false,
       [](Sample& s) {
         const auto& block = s.file.blocks[s.blockWithFreeRecords()];
         put32(s.bytes, block.start + kBlockFreeOffset,
               readU32(s.bytes, block.start + block.freeOffset + kRecordUsed));
       },
       "not on its free chain"},
      {"first free id", Style::Packed, false,
       [](Sample& s) {
         put16(s.bytes, s.file.blocks[0].start + kBlockFirstFreeId, s.file.blocks[0].records[0].id);
       },
       "first free key id"},
      {"highest id", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.file.blocks[0].start + kBlockMaxId, 0); },
       "highest key id is said to be 0"},
      {"highest id one too low", Style::Packed, false,
       [](Sample& s) {
         std::uint16_t highest = 0;
         for (const auto& r : s.file.blocks[0].records)
           if (r.live) highest = std::max(highest, r.id);
         put16(s.bytes, s.file.blocks[0].start + kBlockMaxId, highest - 1);
       },
       "highest key id is said to be"},
      {"first free id over 255", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.file.blocks[0].start + kBlockFirstFreeId, 300); },
       "first free key id 300 is over 255"},
      {"used size", Style::Packed, false,
       [](Sample& s) {
         const auto e = s.withValues();
         put32(s.bytes, s.recordOf(e) + kRecordUsed, s.checkedRecordOf(e).size + 1);
       },
       "key record uses"},
      {"name length", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.recordOf(1) + kRecordNameLength, 0xFFFF); },
       "a key name of 65535 bytes"},
      {"value size", Style::Packed, false,
       [](Sample& s) {
         const auto e = s.withValues();
         put16(s.bytes, s.recordOf(e) + s.checkedRecordOf(e).values[0].offset + kValueDataLength,
               0xFFFF);
       },
       "runs past the used part"},
      {"value count", Style::Packed, false,
       [](Sample& s) {
         const auto e = s.withValues();
         put16(s.bytes, s.recordOf(e) + kRecordValueCount, 0x4000);
       },
       "starts past the used part"},
      {"free list head", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, kRgknStart + kRgknFreeHead, 0x21); },
       "not an entry slot of RGKN"},
      {"free entry state", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, kRgknStart + s.file.freeHead + kEntryState, 0); },
       "is not marked free"},
      {"free run size", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, kRgknStart + s.file.freeHead + kEntryHash, 0x7FFFFFFF); },
       "does not fit in RGKN"},
      {"free run past RGKN's end", Style::Packed, false,
       [](Sample& s) {
         put32(s.bytes, kRgknStart + s.file.freeHead + kEntryHash,
               s.file.rgknSize - s.file.freeHead + kEntrySize);
       },
       "does not fit in RGKN"},
      {"free list cycle", Style::FreeRecords, false,
       [](Sample& s) {
         put32(s.bytes, kRgknStart + s.freeRuns().back() + kEntryNextFree, s.file.freeHead);
       },
       "a cycle"},
      {"root entry", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, s.entry(0) + kEntryNext, s.file.entries[1].offset); },
       "root key entry has a parent, a sibling or a key record"},
      {"link off the grid", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, s.entry(0) + kEntryChild, 0x21); },
       "which is not an entry slot"},
      {"link cycle", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, s.entry(1) + kEntryNext, s.file.entries[1].offset); },
       "a cycle or a shared key"},
      {"entry state", Style::Packed, false, [](Sample& s) { put32(s.bytes, s.entry(1), 1); },
       "not marked in use"},
      {"entry inside a free run", Style::FreeRecords, false,
       [](Sample& s) {
         // A single free slot followed by a key's slot grows over it.
         for (const auto run : s.freeRuns()) {
           for (std::uint32_t e = 1; e < s.file.entries.size(); ++e) {
             if (s.file.entries[e].offset == run + kEntrySize &&
                 readU32(s.bytes, kRgknStart + run + kEntryHash) == kEntrySize) {
               put32(s.bytes, kRgknStart + run + kEntryHash, 2 * kEntrySize);
               return;
             }
           }
         }
       },
       "lies inside the free run"},
      {"parent link", Style::Packed, false,
       [](Sample& s) {
         for (std::uint32_t e = 1; e < s.file.entries.size(); ++e) {
           if (s.file.entries[e].parent != 0) {
             put32(s.bytes, s.entry(e) + kEntryParent, kRootEntry);
             return;
           }
         }
       },
       "as its parent"},
      {"missing record", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.entry(1) + kEntryId, 250); }, "which does not exist"},
      {"key id past the id table", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.entry(1) + kEntryId, 300); },
       "names key 300 of RGDB block"},
      {"record named twice", Style::Packed, false,
       [](Sample& s) {
         put32(s.bytes, s.entry(2) + kEntryId, readU32(s.bytes, s.entry(1) + kEntryId));
       },
       "is named by two entries"},
      {"slot neither used nor free", Style::Packed, false,
       [](Sample& s) { put32(s.bytes, kRgknStart + s.file.freeHead + kEntryHash, kEntrySize); },
       "neither in the key tree nor free"},
      {"record of no key", Style::Packed, false,
       [](Sample& s) {
         // The last key, a leaf, leaves the tree and its slot becomes free;
         // its record stays.
         const std::uint32_t e = static_cast<std::uint32_t>(s.file.entries.size() - 1);
         const auto& siblings = s.file.entries[s.file.entries[e].parent].children;
         const auto at = std::find(siblings.begin(), siblings.end(), e);
         const std::uint32_t next = readU32(s.bytes, s.entry(e) + kEntryNext);
         if (at == siblings.begin())
           put32(s.bytes, s.entry(s.file.entries[e].parent) + kEntryChild, next);
         else
           put32(s.bytes, s.entry(*(at - 1)) + kEntryNext, next);
         put32(s.bytes, s.entry(e) + kEntryState, kEntryFree);
         put32(s.bytes, s.entry(e) + kEntryHash, kEntrySize);
         put32(s.bytes, s.entry(e) + kEntryNextFree, s.file.freeHead);
         put32(s.bytes, kRgknStart + kRgknFreeHead, s.file.entries[e].offset);
       },
       "belongs to no key"},
      {"sibling names alike", Style::Packed, false,
       [](Sample& s) {
         // "Northwind 10" becomes "NORTHWIND 11", beside "Northwind 11".
         for (std::uint32_t e = 1; e < s.file.entries.size(); ++e) {
           if (s.nameOf(e) == "Northwind 10") {
             const std::string other = "NORTHWIND 11";
             std::copy(other.begin(), other.end(), s.bytes.begin() + s.recordOf(e) + 0x14);
           }
         }
       },
       "two sibling keys are named \"Northwind 11\" in some letter case"},
      {"value names alike", Style::Packed, false,
       [](Sample& s) {
         for (std::uint32_t e = 1; e < s.file.entries.size(); ++e) {
           if (s.nameOf(e) != "InstalledFiles") continue;
           const auto& record = s.checkedRecordOf(e);
           for (const auto& value : record.values) {
             const auto at = s.bytes.begin() + s.recordOf(e) + value.offset + kValueHeaderSize;
             if (std::string_view(reinterpret_cast<const char*>(&*at), value.nameLength) ==
                 "mfvxd.vxd") {
               const std::string other = "VMM32.VXD";
               std::copy(other.begin(), other.end(), at);
             }
           }
         }
       },
       "two values named \"VMM32.VXD\""},
      {"backslash in a name", Style::Packed, false,
       [](Sample& s) { s.bytes[s.recordOf(1) + kRecordHeaderSize] = '\\'; }, "holds a \\"},
      {"empty name", Style::Packed, false,
       [](Sample& s) { put16(s.bytes, s.recordOf(s.withoutValues()) + kRecordNameLength, 0); },
       "a key without a name"},
  };
  return files;
}

TEST(CregCheck, EachBadFileIsRefusedWithTheFileOffsetAndCause) {
  for (const BadFile& bad : badFiles()) {
    SCOPED_TRACE(bad.what);
    Sample sample(bad.style, bad.checksums);
    ASSERT_GT(sample.file.blocks.size(), 1u);
    const Bytes good = sample.bytes;
    bad.spoil(sample);
    ASSERT_NE(sample.bytes, good) << "the spoiling changed nothing";
    const Bytes spoiled = sample.bytes;
    auto loaded = loadFile(sample.bytes, "SYSTEM.DAT");
    ASSERT_FALSE(loaded) << "accepted";
    EXPECT_EQ(loaded.error().rfind("SYSTEM.DAT: offset 0x", 0), 0u) << loaded.error();
    EXPECT_NE(loaded.error().find(bad.message), std::string::npos) << loaded.error();
    EXPECT_EQ(sample.bytes, spoiled);
  }
}

// Offsets point at the field that is wrong.
TEST(CregCheck, TheOffsetIsThatOfTheWrongField) {
  Sample sample(Style::Packed, false);
  const std::size_t field = sample.file.blocks[1].start + kBlockIndex;
  put16(sample.bytes, field, 9);
  auto checked = checkFile(sample.bytes, "C:\\WINDOWS\\SYSTEM.DAT");
  ASSERT_FALSE(checked);
  char expected[64];
  std::snprintf(expected, sizeof expected, "C:\\WINDOWS\\SYSTEM.DAT: offset 0x%zX: ", field);
  EXPECT_EQ(checked.error().rfind(expected, 0), 0u) << checked.error();
}

// A chain of `depth` keys under HKLM\Software, in a file of its own.
Bytes chainFile(std::size_t depth) {
  RegistryTree tree;
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  KeyId key = tree.findOrAddSubkey(hklm, "Software");
  for (std::size_t i = 1; i < depth; ++i) {
    // Built in steps: GCC 12 at -O3 warns wrongly about overlapping copies
    // inside a concatenation with a literal (GCC bug 105329).
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'K');
    key = tree.findOrAddSubkey(key, name);
  }
  tree.setValue(key, "Deepest", REG_SZ, std::string_view("1", 2));
  creg_gen::Options options;
  options.checksums = false;
  auto file = creg_gen::generate(tree, hklm, options);
  EXPECT_TRUE(file) << file.error();
  return file ? std::move(file).value() : Bytes();
}

// Keys may lie 512 levels below the root and no deeper; the deepest key is
// the one the message names.
TEST(CregCheck, KeysDeeperThan512LevelsAreRefused) {
  const Bytes deepest = chainFile(512);
  auto loaded = loadFile(deepest, "SYSTEM.DAT");
  ASSERT_TRUE(loaded) << loaded.error();
  EXPECT_EQ(loaded.value().checked.entries.size(), 513u);

  const Bytes tooDeep = chainFile(513);
  auto checked = checkFile(tooDeep, "SYSTEM.DAT");
  ASSERT_FALSE(checked);
  EXPECT_EQ(checked.error().rfind("SYSTEM.DAT: offset 0x", 0), 0u) << checked.error();
  EXPECT_NE(checked.error().find("lies 513 levels below the root, deeper than the 512"),
            std::string::npos)
      << checked.error();
  // The offset is that of the 513th key's entry, the only key without subkeys.
  for (std::uint32_t at = kRgknHeaderSize; at + kEntrySize <= readU32(tooDeep, 0x24);
       at += kEntrySize) {
    const std::size_t entry = kRgknStart + at;
    if (readU32(tooDeep, entry + kEntryState) == kEntryInUse &&
        readU32(tooDeep, entry + kEntryChild) == kNoOffset &&
        readU16(tooDeep, entry + kEntryId) != kNoId) {
      char expected[48];
      std::snprintf(expected, sizeof expected, "SYSTEM.DAT: offset 0x%zX: ", entry);
      EXPECT_EQ(checked.error().rfind(expected, 0), 0u) << checked.error();
      break;
    }
  }
}

// A block whose one free record lies between live ones keeps its free
// records where they are: a removal marks the record free and moves nothing.
TEST(CregCheck, ABlockWithItsOnlyFreeRecordInTheMiddleIsNotPacked) {
  Sample s(Style::Packed, false);
  // A leaf whose record has a live record after it, in a block ending in a
  // free tail.
  std::uint32_t leaf = 0;
  for (std::uint32_t e = 1; e < s.file.entries.size() && leaf == 0; ++e) {
    const auto& entry = s.file.entries[e];
    const auto& records = s.file.blocks[entry.block].records;
    if (entry.children.empty() && entry.record + 2 < records.size() && !records.back().live &&
        records[records.size() - 2].live)
      leaf = e;
  }
  ASSERT_NE(leaf, 0u);
  const auto& entry = s.file.entries[leaf];
  const auto& block = s.file.blocks[entry.block];
  const auto& freed = block.records[entry.record];
  // The leaf leaves the tree; its slot joins the free list.
  const auto& siblings = s.file.entries[entry.parent].children;
  const auto at = std::find(siblings.begin(), siblings.end(), leaf);
  const std::uint32_t next = readU32(s.bytes, s.entry(leaf) + kEntryNext);
  if (at == siblings.begin())
    put32(s.bytes, s.entry(entry.parent) + kEntryChild, next);
  else
    put32(s.bytes, s.entry(*(at - 1)) + kEntryNext, next);
  put32(s.bytes, s.entry(leaf) + kEntryState, kEntryFree);
  put32(s.bytes, s.entry(leaf) + kEntryHash, kEntrySize);
  put32(s.bytes, s.entry(leaf) + kEntryNextFree, s.file.freeHead);
  put32(s.bytes, kRgknStart + kRgknFreeHead, s.file.entries[leaf].offset);
  // Its record becomes the block's only free record; the last live record
  // takes the old tail as slack.
  const std::size_t record = block.start + freed.offset;
  put16(s.bytes, record + kRecordId, kNoId);
  put16(s.bytes, record + kRecordBlock, kNoId);
  put32(s.bytes, record + kRecordUsed, kNoOffset);
  const auto& last = block.records[block.records.size() - 2];
  put32(s.bytes, block.start + last.offset + kRecordSize, last.size + block.records.back().size);
  put32(s.bytes, block.start + kBlockUnused, freed.size);
  put32(s.bytes, block.start + kBlockFreeOffset, freed.offset);
  const std::uint32_t b = entry.block;

  auto loaded = loadFile(s.bytes, "SYSTEM.DAT");
  ASSERT_TRUE(loaded) << loaded.error();
  auto& file = loaded.value();
  const CheckedBlock& before = file.checked.blocks[b];
  EXPECT_FALSE(before.packed);

  // A removal in that block leaves every record where it was.
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  KeyId removed = kNoKey;
  std::vector<KeyId> keys{hklm};
  while (!keys.empty() && removed == kNoKey) {
    const KeyId key = keys.back();
    keys.pop_back();
    const std::uint32_t e = file.map.entryOf(key);
    if (e != 0 && file.checked.entries[e].block == b && !file.tree.hasSubkeys(key)) removed = key;
    file.tree.forEachSubkey(key, [&](KeyId k) { keys.push_back(k); });
  }
  ASSERT_NE(removed, kNoKey);
  std::vector<TreeRemoval> log;
  file.tree.recordRemovals(&log);
  file.tree.removeSubkey(removed);
  file.tree.recordRemovals(nullptr);
  auto out = writeRemovals(s.bytes, file.checked, file.map, file.tree, hklm, log, "SYSTEM.DAT");
  ASSERT_TRUE(out) << out.error();
  auto after = checkFile(out.value(), "SYSTEM.DAT");
  ASSERT_TRUE(after) << after.error();
  const CheckedBlock& written = after.value().blocks[b];
  ASSERT_EQ(written.records.size(), before.records.size());
  for (std::size_t r = 0; r < written.records.size(); ++r)
    EXPECT_EQ(written.records[r].offset, before.records[r].offset) << "record " << r;
  EXPECT_FALSE(written.packed);
}

}  // namespace
