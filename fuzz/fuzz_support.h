// Shared by the fuzz harnesses: a silent trace and a property check that
// stops the run the way a sanitizer finding does, so libFuzzer keeps the
// input that broke it.
#pragma once
#include <cstdio>
#include <cstdlib>

#include "platform/trace.h"

namespace fuzz {

inline void DropTrace(const char*) {}

// The trace of millions of runs would only slow the fuzzer down.
inline bool QuietTrace() {
  SetTraceHook(&DropTrace);
  return true;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  fflush(stderr);
  abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(cond)                                   \
  do {                                                     \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond);  \
  } while (0)
