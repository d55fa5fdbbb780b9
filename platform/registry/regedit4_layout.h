// How a REGEDIT4 file laid out its roots, which the key tree does not know:
// the order in which the file first named them, which had sections of their
// own, and the size of its text. The reader notes it and the writer follows
// it, so that a file comes back as it was read.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "platform/registry/registry_tree.h"

struct Regedit4Layout {
  // The roots in the order in which the file first named them (in a section
  // of their own or above a key). The writer writes these first, then every
  // other root that holds keys or values, in RootKey order.
  std::vector<RootKey> order;
  // The roots that had a section of their own; any root holding values gets
  // one too.
  std::array<bool, kRootKeyCount> listed{};
  // The size of the text read: about what it takes when written again, so
  // that the writer can make room for it at once.
  std::size_t textSize = 0;

  void noteMentioned(RootKey root) {
    if (std::find(order.begin(), order.end(), root) == order.end()) order.push_back(root);
  }
  void noteListed(RootKey root) {
    noteMentioned(root);
    listed[static_cast<std::size_t>(root)] = true;
  }
  bool isListed(RootKey root) const { return listed[static_cast<std::size_t>(root)]; }
};
