// Holds off a shutdown, a logoff and sleep for as long as the object lives,
// where the system lets a program do so; what cannot be held (no session
// manager reachable, a forced shutdown) is traced once and the download goes on.
#pragma once
#include <memory>
#include <string>

class ShutdownHold {
 public:
  // `why` is shown to the user by the system where it shows one: it names the
  // port(s) and says not to power off.
  explicit ShutdownHold(const std::string& why);
  ~ShutdownHold();
  ShutdownHold(const ShutdownHold&) = delete;
  ShutdownHold& operator=(const ShutdownHold&) = delete;
  // True when the system granted the hold.
  bool held() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
