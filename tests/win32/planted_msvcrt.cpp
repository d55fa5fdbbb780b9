// A program that imports from msvcrt.dll, which retail Windows 95 lacks, for
// the test that the import check refuses it. It is never run.
#include <malloc.h>

int main() {
  void* block = _aligned_malloc(64, 16);
  _aligned_free(block);
  return 0;
}
