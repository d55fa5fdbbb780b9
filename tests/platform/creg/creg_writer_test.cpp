// The deletion-only writer: after removals the file keeps its size, passes the
// strict check again, holds exactly the tree minus what was removed, and
// leaves every block it had no reason to touch byte for byte as it was.
#include "platform/creg/creg_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/creg/creg_layout.h"
#include "tests/platform/creg/creg_samples.h"

namespace {

using creg_gen::Style;
const KeyId kHklm = RegistryTree::rootKey(RootKey::LocalMachine);

KeyId findPath(const RegistryTree& tree, std::string_view path) {
  KeyId key = kHklm;
  while (!path.empty() && key != kNoKey) {
    const std::size_t cut = path.find('\\');
    key = tree.findSubkey(key, path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return key;
}

void removeSubtree(RegistryTree& tree, KeyId key) {
  std::vector<KeyId> children;
  tree.forEachSubkey(key, [&](KeyId child) { children.push_back(child); });
  for (KeyId child : children) removeSubtree(tree, child);
  tree.removeSubkey(key);
}

// What the uninstall removes from the sample, with names in other letter
// cases than the file's; the same on any tree holding the sample.
void removeProduct(RegistryTree& tree) {
  for (const char* path :
       {"ENUM\\root\\opt0930media", "Config\\0001\\Enum\\ROOT\\OPT0930MEDIA",
        "Config\\0002\\Enum\\ROOT\\OPT0930MEDIA", "config\\0003\\enum\\root\\opt0930media",
        "System\\CurrentControlSet\\Services\\Class\\OPT0930MEDIA", "SOFTWARE\\KIVRA",
        "Software\\CAF\xc9 SOFT"}) {
    const KeyId key = findPath(tree, path);
    ASSERT_NE(key, kNoKey) << path;
    removeSubtree(tree, key);
  }
  const KeyId files = findPath(tree, "System\\CurrentControlSet\\control\\InstalledFiles");
  ASSERT_NE(files, kNoKey);
  EXPECT_TRUE(tree.removeValue(files, "SND930P.DRV"));
  EXPECT_TRUE(tree.removeValue(files, ""));
  EXPECT_TRUE(tree.removeValue(files, "snd930p.vxd"));
}

// The blocks holding a record of a key in `entries` (and their subkeys).
std::set<std::uint32_t> blocksOf(const creg::CheckedFile& file, std::set<std::uint32_t> entries) {
  std::set<std::uint32_t> blocks;
  for (std::uint32_t e = 1; e < file.entries.size(); ++e) {
    if (entries.count(file.entries[e].parent) != 0) entries.insert(e);
    if (entries.count(e) != 0) blocks.insert(file.entries[e].block);
  }
  return blocks;
}

struct Case {
  Style style;
  bool checksums;
  std::uint32_t blockSize;
};

class WriterTest : public ::testing::TestWithParam<Case> {};

TEST_P(WriterTest, RemovalsKeepEveryInvariantAndTouchNothingElse) {
  const Case c = GetParam();
  // Enough neighbours for blocks that hold none of the product.
  constexpr int kNeighbours = 150;
  const auto bytes = creg_samples::sampleFile(c.style, c.checksums, c.blockSize, kNeighbours);
  auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
  ASSERT_TRUE(loaded) << loaded.error();
  auto& file = loaded.value();
  if (c.blockSize == 0x1000) {
    ASSERT_GE(file.checked.blocks.size(), 3u);
  }

  std::vector<TreeRemoval> log;
  file.tree.recordRemovals(&log);
  removeProduct(file.tree);
  file.tree.recordRemovals(nullptr);
  std::set<std::uint32_t> changedEntries;
  std::size_t removedKeys = 0;
  for (const auto& removal : log) {
    changedEntries.insert(file.map.entryOf(removal.key));
    if (removal.value == kNoValueRecord) ++removedKeys;
  }
  const auto touched = blocksOf(file.checked, changedEntries);

  auto out =
      creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
  ASSERT_TRUE(out) << out.error();
  const auto& changed = out.value();
  ASSERT_EQ(changed.size(), bytes.size());
  auto reread = creg::loadFile(changed, "SYSTEM.DAT");
  ASSERT_TRUE(reread) << reread.error();

  // Exactly the sample minus the product, read from the text again.
  auto expected = creg_samples::sampleStore(kNeighbours);
  removeProduct(expected->tree());
  EXPECT_TRUE(creg::compareTrees(reread.value().tree, kHklm, expected->tree(), kHklm, "HKLM"));
  EXPECT_FALSE(reread.value().tree.findSubkey(kHklm, "Software") == kNoKey);

  // The header and the blocks without a removed record are as they were; the
  // product shared its blocks with neighbours, which stay.
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + creg::kFileHeaderSize, changed.begin()));
  std::size_t untouched = 0;
  bool shared = false;
  for (std::uint32_t b = 0; b < file.checked.blocks.size(); ++b) {
    const auto& block = file.checked.blocks[b];
    const auto& after = reread.value().checked.blocks[b];
    EXPECT_EQ(after.flags, block.flags);
    if (touched.count(b) != 0) {
      EXPECT_EQ(after.packed, block.packed) << "block " << b << " changed its style";
      shared = shared || std::any_of(after.records.begin(), after.records.end(),
                                     [](const auto& r) { return r.live; });
      continue;
    }
    ++untouched;
    EXPECT_TRUE(std::equal(bytes.begin() + block.start, bytes.begin() + block.start + block.size,
                           changed.begin() + block.start))
        << "block " << b;
  }
  if (c.blockSize == 0x1000) {
    EXPECT_GT(untouched, 0u);
  }
  EXPECT_TRUE(shared);
  // Every removed key's slot is free now.
  EXPECT_EQ(reread.value().checked.entries.size() + removedKeys, file.checked.entries.size());

  // A second run on the changed file removes more and keeps it sound.
  auto& again = reread.value();
  std::vector<TreeRemoval> more;
  again.tree.recordRemovals(&more);
  removeSubtree(again.tree, findPath(again.tree, "Software\\Northwind 3"));
  removeSubtree(again.tree, findPath(again.tree, "Config\\0002"));
  EXPECT_TRUE(
      again.tree.removeValue(findPath(again.tree, "Enum\\ROOT\\*PNP0C01\\0000"), "DeviceDesc"));
  again.tree.recordRemovals(nullptr);
  auto second =
      creg::writeRemovals(changed, again.checked, again.map, again.tree, kHklm, more, "SYSTEM.DAT");
  ASSERT_TRUE(second) << second.error();
  EXPECT_TRUE(creg::checkFile(second.value(), "SYSTEM.DAT"));
}

INSTANTIATE_TEST_SUITE_P(Styles, WriterTest,
                         ::testing::Values(Case{Style::Packed, true, 0x1000},
                                           Case{Style::Packed, false, 0x1000},
                                           Case{Style::FreeRecords, true, 0x1000},
                                           Case{Style::FreeRecords, false, 0x1000},
                                           Case{Style::Packed, true, 0xF000},
                                           Case{Style::FreeRecords, false, 0xF000}));

// How each style frees a record: a packed block moves its later records down
// and ends in one free tail; a block with free records marks the record free
// and links it, moving nothing.
TEST(WriterStyles, PackedBlocksCompactAndOthersLinkTheFreedRecord) {
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    const auto bytes = creg_samples::sampleFile(style, false, 0xF000);
    auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
    ASSERT_TRUE(loaded) << loaded.error();
    auto& file = loaded.value();
    ASSERT_EQ(file.checked.blocks.size(), 1u);
    std::vector<TreeRemoval> log;
    file.tree.recordRemovals(&log);
    removeSubtree(file.tree, findPath(file.tree, "Enum\\ROOT\\OPT0930MEDIA\\0000\\LogConfig"));
    const auto out =
        creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
    ASSERT_TRUE(out) << out.error();
    const auto after = creg::checkFile(out.value(), "SYSTEM.DAT");
    ASSERT_TRUE(after);
    const auto& before = file.checked.blocks[0];
    const auto& block = after.value().blocks[0];
    const auto& freed = before.records[file.checked.entries[file.map.entryOf(log[0].key)].record];
    EXPECT_EQ(block.unused, before.unused + freed.size);
    EXPECT_EQ(block.firstFreeId, std::min(before.firstFreeId, freed.id));
    if (style == Style::Packed) {
      ASSERT_TRUE(block.packed);
      EXPECT_EQ(block.freeOffset, block.size - block.unused);
      EXPECT_EQ(block.records.size(), before.records.size() - 1);
    } else {
      EXPECT_FALSE(block.packed);
      EXPECT_EQ(block.freeOffset, freed.offset);
      ASSERT_EQ(block.records.size(), before.records.size());
      for (std::size_t r = 0; r < block.records.size(); ++r)
        EXPECT_EQ(block.records[r].offset, before.records[r].offset);
      // The freed bytes behind the free record's header are zero.
      const auto start = out.value().begin() + block.start + freed.offset;
      EXPECT_TRUE(std::all_of(start + 12, start + freed.size, [](auto b) { return b == 0; }));
    }
  }
}

