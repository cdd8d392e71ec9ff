#include "app/term/chooser.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/term/text_util.h"

namespace {

bool NameLess(const ChooserEntry& a, const ChooserEntry& b) {
  if (a.isDir != b.isDir) return a.isDir;
  if (a.name == "..") return true;
  if (b.name == "..") return false;
  int c = strcasecmp(a.name.c_str(), b.name.c_str());
  return c != 0 ? c < 0 : a.name < b.name;
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

}  // namespace

ChooserModel::ChooserModel(size_t maxPath) : maxPath_(maxPath), name_(maxPath) {}

const char* ChooserModel::FilterLabel(Filter f) {
  return f == kFirmwareImage ? "Firmware Image (*.bin)" : "All (*.*)";
}

std::string ChooserModel::ResolvePath(const std::string& dir, const std::string& name) {
  std::string path;
  if (name == "~" || name.compare(0, 2, "~/") == 0) {
    const char* home = getenv("HOME");
    path = std::string(home ? home : "/") + "/" + name.substr(1);
  } else if (!name.empty() && name[0] == '/') {
    path = name;
  } else {
    path = dir + "/" + name;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(i, slash - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  if (out.empty()) out = "/";
  // A name typed with a trailing separator means a folder; keep it visible.
  if (!name.empty() && name.back() == '/' && out != "/") out += "/";
  return out;
}

bool ChooserModel::Matches(const std::string& fileName) const {
  return filter_ == kAll || EndsWithNoCase(fileName, ".bin");
}

bool ChooserModel::Open(const std::string& dir) {
  std::string path = WithSlash(ResolvePath(dir_, dir));
  DIR* d = opendir(path.c_str());
  if (!d) {
    error_ = "Cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::vector<ChooserEntry> list;
  if (path != "/") list.push_back(ChooserEntry{"..", true});
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    // Hidden entries stay out of the list; a typed path still reaches them.
    if (n.empty() || n[0] == '.') continue;
    struct stat st;
    if (stat((path + n).c_str(), &st) != 0) continue;  // dangling link
    bool isDir = S_ISDIR(st.st_mode);
    list.push_back(ChooserEntry{n, isDir, static_cast<uint64_t>(st.st_size),
                                static_cast<int64_t>(st.st_mtime)});
  }
  closedir(d);
  std::sort(list.begin(), list.end(), NameLess);
  dir_ = path;
  listing_ = std::move(list);
  Refilter();
  name_.SetText("");
  error_.clear();
  return true;
}

void ChooserModel::OpenNear(const std::string& file, const std::string& fallback) {
  if (!file.empty()) {
    std::string base = "/";
    char cwd[4096];
    if (file[0] != '/' && getcwd(cwd, sizeof cwd)) base = cwd;
    std::string full = ResolvePath(base, file);
    size_t slash = full.rfind('/');
    std::string folder = full.substr(0, slash + 1);
    std::string name = full.substr(slash + 1);
    if (Open(folder)) {
      for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].isDir || entries_[i].name != name) continue;
        selected_ = static_cast<int>(i);
        name_.SetText(name);
      }
      return;
    }
  }
  if (!Open(fallback)) Open("/");
}

std::string ChooserModel::Details(const ChooserEntry& e) {
  if (e.isDir) return std::string();
  char when[32] = "";
  time_t t = static_cast<time_t>(e.modified);
  struct tm tm;
  if (localtime_r(&t, &tm)) strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
  char text[80];
  snprintf(text, sizeof text, "%llu bytes  %s", static_cast<unsigned long long>(e.size), when);
  return text;
}

void ChooserModel::Refilter() {
  entries_.clear();
  for (const ChooserEntry& e : listing_)
    if (e.isDir || Matches(e.name)) entries_.push_back(e);
  selected_ = 0;
  scrollTop_ = 0;
}

void ChooserModel::ToggleFilter() {
  filter_ = filter_ == kFirmwareImage ? kAll : kFirmwareImage;
  Refilter();
}

void ChooserModel::Move(int delta) {
  if (entries_.empty()) return;
  int last = static_cast<int>(entries_.size()) - 1;
  selected_ = std::max(0, std::min(last, selected_ + delta));
  const ChooserEntry& e = entries_[static_cast<size_t>(selected_)];
  name_.SetText(e.isDir ? e.name + "/" : e.name);
}

std::string ChooserModel::Row(const ChooserEntry& e, bool selected, int width, bool utf8) {
  std::string line = (selected ? "> " : "  ") + DisplayText(e.name, utf8) + (e.isDir ? "/" : "");
  const std::string details = Details(e);
  const int gap = width - TextColumns(line) - static_cast<int>(details.size());
  if (!details.empty() && gap >= 2) line += std::string(static_cast<size_t>(gap), ' ') + details;
  return PadColumns(line, width);
}

int ChooserModel::ScrollTop(int rows) {
  if (rows < 1) rows = 1;
  if (selected_ < scrollTop_) scrollTop_ = selected_;
  if (selected_ >= scrollTop_ + rows) scrollTop_ = selected_ - rows + 1;
  return scrollTop_;
}

ChooserModel::Result ChooserModel::Take(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error_ = "File not found: " + path;
    return Result::kOpen;
  }
  if (S_ISDIR(st.st_mode)) {
    Open(path);
    return Result::kOpen;
  }
  if (path.size() > maxPath_) {
    error_ = "Path too long: " + std::to_string(path.size()) + " bytes, at most " +
             std::to_string(maxPath_) + " (a letter outside ASCII can take more than one)";
    return Result::kOpen;
  }
  chosen_ = path;
  error_.clear();
  return Result::kChosen;
}

ChooserModel::Result ChooserModel::Activate() {
  std::string typed = name_.text();
  if (typed.empty()) {
    if (entries_.empty()) return Result::kOpen;
    const ChooserEntry& e = entries_[static_cast<size_t>(selected_)];
    typed = e.name;
  }
  return Take(ResolvePath(dir_, typed));
}

ChooserModel::Result ChooserModel::HandleKey(const Key& key) {
  switch (key.code) {
    case KeyCode::kEscape: return Result::kCancelled;
    case KeyCode::kEnter: return Activate();
    case KeyCode::kUp: Move(-1); return Result::kOpen;
    case KeyCode::kDown: Move(+1); return Result::kOpen;
    case KeyCode::kPageUp: Move(-10); return Result::kOpen;
    case KeyCode::kPageDown: Move(+10); return Result::kOpen;
    case KeyCode::kText:
    case KeyCode::kPaste: name_.Insert(key.text); return Result::kOpen;
    case KeyCode::kBackspace: name_.Backspace(); return Result::kOpen;
    case KeyCode::kDelete: name_.Delete(); return Result::kOpen;
    case KeyCode::kLeft: name_.Left(); return Result::kOpen;
    case KeyCode::kRight: name_.Right(); return Result::kOpen;
    case KeyCode::kHome: name_.Home(); return Result::kOpen;
    case KeyCode::kEnd: name_.End(); return Result::kOpen;
    case KeyCode::kCtrl:
      switch (key.ch) {
        case 'c': return Result::kCancelled;
        case 't': ToggleFilter(); return Result::kOpen;
        case 'a': name_.Home(); return Result::kOpen;
        case 'e': name_.End(); return Result::kOpen;
        case 'u': name_.DeleteToStart(); return Result::kOpen;
        case 'k': name_.DeleteToEnd(); return Result::kOpen;
        default: return Result::kOpen;
      }
    default: return Result::kOpen;
  }
}
