// Functions that the static C++ runtime and mingw-w64's C library ask for and
// that Windows 95 does not have: crtdll.dll, its C runtime, lacks rand_s and
// the POSIX names read and close; kernel32's IsDBCSLeadByteEx is documented
// only from Windows 2000 on, so the exe does not import it. The program itself
// calls none of them.
//
// std::random_device's sources pull in rand_s, read and close; the program
// makes no random_device, and if anything ever did, the first two fail as on a
// system without a random source (random_device then throws). mingw-w64's
// mbrtowc, used by its printf family, asks IsDBCSLeadByteEx whether a byte
// starts a double-byte character; the answer here comes from GetCPInfo's lead
// byte ranges, which Windows 95 has.
//
// The runtime libraries refer to rand_s and IsDBCSLeadByteEx through their
// import pointers (__imp_NAME), so those pointers are defined here too: the
// linker then takes them from this file instead of an import library.
#include <cerrno>

#include "platform/win32/windows.h"

namespace {

int __cdecl shim_rand_s(unsigned int* value) {
  if (value != nullptr) *value = 0;
  return EINVAL;
}

BOOL WINAPI shim_is_dbcs_lead_byte_ex(UINT code_page, BYTE byte) {
  CPINFO info;
  if (!GetCPInfo(code_page, &info)) return FALSE;
  // Pairs of first and last lead byte, ended by a pair of zeros.
  for (int i = 0; i + 1 < MAX_LEADBYTES && (info.LeadByte[i] != 0 || info.LeadByte[i + 1] != 0);
       i += 2) {
    if (byte >= info.LeadByte[i] && byte <= info.LeadByte[i + 1]) return TRUE;
  }
  return FALSE;
}

}  // namespace

extern "C" {

extern void* const shim_imp_rand_s asm("__imp__rand_s") = reinterpret_cast<void*>(&shim_rand_s);
extern void* const shim_imp_is_dbcs_lead_byte_ex asm("__imp__IsDBCSLeadByteEx@8") =
    reinterpret_cast<void*>(&shim_is_dbcs_lead_byte_ex);

// No file descriptor is ever open for these: they fail as for a closed one.
int __cdecl read(int /*fd*/, void* /*buffer*/, unsigned int /*size*/) {
  errno = EBADF;
  return -1;
}

int __cdecl close(int /*fd*/) {
  errno = EBADF;
  return -1;
}

}  // extern "C"
