#include "platform/registry/registry_arena.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Texts of every length from none to some dozens of bytes, kept one after
// another, come back byte for byte, and none of them spills over the next.
TEST(RegistryArena, KeptTextsOfEveryLengthComeBackWhole) {
  RegistryArena arena;
  std::vector<std::string> texts;
  std::vector<ArenaSpan> spans;
  for (std::size_t size = 0; size <= 40; ++size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<char>('a' + (size + i) % 26));
    texts.push_back(text);
    spans.push_back(arena.keep(text));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(arena.view(spans[i]), texts[i]) << "length " << i;
    if (i + 1 < spans.size()) {
      EXPECT_EQ(spans[i].offset + spans[i].size, spans[i + 1].offset);
    }
  }
}

}  // namespace
