// A call with no bound of its own (a name lookup waits as long as the name
// server lets it), made on a thread of its own so that the caller can stop
// waiting for it at a deadline.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

enum class BoundedCall { kDone, kTimedOut, kNoThread };

// Runs `work` on a new detached thread and waits at most `ms` for its result.
// kDone: *out holds the result. kTimedOut: the thread goes on alone and hands
// its result, once it has one, to `discard` (which frees what it holds).
// kNoThread: no thread could be started, and `work` never ran.
template <typename T>
BoundedCall CallWithin(uint32_t ms, std::function<T()> work, std::function<void(T)> discard,
                       T* out) {
  struct Shared {
    std::mutex m;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    T result{};
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work, discard] {
      T result = work();
      std::lock_guard<std::mutex> lock(shared->m);
      if (shared->abandoned) {
        discard(result);
        return;
      }
      shared->result = result;
      shared->finished = true;
      shared->done.notify_all();
    }).detach();
  } catch (const std::exception&) {
    return BoundedCall::kNoThread;
  }
  std::unique_lock<std::mutex> lock(shared->m);
  if (!shared->done.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return shared->finished; })) {
    shared->abandoned = true;
    return BoundedCall::kTimedOut;
  }
  *out = shared->result;
  return BoundedCall::kDone;
}
