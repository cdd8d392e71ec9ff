#include "scripted_expander.h"

#include <algorithm>

void ScriptedExpander::Reply(const std::string& bytes, int64_t delayMs) {
  std::lock_guard<std::mutex> lock(mu_);
  int64_t at = clock_.NowMs() + delayMs;
  // Arrivals stay in time order whatever order they were queued in.
  for (unsigned char c : bytes) {
    Arrival a{at, c};
    auto pos = std::upper_bound(inbox_.begin(), inbox_.end(), a,
                                [](const Arrival& x, const Arrival& y) { return x.ms < y.ms; });
    inbox_.insert(pos, a);
  }
}

std::vector<ScriptedExpander::WriteRecord> ScriptedExpander::writes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return writes_;
}

std::string ScriptedExpander::written() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string all;
  for (const auto& w : writes_) all += w.bytes;
  return all;
}

void ScriptedExpander::ClearWrites() {
  std::lock_guard<std::mutex> lock(mu_);
  writes_.clear();
}

size_t ScriptedExpander::pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return inbox_.size();
}

bool ScriptedExpander::Open(const PortAddress& where, bool) {
  ++opens_;
  lastPort_ = where.comport;
  lost_ = false;
  open_ = openOk_;
  return open_;
}

bool ScriptedExpander::Read(uint8_t* buf, uint32_t count, uint32_t* read) {
  *read = 0;
  if (!open_ || readFails_ || lost_) return false;
  std::lock_guard<std::mutex> lock(mu_);
  int64_t now = clock_.NowMs();
  while (*read < count && !inbox_.empty() && inbox_.front().ms <= now) {
    buf[(*read)++] = inbox_.front().byte;
    inbox_.pop_front();
  }
  return true;
}

bool ScriptedExpander::Write(const uint8_t* buf, uint32_t count, uint32_t* written) {
  *written = 0;
  if (!open_ || writeFails_ || lost_) return false;
  std::string bytes(reinterpret_cast<const char*>(buf), count);
  {
    std::lock_guard<std::mutex> lock(mu_);
    writes_.push_back({clock_.NowMs(), bytes});
  }
  *written = count;
  if (responder_) responder_(*this, bytes);
  return true;
}

void ScriptedExpander::Purge() {
  std::lock_guard<std::mutex> lock(mu_);
  ++purges_;
  // Only what has arrived is discarded; later replies are still on their way.
  int64_t now = clock_.NowMs();
  while (!inbox_.empty() && inbox_.front().ms <= now) inbox_.pop_front();
}

bool ScriptedExpander::WaitInput(uint32_t ms) {
  int64_t now = clock_.NowMs();
  int64_t next = -1;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!inbox_.empty()) next = inbox_.front().ms;
  }
  if (next >= 0 && next <= now) return true;
  if (next >= 0 && next <= now + ms) {
    clock_.AdvanceMs(next - now);
    return true;
  }
  clock_.AdvanceMs(ms);
  return false;
}