// A removed value leaves the others in place, byte for byte, in a record of
// the same size whose used count drops by exactly the value's bytes.
TEST(WriterValues, ARemovedValueIsShiftedOutOfItsRecord) {
  const auto bytes = creg_samples::sampleFile(Style::Packed, true, 0xF000);
  auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
  ASSERT_TRUE(loaded);
  auto& file = loaded.value();
  const KeyId key = findPath(file.tree, "System\\CurrentControlSet\\control\\InstalledFiles");
  const auto& entry = file.checked.entries[file.map.entryOf(key)];
  const auto& before = file.checked.blocks[entry.block].records[entry.record];
  std::vector<TreeRemoval> log;
  file.tree.recordRemovals(&log);
  ASSERT_TRUE(file.tree.removeValue(key, "snd930p.drv"));
  const auto out =
      creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
  ASSERT_TRUE(out) << out.error();
  const auto after = creg::checkFile(out.value(), "SYSTEM.DAT");
  ASSERT_TRUE(after);
  const auto& record = after.value().blocks[entry.block].records[entry.record];
  EXPECT_EQ(record.offset, before.offset);
  EXPECT_EQ(record.size, before.size);
  ASSERT_EQ(record.values.size(), before.values.size() - 1);
  EXPECT_EQ(record.used, before.used - before.values[1].size());
  const std::size_t start = after.value().blocks[entry.block].start + record.offset;
  EXPECT_TRUE(std::all_of(out.value().begin() + start + record.used,
                          out.value().begin() + start + before.used,
                          [](auto b) { return b == 0; }));
  // Everything after the record is as it was.
  EXPECT_TRUE(std::equal(bytes.begin() + start + before.size, bytes.end(),
                         out.value().begin() + start + before.size));
}

