// Reading a REGEDIT4 text for the reader's tests: the outcome of a read as
// one text to compare, and a text handed out a block at a time, in turn or
// from anywhere.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

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

// Hands out the bytes of `text` from any offset, at most `block` at a time,
// from any thread; fails with `failure` for a block that would reach
// `fail_at`, when that is set. Each read from a thread other than the
// caller's is counted in `elsewhere`.
inline ReadAt readAtOf(const std::string& text, std::size_t block,
                       std::size_t fail_at = std::string::npos, std::string failure = "",
                       std::atomic<int>* elsewhere = nullptr) {
  const std::thread::id caller = std::this_thread::get_id();
  return [&text, block, fail_at, failure, elsewhere, caller](
             std::uint64_t offset, char* into, std::size_t room) -> Result<std::size_t> {
    if (elsewhere != nullptr && std::this_thread::get_id() != caller) ++*elsewhere;
    if (offset >= fail_at) return Error{failure};
    if (offset >= text.size()) return std::size_t{0};
    std::size_t n = std::min({room, block, text.size() - static_cast<std::size_t>(offset)});
    if (fail_at != std::string::npos) n = std::min(n, fail_at - static_cast<std::size_t>(offset));
    std::memcpy(into, text.data() + offset, n);
    return n;
  };
}
