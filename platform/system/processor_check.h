// Whether the processor can run uinq76.exe, decided from what the Windows
// start-up code reads of it before the C runtime starts. The program and its
// runtime libraries are compiled for the 80486 (they use BSWAP, XADD and
// CMPXCHG); Windows 95 itself also runs on an 80386, which lacks them.
//
// Header only, with no dependencies: the start-up code is compiled for the
// 80386 and must not call into code compiled for anything newer.
#pragma once

#include <cstdint>

namespace processor_check {

// What the start-up code measured.
struct Facts {
  // The alignment-check flag (EFLAGS bit 18) can be changed: an 80486 or newer.
  // An 80386 keeps it at 0.
  bool alignment_flag_toggles = false;
  // The ID flag (EFLAGS bit 21) can be changed, so CPUID is present.
  bool cpuid_present = false;
  // CPUID leaf 0, EAX: the highest leaf the processor answers.
  std::uint32_t highest_leaf = 0;
  // CPUID leaf 1, EAX (stepping, model, family), when the processor has leaf 1.
  std::uint32_t signature = 0;
};

// The family CPUID reports: bits 8-11, plus the extended family (bits 20-27)
// when those read 15.
constexpr unsigned family_of(std::uint32_t signature) {
  const unsigned family = (signature >> 8) & 0xF;
  return family == 0xF ? family + ((signature >> 20) & 0xFF) : family;
}

// Where CPUID reports a family, the family decides: 4 is the 80486 (and the
// processors that implement its instructions). The ID flag came with the later
// 486s, so CPUID without leaf 1 still means a 486 or newer. A processor without
// CPUID is an 80486 when it can change the alignment-check flag (every 486, and
// the Cyrix parts with CPUID switched off), else an 80386.
constexpr bool can_run(const Facts& facts) {
  if (facts.cpuid_present) {
    return facts.highest_leaf < 1 || family_of(facts.signature) >= 4;
  }
  return facts.alignment_flag_toggles;
}

}  // namespace processor_check