// Whatever the writer cannot express is refused: a changed value is no
// deletion. A key added after reading and removed again is passed over.
TEST(WriterRefusals, OnlyRemovalsCanBeWritten) {
  const auto bytes = creg_samples::sampleFile(Style::FreeRecords, false);
  auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
  ASSERT_TRUE(loaded);
  auto& file = loaded.value();
  std::vector<TreeRemoval> log;
  file.tree.recordRemovals(&log);
  const KeyId added = file.tree.findOrAddSubkey(kHklm, "Fresh");
  file.tree.removeSubkey(added);
  auto out =
      creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
  ASSERT_TRUE(out) << out.error();
  EXPECT_EQ(out.value(), bytes);

  file.tree.setValue(findPath(file.tree, "Software\\Kivra\\Q76 Audio"), "Version", REG_SZ,
                     std::string_view("5\0", 2));
  out = creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
  ASSERT_FALSE(out);
  EXPECT_NE(out.error().find("would not hold what remains"), std::string::npos) << out.error();
  EXPECT_NE(out.error().find("Q76 Audio"), std::string::npos) << out.error();
}

// Every key removed: every block holds only free space, RGKN only free slots
// but the root, and the file still passes.
TEST(WriterRefusals, EmptyingTheWholeFileKeepsItSound) {
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    const auto bytes = creg_samples::sampleFile(style, true);
    auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
    ASSERT_TRUE(loaded);
    auto& file = loaded.value();
    std::vector<TreeRemoval> log;
    file.tree.recordRemovals(&log);
    std::vector<KeyId> top;
    file.tree.forEachSubkey(kHklm, [&](KeyId k) { top.push_back(k); });
    for (KeyId k : top) removeSubtree(file.tree, k);
    const auto out =
        creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
    ASSERT_TRUE(out) << out.error();
    const auto after = creg::checkFile(out.value(), "SYSTEM.DAT");
    ASSERT_TRUE(after) << after.error();
    EXPECT_EQ(after.value().entries.size(), 1u);
    for (const auto& block : after.value().blocks)
      EXPECT_EQ(block.unused, block.size - creg::kBlockHeaderSize);
  }
}

// The key read from `entry`, found by walking the tree.
KeyId keyOfEntry(const creg::LoadedFile& file, std::uint32_t entry) {
  std::vector<KeyId> keys{kHklm};
  while (!keys.empty()) {
    const KeyId key = keys.back();
    keys.pop_back();
    if (file.map.entryOf(key) == entry) return key;
    file.tree.forEachSubkey(key, [&](KeyId k) { keys.push_back(k); });
  }
  return kNoKey;
}

