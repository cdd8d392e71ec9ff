#include "recording_view.h"

#include <cstdio>

void RecordingView::SetTitle(const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  title_ = text;
}

std::string RecordingView::title() const {
  std::lock_guard<std::mutex> lock(mu_);
  return title_;
}

void RecordingView::SetItemText(int id, const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  texts_[id] = text;
  history_[id].emplace_back(text);
}

void RecordingView::GetItemText(int id, char* buf, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  if (size == 0) return;
  snprintf(buf, size, "%s", texts_[id].c_str());
}

void RecordingView::SetProgressPos(int pos) {
  std::lock_guard<std::mutex> lock(mu_);
  progress_ = pos;
}

void RecordingView::EnableItem(int id, bool enable) {
  std::lock_guard<std::mutex> lock(mu_);
  enabled_[id] = enable;
}

int RecordingView::MessageBox(const char* text, const char* caption, unsigned type) {
  std::lock_guard<std::mutex> lock(mu_);
  boxes_.push_back({text, caption, type});
  if (!answers_.empty()) {
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  return IsYesNoBox(type) ? kIdNo : kIdOk;
}

bool RecordingView::ChooseFile(char* path, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  if (choices_.empty()) return false;
  auto c = choices_.front();
  choices_.pop_front();
  if (!c.first) return false;
  snprintf(path, size, "%s", c.second.c_str());
  return true;
}

void RecordingView::EndDialog(int result) {
  std::lock_guard<std::mutex> lock(mu_);
  endResult_ = result;
}

void RecordingView::BroadcastQuit() {
  std::lock_guard<std::mutex> lock(mu_);
  ++quits_;
}

std::string RecordingView::text(int id) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

std::vector<std::string> RecordingView::history(int id) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = history_.find(id);
  return it == history_.end() ? std::vector<std::string>() : it->second;
}

bool RecordingView::enabled(int id) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = enabled_.find(id);
  return it == enabled_.end() ? true : it->second;
}

int RecordingView::progress() const {
  std::lock_guard<std::mutex> lock(mu_);
  return progress_;
}

std::vector<RecordingView::Box> RecordingView::boxes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return boxes_;
}

void RecordingView::AnswerNextBox(int answer) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(answer);
}

void RecordingView::NextChoice(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  choices_.emplace_back(true, path);
}

void RecordingView::CancelNextChoice() {
  std::lock_guard<std::mutex> lock(mu_);
  choices_.emplace_back(false, std::string());
}
