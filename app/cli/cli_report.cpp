#include "app/cli/cli_report.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/cli/exit_codes.h"
#include "app/cli/stop_request.h"
#include "platform/clock.h"
#include "platform/trace.h"

namespace {

constexpr int kBarCells = 30;
// The bar is redrawn at most this often (ms), and on every new percentage.
constexpr int64_t kRedrawMs = 200;

std::string Clock2(int64_t seconds) {
  char text[32];
  if (seconds < 0) seconds = 0;
  if (seconds >= 3600) {
    snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  } else {
    snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(seconds / 60),
             static_cast<int>(seconds % 60));
  }
  return text;
}

std::string Kib(double bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", bytes / 1024.0);
  return text;
}

}  // namespace

std::string OutcomeName(int code, const std::string& outcome) {
  return outcome.empty() ? ExitCodeName(code) : outcome;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    line += (c == '\n') ? ' ' : c;
  }
  return line;
}

CliReport::CliReport(OutputStyle style, std::string port, FILE* out)
    : style_(style), port_(std::move(port)), out_(out), startMs_(GetClock().NowMs()) {}

double CliReport::Seconds() const {
  return static_cast<double>(GetClock().NowMs() - startMs_) / 1000.0;
}

void CliReport::Event(const char* name, nlohmann::json fields) {
  nlohmann::json event = {{"event", name}};
  if (!port_.empty()) event["port"] = port_;
  event["t"] = static_cast<double>(static_cast<int64_t>(Seconds() * 1000.0)) / 1000.0;
  event.update(fields);
  // Texts from the console may hold any byte; they are replaced, not thrown on.
  const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  fprintf(out_, "%s\n", line.c_str());
  fflush(out_);
}

void CliReport::PrintLine(const std::string& line) {
  if (barShown_) {
    // Over the bar: the line, then the bar again below it.
    fprintf(out_, "\r%-*s\n", static_cast<int>(barWidth_), line.c_str());
    barWidth_ = 0;
    DrawBar();
  } else {
    fprintf(out_, "%s\n", line.c_str());
  }
  fflush(out_);
}

void CliReport::DrawBar() {
  if (total_ == 0) return;
  const int percent = percent_ < 0 ? 0 : percent_;
  const int filled = percent * kBarCells / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarCells - filled), '-');
  const int64_t now = GetClock().NowMs();
  const double seconds = static_cast<double>(now - countStartMs_) / 1000.0;
  const double rate = seconds > 0.5 ? sent_ / seconds : 0.0;
  std::string left = "--:--";
  if (sent_ >= total_) {
    left = Clock2(0);
  } else if (rate > 0) {
    left = Clock2(static_cast<int64_t>((total_ - sent_) / rate));
  }
  char line[256];
  snprintf(line, sizeof line, "[%s] %3d%%  %s/%s KiB  %s KiB/s  %s elapsed  %s left", bar.c_str(),
           percent, Kib(std::min(sent_, total_)).c_str(), Kib(total_).c_str(), Kib(rate).c_str(),
           Clock2(elapsed_).c_str(), left.c_str());
  const size_t len = std::string(line).size();
  // Spaces over what a longer line left behind; no escape sequences needed.
  fprintf(out_, "\r%s%*s", line, static_cast<int>(barWidth_ > len ? barWidth_ - len : 0), "");
  barWidth_ = len;
  barShown_ = true;
  lastDrawMs_ = now;
  fflush(out_);
}

void CliReport::ShowStatus(const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (text == nullptr) text = "";
  // The dialog clears its line between steps: an event says so, a log of
  // lines has nothing to show for it.
  if (text[0] == '\0') {
    if (style_ == OutputStyle::kJson) Event("status", {{"text", ""}});
    return;
  }
  const std::string line = OneLine(text);
  switch (style_) {
    case OutputStyle::kJson:
      Event("status", {{"text", text}});
      break;
    case OutputStyle::kTerminal:
    case OutputStyle::kPlain:
      if (!stepsDone_) PrintLine(line);
      break;
    case OutputStyle::kQuiet:
      break;
  }
}

void CliReport::ShowProgress(const ProgressReport& progress) {
  std::lock_guard<std::mutex> lock(mu_);
  if (progress.percent < 0) return;
  const int64_t now = GetClock().NowMs();
  // A new count (a firmware retry starts again from 0) starts the rate anew.
  if (progress.bytesSent < sent_ || total_ == 0) {
    countStartMs_ = now;
    lastTenth_ = -1;
  }
  const bool newPercent = progress.percent != percent_;
  sent_ = progress.bytesSent;
  total_ = progress.totalBytes;
  percent_ = progress.percent;
  elapsed_ = progress.elapsedSeconds;
  switch (style_) {
    case OutputStyle::kJson:
      if (newPercent) {
        Event("progress", {{"bytes", progress.bytesSent},
                           {"total", progress.totalBytes},
                           {"percent", progress.percent},
                           {"elapsed_s", progress.elapsedSeconds}});
      }
      break;
    case OutputStyle::kTerminal:
      if (newPercent || now - lastDrawMs_ >= kRedrawMs) DrawBar();
      break;
    case OutputStyle::kPlain: {
      const int tenth = progress.percent / 10;
      if (tenth != lastTenth_) {
        lastTenth_ = tenth;
        char line[128];
        snprintf(line, sizeof line, "progress: %d%% (%u of %u bytes, %d s)", tenth * 10,
                 std::min(progress.bytesSent, progress.totalBytes), progress.totalBytes,
                 progress.elapsedSeconds);
        PrintLine(line);
      }
      break;
    }
    case OutputStyle::kQuiet:
      break;
  }
}

