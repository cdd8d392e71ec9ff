#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/cli/child_process.h"

extern char** environ;

struct ChildProcess::Impl {
  pid_t pid = -1;
  int in = -1;   // its standard input, our end
  int out = -1;  // its standard output, our end
};

ChildProcess::ChildProcess() : impl_(new Impl) {}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (impl_->out >= 0) close(impl_->out);
  delete impl_;
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string* error) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

  // The running executable itself, whatever name started it.
  std::vector<std::string> all = {"/proc/self/exe"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int rc = posix_spawn(&impl_->pid, "/proc/self/exe", &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    *error = std::string("cannot start a process: ") + strerror(rc);
    close(in[1]);
    close(out[0]);
    impl_->pid = -1;
    return false;
  }
  impl_->in = in[1];
  impl_->out = out[0];
  return true;
}

bool ChildProcess::ReadLine(std::string* line) {
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      *line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    char buf[4096];
    const ssize_t n = read(impl_->out, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (pending_.empty()) return false;
      *line = pending_;
      pending_.clear();
      return true;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool ChildProcess::Write(const std::string& text) {
  if (impl_->in < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(impl_->in, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::CloseInput() {
  if (impl_->in >= 0) close(impl_->in);
  impl_->in = -1;
}

void ChildProcess::Stop() {
  if (impl_->pid > 0) kill(impl_->pid, SIGTERM);
}

int ChildProcess::Wait() {
  if (impl_->pid <= 0) return -1;
  int status = 0;
  while (waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  impl_->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
