// How tarnwick-cli shows one port's run: the CoreReport of the command-line
// front end, and the few events of its own (start, version, stop requests,
// result). Four styles:
//   terminal  status lines as they change, under them a progress bar redrawn
//             in place (percentage, bytes, rate, elapsed and remaining time)
//   plain     one line per status change and per 10 % of the progress
//   json      one JSON object per line for every event (see the README)
//   quiet     only the result line
// Everything goes to standard output; the caller's errors go to standard error
// except in json, where they are result events too.
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "console/version.h"
#include "platform/report.h"

// How much of the file reached the expander, as the result event says it:
// "nothing", "partly", "all".
const char* WrittenName(DownloadWritten written);

enum class OutputStyle { kTerminal, kPlain, kJson, kQuiet };

class CliReport : public CoreReport {
 public:
  // `port` labels JSON events ("" for none); `out` is where lines go.
  CliReport(OutputStyle style, std::string port, FILE* out = stdout);

  void ShowStatus(const char* text) override;
  void ShowProgress(const ProgressReport& progress) override;
  void ShowRetryStats(const char* text, const RetryStats& stats) override;
  int MessageBox(const char* text, const char* caption, unsigned type) override;

  // The download of `file` begins.
  void Start(const char* command, const std::string& file);
  // The port is open and waits for the parent's go (the many-ports run).
  void Ready();
  // The running version the start-up check found.
  void Version(const FW_VERSION& ver);
  // A stop request was accepted, or refused during the bootloader.
  void StopRequest(bool accepted);
  // How much of the file reached the expander, for the result event:
  // "nothing", "partly" or "all" (every image accepted); unset for a probe.
  void Written(const char* how);
  // The result's outcome when its exit code alone does not tell it (exit 0
  // with nothing sent is "already-current"); "" for the code's own name.
  void Outcome(const std::string& outcome);
  // A field of the result event beside the usual ones ("version_before",
  // "file_version", ...); json only.
  void ResultField(const std::string& key, const std::string& value);
  // What a download would do on this port (plan): one "plan" event in json,
  // nothing otherwise (the result line says it).
  void PlanEvent(nlohmann::json fields);
  // The end: exit code and the one line that says why.
  void Result(int code, const std::string& message);

  // The download's steps are over: plain output prints no further status
  // texts (the result line says how it ended); JSON goes on with its events.
  void StepsDone();
  OutputStyle style() const { return style_; }

 private:
  // Writes one JSON event: `fields` with the event's name, port and time.
  void Event(const char* name, nlohmann::json fields);
  void PrintLine(const std::string& line);
  void DrawBar();
  double Seconds() const;

  mutable std::mutex mu_;
  const OutputStyle style_;
  const std::string port_;
  FILE* const out_;
  const int64_t startMs_;
  std::string written_;
  bool stepsDone_ = false;
  std::string outcome_;
  std::map<std::string, std::string> resultFields_;
  std::string lastRetry_;
  // Progress: what was last reported and when this progress count began.
  bool barShown_ = false;
  size_t barWidth_ = 0;
  uint32_t sent_ = 0;
  uint32_t total_ = 0;
  int percent_ = -1;
  int elapsed_ = 0;  // seconds since the download began, as the dialog counts them
  int lastTenth_ = -1;
  int64_t countStartMs_ = 0;
  int64_t lastDrawMs_ = 0;
};

// The outcome a result event shows for `code`, unless `outcome` overrides it.
std::string OutcomeName(int code, const std::string& outcome);
// `text` with every line end as one space.
std::string OneLine(const std::string& text);