void CliReport::ShowRetryStats(const char* text, const RetryStats& counts) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string stats = text ? text : "";
  if (stats == lastRetry_) return;
  lastRetry_ = stats;
  if (stats.empty()) return;
  if (style_ == OutputStyle::kJson) {
    Event("retry_stats", {{"text", stats},
                          {"start_retries", counts.startRetries},
                          {"normal_retries", counts.normalRetries},
                          {"subpacket_timeouts", counts.subpacketTimeouts}});
  } else if (style_ != OutputStyle::kQuiet) {
    PrintLine(stats);
  }
}

int CliReport::MessageBox(const char* text, const char* caption, unsigned type) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string line = std::string(caption ? caption : "") + ": " + OneLine(text ? text : "");
  if (style_ == OutputStyle::kJson) {
    Event("message", {{"caption", caption ? caption : ""}, {"text", text ? text : ""}});
  } else {
    PrintLine(line);
  }
  return type == kMbYesNo ? kIdNo : kIdOk;
}

void CliReport::Start(const char* command, const std::string& file) {
  std::lock_guard<std::mutex> lock(mu_);
  if (style_ == OutputStyle::kJson) {
    nlohmann::json fields = {{"command", command}};
    if (!file.empty()) fields["file"] = file;
    Event("start", fields);
  }
}

void CliReport::Ready() {
  std::lock_guard<std::mutex> lock(mu_);
  if (style_ == OutputStyle::kJson) Event("ready", nlohmann::json::object());
}

void CliReport::Version(const FW_VERSION& ver) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string text = VersionText(ver);
  if (style_ == OutputStyle::kJson) {
    Event("version", {{"version", VersionNumbers(ver)}});
  } else if (style_ != OutputStyle::kQuiet) {
    PrintLine("Firmware " + text + " detected!");
  }
}

void CliReport::StopRequest(bool accepted) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string text = accepted ? "Stop requested: the download ends, nothing more is sent."
                                    : kStopRefusedText;
  DbgTrace("tarnwick-cli: %s\n", text.c_str());
  if (style_ == OutputStyle::kJson) {
    Event(accepted ? "stop_requested" : "stop_refused", {{"text", text}});
  } else {
    // Shown even when quiet: the user pressed a key and must see the answer.
    PrintLine(text);
  }
}

void CliReport::Written(const char* how) {
  std::lock_guard<std::mutex> lock(mu_);
  written_ = how;
}

const char* WrittenName(DownloadWritten written) {
  switch (written) {
    case DownloadWritten::kNothing: return "nothing";
    case DownloadWritten::kPartly: return "partly";
    case DownloadWritten::kAll: return "all";
  }
  return "";
}

void CliReport::Outcome(const std::string& outcome) {
  std::lock_guard<std::mutex> lock(mu_);
  outcome_ = outcome;
}

void CliReport::ResultField(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mu_);
  resultFields_[key] = value;
}

void CliReport::PlanEvent(nlohmann::json fields) {
  std::lock_guard<std::mutex> lock(mu_);
  if (style_ == OutputStyle::kJson) Event("plan", std::move(fields));
}

void CliReport::Result(int code, const std::string& message) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string outcome = OutcomeName(code, outcome_);
  // The trace keeps the result whatever becomes of standard output.
  DbgTrace("tarnwick-cli: result %s (exit %d): %s\n", outcome.c_str(), code,
           OneLine(message).c_str());
  if (barShown_) {
    fprintf(out_, "\n");
    barShown_ = false;
    barWidth_ = 0;
  }
  if (style_ == OutputStyle::kJson) {
    nlohmann::json fields = {{"ok", code == 0},
                             {"exit_code", code},
                             {"outcome", outcome},
                             {"message", OneLine(message)}};
    if (!written_.empty()) fields["written"] = written_;
    for (const auto& f : resultFields_) fields[f.first] = f.second;
    Event("result", std::move(fields));
  } else if (code == kExitBadInput || code == kExitCannotOpen) {
    // What the user must fix is an error; what the device did is a result.
    fprintf(stderr, "tarnwick-cli: %s\n", OneLine(message).c_str());
  } else {
    fprintf(out_, "%s\n", OneLine(message).c_str());
    fflush(out_);
  }
}

void CliReport::StepsDone() {
  std::lock_guard<std::mutex> lock(mu_);
  stepsDone_ = true;
}
