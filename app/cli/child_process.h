// Another tarnwick-cli process: this program's own executable started with
// other arguments, its standard input and output on pipes, its standard
// error shared. child_process_posix.cpp and child_process_win32.cpp keep the
// contract.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();  // closes the pipes; a child still running is left to end by itself
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the child with `args` (without the program name). False with a
  // one-line `error` if it could not be started.
  bool Start(const std::vector<std::string>& args, std::string* error);
  // The next line of its output without the line end; blocks until one
  // comes. False once its output has ended.
  bool ReadLine(std::string* line);
  // Writes to its standard input; false if it has gone.
  bool Write(const std::string& text);
  // Closes its standard input: a child waiting for "go" ends without sending.
  void CloseInput();
  // Passes a stop request on. POSIX: SIGTERM (children run in a process
  // group of their own, so the terminal's Ctrl+C reaches only the parent).
  // Windows: nothing; every process of the console gets Ctrl+C itself.
  void Stop();
  // Waits for the end; its exit code, -1 if it did not exit by itself.
  int Wait();

 private:
  struct Impl;
  Impl* impl_;
  std::string pending_;  // output read past the last line returned
};
