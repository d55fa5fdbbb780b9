// The first code of uinq76.exe, before the C runtime's start-up: the program
// and its runtime libraries are compiled for the 80486, and Windows 95 also
// runs on an 80386, where the first 486 instruction would end the program with
// an invalid-opcode fault. This file is compiled for the 80386 and calls
// nothing but user32 and kernel32 until the processor has been checked.
#include "platform/system/processor_check.h"
#include "platform/win32/windows.h"

extern "C" {
// mingw-w64's start-up for a GUI program (crt2.o): it starts the C runtime and
// calls WinMain, and never returns.
int WinMainCRTStartup();
// The linker's entry point (-e _uinq_start).
int uinq_start();
}

namespace {

// Whether the EFLAGS bit can be changed; the flags are restored afterwards.
// Setting the alignment-check flag is safe: nothing between the two POPFs
// touches memory unaligned.
bool eflags_bit_toggles(unsigned long bit) {
  unsigned long original = 0;
  unsigned long changed = 0;
  asm volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl"
      : "=&r"(original), "=&r"(changed)
      : "ir"(bit)
      : "cc");
  return ((original ^ changed) & bit) != 0;
}

processor_check::Facts read_processor() {
  processor_check::Facts facts;
  facts.alignment_flag_toggles = eflags_bit_toggles(1ul << 18);
  facts.cpuid_present = eflags_bit_toggles(1ul << 21);
  if (facts.cpuid_present) {
    unsigned long eax = 0, ebx, ecx, edx;
    asm volatile("cpuid" : "+a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx));
    facts.highest_leaf = eax;
    if (facts.highest_leaf >= 1) {
      eax = 1;
      asm volatile("cpuid" : "+a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx));
      facts.signature = eax;
    }
  }
  return facts;
}

}  // namespace

// Windows calls the entry point with a stack aligned to 4 bytes only.
__attribute__((force_align_arg_pointer)) int uinq_start() {
  if (processor_check::can_run(read_processor())) return WinMainCRTStartup();
  // The caption is the program's own (IDS_CAPTION); the string table is not
  // read here, so that this path stays as small as possible.
  MessageBoxA(nullptr,
              "This program needs an 80486 processor or newer, "
              "and this computer has an older one.",
              "Kivra Q76 Uninstallation", MB_OK | MB_ICONSTOP);
  ExitProcess(1);
}
