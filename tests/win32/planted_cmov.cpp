// A program with one CMOV, for the test that the instruction check finds it.
// It is never run.
int planted_cmov(int a, int b) {
  int result = a;
  asm("cmpl %2, %1\n\tcmovl %2, %0" : "+r"(result) : "r"(a), "r"(b) : "cc");
  return result;
}

int main(int argc, char**) { return planted_cmov(argc, 2); }