std::uint16_t maxIdOf(const std::vector<std::uint8_t>& bytes, const creg::CheckedBlock& block) {
  return creg::readU16(bytes, block.start + creg::kBlockMaxId);
}

// The highest id drops to that of the highest record left, whichever order
// the records lie in and are freed in; a block left without records keeps
// the highest id it had.
TEST(WriterIds, TheHighestIdFollowsTheRecordsLeft) {
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    for (const bool highestFirst : {true, false}) {
      SCOPED_TRACE(testing::Message() << (style == Style::Packed ? "packed" : "free records")
                                      << (highestFirst ? ", highest freed first" : ""));
      auto bytes = creg_samples::sampleFile(style, false, 0xF000);
      auto checked = creg::checkFile(bytes, "SYSTEM.DAT");
      ASSERT_TRUE(checked);
      // Two leaves, the later one in the block holding the highest id; their
      // ids are swapped so that the highest lies before a lower one.
      const auto& file = checked.value();
      const auto& block = file.blocks[0];
      std::vector<std::uint32_t> leaves;  // Entries, in the order of their records.
      for (std::uint32_t e = 1; e < file.entries.size(); ++e)
        if (file.entries[e].children.empty()) leaves.push_back(e);
      std::sort(leaves.begin(), leaves.end(),
                [&](auto x, auto y) { return file.entries[x].record < file.entries[y].record; });
      ASSERT_GE(leaves.size(), 3u);
      const std::uint32_t early = leaves[leaves.size() / 2], late = leaves.back();
      const auto& earlyRecord = block.records[file.entries[early].record];
      const auto& lateRecord = block.records[file.entries[late].record];
      ASSERT_EQ(lateRecord.id, block.maxId);
      ASSERT_LT(earlyRecord.id, lateRecord.id);
      creg::writeU16(bytes, block.start + earlyRecord.offset + creg::kRecordId, lateRecord.id);
      creg::writeU16(bytes, block.start + lateRecord.offset + creg::kRecordId, earlyRecord.id);
      creg::writeU16(bytes, creg::kRgknStart + file.entries[early].offset + creg::kEntryId,
                     lateRecord.id);
      creg::writeU16(bytes, creg::kRgknStart + file.entries[late].offset + creg::kEntryId,
                     earlyRecord.id);
      auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
      ASSERT_TRUE(loaded) << loaded.error();
      auto& sample = loaded.value();
      std::vector<TreeRemoval> log;
      sample.tree.recordRemovals(&log);
      for (const std::uint32_t e :
           highestFirst ? std::vector{early, late} : std::vector{late, early})
        sample.tree.removeSubkey(keyOfEntry(sample, e));
      sample.tree.recordRemovals(nullptr);
      auto out =
          creg::writeRemovals(bytes, sample.checked, sample.map, sample.tree, kHklm, log, "X");
      ASSERT_TRUE(out) << out.error();
      auto after = creg::checkFile(out.value(), "X");
      ASSERT_TRUE(after) << after.error();
      std::uint16_t highest = 0;
      for (const auto& r : after.value().blocks[0].records)
        if (r.live) highest = std::max(highest, r.id);
      EXPECT_EQ(maxIdOf(out.value(), after.value().blocks[0]), highest);
      EXPECT_LT(highest, block.maxId);
    }
  }
  // Every key removed: each block keeps its highest id.
  for (const Style style : {Style::Packed, Style::FreeRecords}) {
    const auto bytes = creg_samples::sampleFile(style, false);
    auto loaded = creg::loadFile(bytes, "SYSTEM.DAT");
    ASSERT_TRUE(loaded);
    auto& file = loaded.value();
    std::vector<TreeRemoval> log;
    file.tree.recordRemovals(&log);
    std::vector<KeyId> top;
    file.tree.forEachSubkey(kHklm, [&](KeyId k) { top.push_back(k); });
    for (KeyId k : top) removeSubtree(file.tree, k);
    const auto out =
        creg::writeRemovals(bytes, file.checked, file.map, file.tree, kHklm, log, "SYSTEM.DAT");
    ASSERT_TRUE(out) << out.error();
    for (const auto& block : file.checked.blocks)
      EXPECT_EQ(maxIdOf(out.value(), block), block.maxId) << "block at " << block.start;
  }
}

}  // namespace
