// Captures the debug trace for the lifetime of the object.
#pragma once
#include <string>
#include <vector>

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  // Every trace text, in order.
  std::vector<std::string> lines() const;
  // True if some trace text equals `text` exactly.
  bool Has(const std::string& text) const;
  // Number of trace texts equal to `text`.
  int Count(const std::string& text) const;
  // True if some trace text contains `part`.
  bool Contains(const std::string& part) const;
  void Clear();
};
