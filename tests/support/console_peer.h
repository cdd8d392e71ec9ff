// A peer for the scripted expander that understands the two kinds of traffic
// the program writes: console lines (one byte per write, ended by a write of
// three line feeds) and download-mode packet lines (base64 text in pieces of
// up to 12 characters, the last one ending in 0x7F). Tests answer each.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scripted_expander.h"

class ConsolePeer {
 public:
  using LineFn = std::function<void(ScriptedExpander& exp, const std::string& line)>;

  // A complete console line, without its line feeds.
  LineFn onLine;
  // One piece of a packet line that is not its last; default: reply "*".
  LineFn onSubpacket;
  // A complete packet line (base64 text without the 0x7F), after its last
  // piece; default: reply "*@0".
  LineFn onPacket;

  // Becomes the expander's responder (the peer must outlive its use).
  void Attach(ScriptedExpander& exp);

  // Every console line seen, in order.
  const std::vector<std::string>& lines() const { return lines_; }
  int CountLine(const std::string& line) const;

 private:
  void OnWrite(ScriptedExpander& exp, const std::string& bytes);
  std::string console_;
  std::string packet_;
  std::vector<std::string> lines_;
};

