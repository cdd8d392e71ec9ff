#include <cstdio>

int main() {
  fprintf(stderr, "tarnwick: terminal front end not built yet\n");
  return 1;
}
