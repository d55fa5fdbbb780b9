// Reading a REGEDIT4 text for the reader's tests: the outcome of a read as
// one text to compare, and a text handed out a block at a time.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"

// The tree as text, or the error, for comparing two reads.
inline std::string outcome(const Result<RegistryTree>& tree) {
  return tree ? "tree:\n" + writeRegedit4(tree.value()) : "error: " + tree.error();
}

// Hands out `text` in blocks of at most `block` bytes; fails with `failure`
// instead of handing out the bytes from `fail_at` on, when that is set.
inline ReadBlock blocksOf(const std::string& text, std::size_t block, std::size_t& at,
                          std::size_t fail_at = std::string::npos, std::string failure = "") {
  return
      [&text, block, &at, fail_at, failure](char* into, std::size_t room) -> Result<std::size_t> {
        if (at >= fail_at) return Error{failure};
        std::size_t n = std::min({room, block, text.size() - at});
        if (fail_at != std::string::npos) n = std::min(n, fail_at - at);
        std::memcpy(into, text.data() + at, n);
        at += n;
        return n;
      };
}
