#include "platform/system/processor_check.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using processor_check::can_run;
using processor_check::Facts;
using processor_check::family_of;

// CPUID leaf 1 EAX of a processor: family, model and stepping in their fields.
constexpr std::uint32_t signature(unsigned family, unsigned model, unsigned stepping,
                                  unsigned extended_family = 0) {
  return (extended_family << 20) | (family << 8) | (model << 4) | stepping;
}

Facts with_cpuid(std::uint32_t leaf1_eax, std::uint32_t highest_leaf = 1) {
  return Facts{.alignment_flag_toggles = true,
               .cpuid_present = true,
               .highest_leaf = highest_leaf,
               .signature = leaf1_eax};
}

TEST(ProcessorCheck, FamilyFromTheSignature) {
  EXPECT_EQ(family_of(signature(4, 8, 0)), 4u);   // Intel 486DX4
  EXPECT_EQ(family_of(signature(5, 2, 12)), 5u);  // Pentium P54C
  EXPECT_EQ(family_of(signature(6, 1, 9)), 6u);   // Pentium Pro
  // Family 15 adds the extended family: an AMD Athlon 64 (0x0F) and a Zen 3 (0x19).
  EXPECT_EQ(family_of(signature(15, 4, 0)), 15u);
  EXPECT_EQ(family_of(signature(15, 1, 0, 10)), 25u);
  // The processor type and extended model bits do not count.
  EXPECT_EQ(family_of(0x00003000u | signature(5, 4, 3) | (3u << 16)), 5u);
}

TEST(ProcessorCheck, CpuidFamilyDecides) {
  EXPECT_TRUE(can_run(with_cpuid(signature(4, 8, 0))));       // Intel 486DX4
  EXPECT_TRUE(can_run(with_cpuid(signature(4, 14, 4))));      // AMD Am5x86
  EXPECT_TRUE(can_run(with_cpuid(signature(5, 1, 7))));       // Pentium 60/66
  EXPECT_TRUE(can_run(with_cpuid(signature(5, 4, 3))));       // Pentium MMX
  EXPECT_TRUE(can_run(with_cpuid(signature(5, 0, 1))));       // AMD K5
  EXPECT_TRUE(can_run(with_cpuid(signature(5, 2, 0))));       // Cyrix 6x86, CPUID switched on
  EXPECT_TRUE(can_run(with_cpuid(signature(6, 3, 3))));       // Pentium II
  EXPECT_TRUE(can_run(with_cpuid(signature(15, 1, 0, 10))));  // today's processors
  // A family below 4 is refused, whatever the flag test said.
  EXPECT_FALSE(can_run(with_cpuid(signature(3, 0, 0))));
  EXPECT_FALSE(can_run(with_cpuid(0)));
}

TEST(ProcessorCheck, CpuidWithoutLeafOneMeansA486) {
  // The ID flag exists from the later 486s on; a processor that answers only
  // leaf 0 is at least that.
  EXPECT_TRUE(can_run(with_cpuid(0, 0)));
  // With leaf 1, the signature is read and decides.
  EXPECT_FALSE(can_run(with_cpuid(0, 1)));
}

TEST(ProcessorCheck, WithoutCpuidTheAlignmentFlagDecides) {
  // An 80386: neither flag can change.
  EXPECT_FALSE(can_run(Facts{}));
  // An early 486, or a Cyrix 6x86 with CPUID switched off: the alignment-check
  // flag changes, the ID flag does not; a signature left over is ignored.
  EXPECT_TRUE(can_run(Facts{.alignment_flag_toggles = true}));
  EXPECT_TRUE(can_run(Facts{.alignment_flag_toggles = true, .signature = signature(3, 0, 0)}));
  EXPECT_FALSE(can_run(Facts{.signature = signature(6, 1, 9)}));
}

}  // namespace
