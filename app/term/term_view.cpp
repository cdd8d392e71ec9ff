#include "app/term/term_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "app/term/message_box.h"

TermView::TermView() : uiThread_(std::this_thread::get_id()) {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

TermView::~TermView() {
  SetServing(false);
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

void TermView::SetHost(ModalHost* host) {
  std::lock_guard<std::mutex> lock(mu_);
  host_ = host;
}

void TermView::Wake() {
  if (wakeWrite_ < 0) return;
  char b = 1;
  // A full pipe already holds a wake-up the UI has not seen: nothing lost.
  ssize_t n = write(wakeWrite_, &b, 1);
  (void)n;
}

void TermView::DrainWake() {
  char buf[256];
  while (wakeRead_ >= 0 && read(wakeRead_, buf, sizeof buf) > 0) {
  }
}

void TermView::SetTitle(const char* text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    state_.title = text ? text : "";
  }
  Wake();
}

void TermView::SetItemText(int id, const char* text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    if (id == IDC_FILENAME)
      state_.file.SetText(text ? text : "");
    else
      state_.texts[id] = text ? text : "";
  }
  Wake();
}

void TermView::GetItemText(int id, char* buf, size_t size) {
  if (!buf || size == 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  std::string text = id == IDC_FILENAME ? state_.file.text() : state_.Text(id);
  snprintf(buf, size, "%s", text.c_str());
}

void TermView::SetProgressPos(int pos) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    state_.progress = pos < 0 ? 0 : pos > 100 ? 100 : pos;
  }
  Wake();
}

void TermView::EnableItem(int id, bool enable) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    state_.disabled[id] = !enable;
  }
  Wake();
}

int TermView::MessageBox(const char* text, const char* caption, unsigned type) {
  return RequestMessageBox(text, caption, type);
}

bool TermView::ChooseFile(char* path, size_t size) {
  ModalHost* host;
  {
    std::lock_guard<std::mutex> lock(mu_);
    host = host_;
  }
  // The chooser needs the terminal, which only the UI thread may touch.
  if (!host || !OnUiThread()) return false;
  return host->RunChooser(path, size);
}

void TermView::EndDialog(int result) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    ended_ = true;
    endResult_ = result;
    serving_ = false;
    AbandonBoxRequestsLocked();
  }
  Wake();
}

// The terminal program has no message loop waiting for a quit message: the
// dialog loop ends on EndDialog alone.
void TermView::BroadcastQuit() {}

int TermView::RequestMessageBox(const char* text, const char* caption, unsigned type) {
  const char* t = text ? text : "";
  const char* c = caption ? caption : "";
  if (OnUiThread()) {
    ModalHost* host;
    {
      std::lock_guard<std::mutex> lock(mu_);
      host = host_;
    }
    return host ? host->RunMessageBox(t, c, type) : MessageBoxModel::DefaultAnswer(type);
  }
  BoxRequest req;
  req.text = t;
  req.caption = c;
  req.type = type;
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (!serving_) return MessageBoxModel::DefaultAnswer(type);
    boxes_.push_back(&req);
  }
  Wake();
  std::unique_lock<std::mutex> lock(mu_);
  boxAnswered_.wait(lock, [&] { return req.done; });
  return req.answer;
}

void TermView::SetServing(bool serving) {
  std::lock_guard<std::mutex> lock(mu_);
  serving_ = serving && !ended_;
  if (!serving_) AbandonBoxRequestsLocked();
}

void TermView::AbandonBoxRequestsLocked() {
  for (BoxRequest* r : boxes_) {
    r->answer = MessageBoxModel::DefaultAnswer(r->type);
    r->done = true;
  }
  boxes_.clear();
  boxAnswered_.notify_all();
}

void TermView::ServeBoxRequests() {
  for (;;) {
    BoxRequest* req;
    ModalHost* host;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (boxes_.empty()) return;
      req = boxes_.front();
      boxes_.pop_front();
      host = host_;
    }
    int answer = host ? host->RunMessageBox(req->text.c_str(), req->caption.c_str(), req->type)
                      : MessageBoxModel::DefaultAnswer(req->type);
    std::lock_guard<std::mutex> lock(mu_);
    req->answer = answer;
    req->done = true;
    boxAnswered_.notify_all();
  }
}

DialogState TermView::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

bool TermView::ended() const {
  std::lock_guard<std::mutex> lock(mu_);
  return ended_;
}

int TermView::endResult() const {
  std::lock_guard<std::mutex> lock(mu_);
  return endResult_;
}
