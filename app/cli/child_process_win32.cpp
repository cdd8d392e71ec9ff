#include <windows.h>

#include "app/cli/child_process.h"
#include "platform/os_error.h"

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE in = nullptr;   // its standard input, our end
  HANDLE out = nullptr;  // its standard output, our end
};

namespace {

// One argument quoted so that the child's C runtime reads it back unchanged:
// backslashes are literal except before a quote.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') {
      out.append(slashes * 2 + 1, '\\');
    } else {
      out.append(slashes, '\\');
    }
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  out += '"';
  return out;
}

}  // namespace

ChildProcess::ChildProcess() : impl_(new Impl) {}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (impl_->out) CloseHandle(impl_->out);
  if (impl_->process) CloseHandle(impl_->process);
  delete impl_;
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string* error) {
  char exe[MAX_PATH];
  const DWORD len = GetModuleFileNameA(nullptr, exe, sizeof exe);
  if (len == 0 || len >= sizeof exe) {
    *error = "cannot find this program's own path";
    return false;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) {
    *error = "CreatePipe: " + OsErrorText(GetLastError());
    return false;
  }
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
    *error = "CreatePipe: " + OsErrorText(GetLastError());
    CloseHandle(inRead);
    CloseHandle(inWrite);
    return false;
  }
  // Our ends stay ours: a child that inherited them would keep the pipes open.
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

  std::string cmdline = Quote(exe);
  for (const std::string& a : args) cmdline += " " + Quote(a);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inRead;
  si.hStdOutput = outWrite;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessA(exe, &cmdline[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &si, &pi);
  const DWORD err = GetLastError();
  CloseHandle(inRead);
  CloseHandle(outWrite);
  if (!ok) {
    *error = "cannot start a process: " + OsErrorText(err);
    CloseHandle(inWrite);
    CloseHandle(outRead);
    return false;
  }
  CloseHandle(pi.hThread);
  impl_->process = pi.hProcess;
  impl_->in = inWrite;
  impl_->out = outRead;
  return true;
}

bool ChildProcess::ReadLine(std::string* line) {
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      *line = pending_.substr(0, end);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      pending_.erase(0, end + 1);
      return true;
    }
    char buf[4096];
    DWORD n = 0;
    if (!ReadFile(impl_->out, buf, sizeof buf, &n, nullptr) || n == 0) {
      if (pending_.empty()) return false;
      *line = pending_;
      pending_.clear();
      return true;
    }
    pending_.append(buf, n);
  }
}

bool ChildProcess::Write(const std::string& text) {
  if (!impl_->in) return false;
  DWORD n = 0;
  return WriteFile(impl_->in, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) &&
         n == text.size();
}

void ChildProcess::CloseInput() {
  if (impl_->in) CloseHandle(impl_->in);
  impl_->in = nullptr;
}

void ChildProcess::Stop() {}

int ChildProcess::Wait() {
  if (!impl_->process) return -1;
  WaitForSingleObject(impl_->process, INFINITE);
  DWORD code = 0;
  const bool ok = GetExitCodeProcess(impl_->process, &code) != 0;
  CloseHandle(impl_->process);
  impl_->process = nullptr;
  return ok ? static_cast<int>(code) : -1;
}
