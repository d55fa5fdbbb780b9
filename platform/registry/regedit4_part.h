// One part of a REGEDIT4 text read into a tree of its own, so that a large
// text can be read in parts on two threads (regedit4_parts.cpp), and what is
// wrong with a text or with a part of one.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/regedit4_parser.h"

namespace regedit4 {

// What is wrong with a text, or with a part of one, each item taking
// precedence over those after it.
struct Failure {
  std::optional<std::string> readError;
  bool tooLarge = false;    // Past 4 GB.
  std::size_t nulLine = 0;  // The line of the first NUL byte, or 0.
  std::size_t line = 0;     // The first line in error, and what is wrong with it.
  std::string problem;
};

// The error to report for `failure` in the text named `source`.
Error describe(const Failure& failure, std::string_view source);

class Part final {
 public:
  // The first part starts with the REGEDIT4 line and makes room for the tree
  // of a text of about `expected_size` bytes. A later part starts at a [key]
  // line where no line before it goes on, and counts its lines from its
  // start. `read` hands out the part's bytes and must outlive it.
  enum class Place { First, Later };
  Part(const ReadBlock& read, std::size_t expected_size, std::string_view source, Place place);
  ~Part();
  Part(const Part&) = delete;
  Part& operator=(const Part&) = delete;

  // Reads the part into tree(): false when something is wrong with it,
  // which failure() then says.
  bool read();
  RegistryTree& tree();
  const Failure& failure() const;
  // The bytes of the part read.
  std::size_t total() const;
  // The part's lines, once it is read, or once a line in error is found and
  // no NUL byte stopped the count.
  std::size_t lines() const;

 private:
  struct Reader;
  std::unique_ptr<Reader> m_reader;
};

}  // namespace regedit4
