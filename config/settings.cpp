#include "config/settings.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/profile.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/trace.h"

FWDL_CFG my_cfg;

namespace {

constexpr char kSection[] = "settings";
constexpr char kFileName[] = "fwdl.ini";
constexpr char kDefaultWriteCmd[] =
    "tavo1productdatawrite 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x";
// Text keys are read into 260 bytes: at most 259 characters, whatever the field's size.
constexpr size_t kTextLimit = 260;
// `file` is read whole up to this, so that a path too long for its field is
// seen and refused, never cut to the name of another file.
constexpr size_t kLongFileRead = 4096;

bool g_bHasOverride = false;
std::string g_strOverride;

// The settings file's whole path, uncut; false if the executable's folder is unknown.
bool FullSettingsPath(std::string* full) {
  if (g_bHasOverride) {
    *full = g_strOverride;
    return !full->empty();
  }
  char exeDir[4096];
  if (!GetExeDir(exeDir, sizeof exeDir)) return false;
  // Beside the executable when it may write there, else the user's folder; a
  // program that has neither still reads the file beside it.
  char dir[4096];
  if (!ChooseAppFileDir(exeDir, AppFileKind::kSettings, dir, sizeof dir)) {
    snprintf(dir, sizeof dir, "%s", exeDir);
  }
  *full = std::string(dir) + kFileName;
  return true;
}

// The path to read and write. A path that does not fit 259 characters is not
// used: cut, it would name another file.
bool UsableSettingsPath(char* out) {
  std::string full;
  if (!FullSettingsPath(&full) || full.size() >= kMaxPathText) return false;
  snprintf(out, kMaxPathText, "%s", full.c_str());
  return true;
}

void TrimSpaces(char* text) {
  size_t len = strlen(text);
  size_t first = 0;
  while (first < len && text[first] == ' ') ++first;
  while (len > first && text[len - 1] == ' ') --len;
  memmove(text, text + first, len - first);
  text[len - first] = '\0';
}

// A read removes the blanks around a value and one pair of quotation marks
// that enclose it. A name that begins or ends with a blank or a control
// character, or that is itself in quotation marks, is written in double
// quotation marks, so that it reads back as it was; every other name is
// written as it stands.
std::string ValueThatReadsBack(const char* text) {
  std::string value = text;
  if (value.empty()) return value;
  auto loose = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front();
  if (loose(value.front()) || loose(value.back()) || quoted) value = '"' + value + '"';
  return value;
}

// Without a usable path every key reads as missing.
void ReadText(const char* path, const char* key, const char* def, char* out) {
  if (path)
    ProfileGetString(path, kSection, key, def, out, kTextLimit);
  else
    snprintf(out, kTextLimit, "%s", def);
}

uint32_t ReadNumber(const char* path, const char* key, int32_t def) {
  return path ? ProfileGetInt(path, kSection, key, def) : static_cast<uint32_t>(def);
}

}  // namespace

void SetSettingsPathOverride(const char* path) {
  g_bHasOverride = path != nullptr;
  g_strOverride = path ? path : "";
}

void GetSettingsPath(char* out, size_t size) {
  if (size == 0) return;
  std::string full;
  if (!FullSettingsPath(&full)) full = kFileName;
  snprintf(out, size < kMaxPathText ? size : kMaxPathText, "%s", full.c_str());
}

void LoadSettings(FWDL_CFG* cfg) {
  char szPath[kMaxPathText];
  const char* path = UsableSettingsPath(szPath) ? szPath : nullptr;

  if (path) DbgTrace("settings file: %s\n", path);
  std::string file(kLongFileRead, '\0');
  if (path) ProfileGetString(path, kSection, "file", "", &file[0], file.size());
  TrimSpaces(&file[0]);
  file.resize(strlen(file.c_str()));
  cfg->fileTooLong = file.size() >= sizeof cfg->file;
  if (cfg->fileTooLong) {
    DbgTrace("settings: file= is longer than %u characters, not used: %.60s...\n",
             static_cast<unsigned>(sizeof cfg->file - 1), file.c_str());
    file.clear();
  }
  snprintf(cfg->file, sizeof cfg->file, "%s", file.c_str());
  ReadText(path, "signature", "VRQ", cfg->signature);
  TrimSpaces(cfg->signature);

  cfg->comport = ReadNumber(path, "comport", 1);
  if (cfg->comport < 1) cfg->comport = 1;
  DbgTrace("cfg->comport=%d", static_cast<int>(cfg->comport));

  cfg->linewaittime = ReadNumber(path, "linewaittime", 1);
  if (cfg->linewaittime > 1000) cfg->linewaittime = 1000;
  DbgTrace("cfg->linewaittime=%d ms", static_cast<int>(cfg->linewaittime));

  cfg->charwaittime = ReadNumber(path, "charwaittime", 1);
  if (cfg->charwaittime > 200) cfg->charwaittime = 200;
  DbgTrace("cfg->charwaittime=%d ms", static_cast<int>(cfg->charwaittime));

  cfg->dlstartdelay = static_cast<int32_t>(ReadNumber(path, "dlstartdelay", 45));
  cfg->dlnormaldelay = static_cast<int32_t>(ReadNumber(path, "dlnormaldelay", 15));
  cfg->dlretry = static_cast<int32_t>(ReadNumber(path, "dlretry", 10));
  cfg->fwattempts = static_cast<int32_t>(ReadNumber(path, "fwattempts", 3));
  if (cfg->fwattempts < 1) cfg->fwattempts = 1;

  ReadText(path, "writecmd", kDefaultWriteCmd, cfg->writevpd);
  TrimSpaces(cfg->writevpd);
  DbgTrace("cfg->writevpd=%s", cfg->writevpd);
  // At most 259 characters were read, so the line feed always fits.
  size_t len = strlen(cfg->writevpd);
  snprintf(cfg->writevpd + len, sizeof cfg->writevpd - len, "\n");

  DbgTrace("cfg->dlstartdelay=%d seconds", cfg->dlstartdelay);
  DbgTrace("cfg->dlnormaldelay=%d seconds", cfg->dlnormaldelay);
  DbgTrace("cfg->dlretry=%d times", cfg->dlretry);
  DbgTrace("cfg->fwattempts=%d times", cfg->fwattempts);

  ReadText(path, "device", "", cfg->device);
  TrimSpaces(cfg->device);
  if (cfg->device[0]) DbgTrace("cfg->device=%s", cfg->device);

  // Opt-in: anything but 0 turns it on. Traced only when on, so that the
  // trace of a run without it stays as it was.
  cfg->eventchar = ReadNumber(path, "eventchar", 0) != 0 ? 1 : 0;
  if (cfg->eventchar) DbgTrace("cfg->eventchar=1");
}

bool SaveSettings(const FWDL_CFG* cfg) {
  SetLastFileError(0);
  char szPath[kMaxPathText];
  if (!UsableSettingsPath(szPath)) return false;
  // The field may have been filled to the brim; never read past it.
  char file[sizeof cfg->file];
  snprintf(file, sizeof file, "%.*s", static_cast<int>(strnlen(cfg->file, sizeof file - 1)),
           cfg->file);
  // A value refused as too long stays in the file until another takes its place.
  if (!(cfg->fileTooLong && file[0] == '\0')) {
    ProfileWriteString(szPath, kSection, "file", ValueThatReadsBack(file).c_str());
  }
  char number[16];
  snprintf(number, sizeof number, "%d", static_cast<int32_t>(cfg->comport));
  return ProfileWriteString(szPath, kSection, "comport", number);
}
