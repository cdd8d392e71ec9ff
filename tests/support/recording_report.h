// A CoreReport for tests of the core: remembers every update in order, answers
// message boxes with kIdOk (kIdNo for Yes/No), and is installed for the
// lifetime of the object.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "platform/report.h"

class RecordingReport : public CoreReport {
 public:
  RecordingReport() { SetReport(this); }
  ~RecordingReport() override { SetReport(nullptr); }
  RecordingReport(const RecordingReport&) = delete;
  RecordingReport& operator=(const RecordingReport&) = delete;

  void ShowStatus(const char* text) override { Add(&statuses_, text); }
  void ShowProgress(const ProgressReport& progress) override {
    std::lock_guard<std::mutex> lock(mu_);
    progress_.push_back(progress);
  }
  void ShowRetryStats(const char* text, const RetryStats&) override { Add(&retryStats_, text); }
  void EnableControls(bool enable) override { Add(&controls_, enable ? "enable" : "disable"); }
  int MessageBox(const char* text, const char* caption, unsigned type) override {
    Add(&boxes_, std::string(caption) + ": " + text);
    return IsYesNoBox(type) ? kIdNo : kIdOk;
  }

  std::vector<std::string> statuses() const { return Get(statuses_); }
  std::vector<std::string> retryStats() const { return Get(retryStats_); }
  std::vector<std::string> controls() const { return Get(controls_); }
  // "<caption>: <text>" of every box.
  std::vector<std::string> boxes() const { return Get(boxes_); }
  // Forgets everything recorded so far.
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    statuses_.clear();
    retryStats_.clear();
    controls_.clear();
    boxes_.clear();
    progress_.clear();
  }
  std::vector<ProgressReport> progress() const {
    std::lock_guard<std::mutex> lock(mu_);
    return progress_;
  }

 private:
  void Add(std::vector<std::string>* list, const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    list->push_back(text);
  }
  std::vector<std::string> Get(const std::vector<std::string>& list) const {
    std::lock_guard<std::mutex> lock(mu_);
    return list;
  }

  mutable std::mutex mu_;
  std::vector<std::string> statuses_;
  std::vector<std::string> retryStats_;
  std::vector<std::string> controls_;
  std::vector<std::string> boxes_;
  std::vector<ProgressReport> progress_;
};
