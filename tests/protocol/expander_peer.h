// The download side of an expander for protocol tests: it collects the packet
// lines written in sub-packets, decodes them with the test side's base64 decoder,
// acknowledges every sub-packet with "*" and answers every completed data line
// with a status reply. Tests override the two decisions.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "download/download.h"
#include "platform/report.h"
#include "protocol/transfer.h"
#include "support/base64.h"
#include "support/recording_report.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

struct WireLine {
  std::vector<std::string> pieces;  // one per write
  std::vector<uint8_t> bytes;       // the decoded packet
  int64_t startMs = 0;              // virtual time of the first piece
  uint32_t creditedAtStart = 0;     // g_dwBytesSent when the first piece went out

  std::string text() const {
    std::string all;
    for (const auto& p : pieces) all += p;
    return all;
  }
  bool recovery() const { return bytes.size() == 10 && bytes[0] == 0x00 && bytes[7] == 0x02; }
  bool terminating() const {
    return bytes == std::vector<uint8_t>{0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCC};
  }
  uint32_t offset() const {
    return bytes[2] | (bytes[3] << 8) | (bytes[4] << 16) | (static_cast<uint32_t>(bytes[5]) << 24);
  }
};

class ExpanderPeer {
 public:
  // Status reply to a completed packet line that is not a recovery packet; "" for none.
  std::function<std::string(const WireLine&)> status = [](const WireLine&) { return "@0"; };
  // Whether piece `k` (from 0) of the line in progress gets its "*".
  std::function<bool(ScriptedExpander&, size_t k)> ack = [](ScriptedExpander&, size_t) {
    return true;
  };
  std::vector<WireLine> lines;  // completed lines, in order

  explicit ExpanderPeer(ScriptedExpander& exp) {
    exp.SetResponder([this](ScriptedExpander& e, const std::string& w) { OnWrite(e, w); });
  }

  std::vector<WireLine> dataLines() const {
    std::vector<WireLine> out;
    for (const auto& l : lines)
      if (!l.recovery() && !l.terminating()) out.push_back(l);
    return out;
  }
  // 'D' data, 'R' recovery, 'T' terminating header, one per line.
  std::string pattern() const {
    std::string p;
    for (const auto& l : lines) p += l.recovery() ? 'R' : l.terminating() ? 'T' : 'D';
    return p;
  }

 private:
  void OnWrite(ScriptedExpander& exp, const std::string& w) {
    if (partial_.pieces.empty()) {
      partial_.startMs = exp.writes().back().ms;
      partial_.creditedAtStart = g_dwBytesSent.load();
    }
    partial_.pieces.push_back(w);
    if (ack(exp, partial_.pieces.size() - 1)) exp.Reply("*");
    if (w.empty() || w.back() != '\x7f') return;
    const std::string decoded = Base64Decode(partial_.text());
    partial_.bytes.assign(decoded.begin(), decoded.end());
    lines.push_back(partial_);
    partial_ = WireLine();
    if (!lines.back().recovery()) {
      std::string reply = status(lines.back());
      if (!reply.empty()) exp.Reply(reply);
    }
  }
  WireLine partial_;
};

// Settings, flags and counters as at the start of a download; a scripted port
// on the virtual clock; the trace captured.
class ProtocolTest : public ::testing::Test {
 protected:
  ProtocolTest() : peer(port.exp()) {
    my_cfg.dlstartdelay = 45;
    my_cfg.dlnormaldelay = 15;
    my_cfg.dlretry = 10;
    ResetDownloadState();
    g_bStopDl = 0;
  }
  ~ProtocolTest() override {
    ResetDownloadState();
    g_bStopDl = 0;
  }
  // The retry statistics texts shown so far.
  std::vector<std::string> stats() const { return report.retryStats(); }
  ScriptedExpander& exp() { return port.exp(); }
  int64_t nowMs() { return port.clock().NowMs(); }

  RecordingReport report;
  ScriptedPort port;
  ExpanderPeer peer;
  TraceCapture trace;
};
