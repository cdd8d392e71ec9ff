#include "trace_capture.h"

#include <algorithm>
#include <mutex>

#include "platform/trace.h"

namespace {
std::mutex g_mu;
std::vector<std::string> g_lines;
void Hook(const char* text) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_lines.emplace_back(text);
}
}  // namespace

TraceCapture::TraceCapture() {
  Clear();
  SetTraceHook(&Hook);
}
TraceCapture::~TraceCapture() { SetTraceHook(nullptr); }

std::vector<std::string> TraceCapture::lines() const {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_lines;
}
bool TraceCapture::Has(const std::string& text) const { return Count(text) > 0; }
int TraceCapture::Count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(g_mu);
  return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}
bool TraceCapture::Contains(const std::string& part) const {
  std::lock_guard<std::mutex> lock(g_mu);
  for (const auto& l : g_lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}
void TraceCapture::Clear() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_lines.clear();
}
