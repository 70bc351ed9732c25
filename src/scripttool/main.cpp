// vandrel-script: compile, run and inspect script files for engine authors.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "vandrel-script: not yet available\n");
  return 2;
}
