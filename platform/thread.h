// Detached threads: started, never joined, ending by themselves.
#pragma once
#include <cstdint>

// A thread routine: receives its parameter and returns the thread's exit code.
using ThreadRoutine = uint32_t (*)(uint32_t param);

// Runs routine(param) on a new thread with the platform's default stack size.
// The thread's handle is released at once; nothing waits for the thread.
// False if the thread could not be created (routine is then never called).
bool StartDetachedThread(ThreadRoutine routine, uint32_t param);

// The platform's thread creation (thread_win32.cpp / thread_posix.cpp).
bool PlatformStartDetachedThread(ThreadRoutine routine, uint32_t param);

// Replaces thread creation, e.g. so that a test can make it fail or run the
// routine inline; nullptr restores the platform's.
using ThreadStarter = bool (*)(ThreadRoutine routine, uint32_t param);
void SetThreadStarter(ThreadStarter starter);
