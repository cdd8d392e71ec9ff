// The file chooser of the terminal dialog, without the drawing: the folders
// and files of one folder under a filter, a selection, and a name line where
// a path can be typed. Enter opens a folder or chooses a file; Escape cancels.
#pragma once
#include <string>
#include <vector>

#include "app/term/keys.h"
#include "app/term/line_editor.h"

#include <cstdint>

struct ChooserEntry {
  std::string name;
  bool isDir = false;
  uint64_t size = 0;    // bytes (files)
  int64_t modified = 0; // last change, calendar seconds
};

class ChooserModel {
 public:
  enum class Result { kOpen, kChosen, kCancelled };
  enum Filter { kFirmwareImage = 0, kAll = 1 };

  // `maxPath`: the longest path the caller can take (bytes, without the NUL).
  explicit ChooserModel(size_t maxPath = 259);

  // Lists folder `dir` (a path; "~" is the home folder). On failure keeps
  // the folder it had and sets error(). True on success.
  bool Open(const std::string& dir);
  // Opens where the user most likely looks: the folder of `file` (the file
  // box's path; a relative one is taken from the working folder) with that
  // file selected, else `fallback`, else "/".
  void OpenNear(const std::string& file, const std::string& fallback);

  // "<size> bytes  YYYY-MM-DD HH:MM" of a file (local time); "" for a folder.
  static std::string Details(const ChooserEntry& e);
  // The list row of `e`, exactly `width` columns: the marker of the
  // selection, the name (made safe to draw, see DisplayText) and, when the
  // name leaves room for them, the details at the right edge.
  static std::string Row(const ChooserEntry& e, bool selected, int width, bool utf8);

  // Applies one key; kOpen while the chooser stays open.
  Result HandleKey(const Key& key);
  // Enter: the typed name if there is one, else the selected entry.
  Result Activate();

  const std::string& dir() const { return dir_; }  // with a trailing '/'
  const std::vector<ChooserEntry>& entries() const { return entries_; }
  int selected() const { return selected_; }
  // Moves the selection by `delta` entries (clamped) and puts the entry's
  // name into the name line.
  void Move(int delta);
  LineEditor& name() { return name_; }
  Filter filter() const { return filter_; }
  void ToggleFilter();
  static const char* FilterLabel(Filter f);
  // The full path chosen (after kChosen).
  const std::string& chosen() const { return chosen_; }
  // Why the last Enter did nothing, for the user; "" after a good step.
  const std::string& error() const { return error_; }
  // First entry of a list window `rows` high that keeps the selection visible.
  int ScrollTop(int rows);

  // Lexical path arithmetic, without asking the file system: `name` taken
  // relative to `dir` ("~" and "~/..." from $HOME), with "." and ".."
  // folded and repeated separators merged.
  static std::string ResolvePath(const std::string& dir, const std::string& name);

 private:
  bool Matches(const std::string& fileName) const;
  Result Take(const std::string& path);
  void Refilter();

  size_t maxPath_;
  std::string dir_ = "/";
  std::vector<ChooserEntry> listing_;  // the whole folder, sorted
  std::vector<ChooserEntry> entries_;  // what the filter lets through
  int selected_ = 0;
  int scrollTop_ = 0;
  LineEditor name_;
  Filter filter_ = kFirmwareImage;
  std::string chosen_;
  std::string error_;
};
