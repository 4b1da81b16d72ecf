#include "tools/pack/create_plan.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "platform/host.h"
#include "tools/os/os.h"
#include "tools/pack/codepage.h"
#include "tools/pack/names.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_writer.h"

namespace pack {

namespace {

const size_t MaxPasswordBytes = 79;   // the stub's password prompt reads at most 79

// A text option converted to the code page. LF becomes CR LF in the message,
// which the stub shows in a multi-line control.
bool ConvertText(const CodePage& page, const char* what, std::string text, bool crlf,
                 std::string& out, std::vector<std::string>& errors) {
  if (crlf) {
    std::string withCr;
    for (size_t i = 0; i < text.size(); i++) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) withCr += '\r';
      withCr += text[i];
    }
    text = withCr;
  }
  std::string bad;
  if (!ToCodePage(page, text, out, bad)) {
    errors.push_back(std::string("the ") + what + " " + bad);
    return false;
  }
  return true;
}

std::string CheckFolderText(const std::string& folder) {
  for (unsigned char c : folder) {
    if (c < 0x20) return "the folder contains a control character";
    if (strchr("<>\"|?*", c)) return std::string("the folder contains '") + (char)c + "', which Windows forbids";
  }
  return "";
}

// The output may replace a regular file; a link, a device, a pipe or a folder
// in its place is refused, so nothing but the package path itself changes.
std::string OutputProblem(const std::string& output) {
  os::FileStatus::Kind there = os::Status(output, false).kind;
  if (there == os::FileStatus::Missing || there == os::FileStatus::File) return "";
  const char* kind = there == os::FileStatus::Link     ? "a symbolic link"
                     : there == os::FileStatus::Folder ? "a folder"
                     : there == os::FileStatus::Pipe   ? "a named pipe"
                     : there == os::FileStatus::Device ? "a device"
                                                       : "not a regular file";
  return output + " is " + kind + "; the package replaces only a regular file or makes a new one";
}

// "##" stands for the destination with a trailing backslash; in quotes that
// backslash escapes the closing quote for most Windows programs.
void WarnAboutQuotedFolder(const std::string& command) {
  if (command.find("##\"") != std::string::npos)
    Warn("in the command, ## is followed by a quote: ## ends in a backslash, and most programs "
         "read a backslash before a quote as an escaped quote; write \"##.\" instead");
}

// "##program|parameters" runs a program the package put in the destination:
// it should be one of the package's files. A blank where '|' belongs makes
// the parameters part of the program's name.
void WarnAboutCommandProgram(const std::string& command, const std::vector<PlannedEntry>& entries) {
  if (command.compare(0, 2, "##") != 0) return;
  std::string program = command.substr(2);
  program = program.substr(0, program.find('|'));
  std::replace(program.begin(), program.end(), '\\', '/');
  while (!program.empty() && program[0] == '/') program.erase(0, 1);
  if (program.empty()) return;
  for (const PlannedEntry& e : entries)
    if (!e.IsFolder() && FoldCase(e.utf8Name) == FoldCase(program)) return;
  Warn("the command runs ##" + program + ", which is not a file of the package" +
       (program.find(' ') != std::string::npos ? "; '|' separates the program from its parameters (##setup.exe|/quiet)" : ""));
}

// The dialog shows the message in a read-only edit field of 245 x 30 dialog
// units in 8-point MS Sans Serif (ui/resources.rc) without a scroll bar: three
// lines, long ones wrapped at the field's width. A horizontal dialog unit is a
// quarter of the font's average character width, so a line holds about 61
// average characters, 60 once the edit margins are taken off.
const size_t MessageLines = 3;
const size_t MessageLineChars = 60;

// 'message' is in the code page (one byte a character) with CR LF line ends.
void WarnAboutHiddenMessage(const std::string& message) {
  std::vector<size_t> widths;
  for (size_t start = 0; start <= message.size();) {
    size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    size_t width = end - start;
    if (width > 0 && message[end - 1] == '\r') width--;
    widths.push_back(width);
    start = end + 1;
  }
  while (!widths.empty() && widths.back() == 0) widths.pop_back();   // empty lines at the end hide nothing
  size_t rows = 0, widest = 0;
  for (size_t i = 0; i < widths.size(); i++) {
    rows += widths[i] == 0 ? 1 : (widths[i] + MessageLineChars - 1) / MessageLineChars;
    if (widths[i] > widths[widest]) widest = i;
  }
  if (rows <= MessageLines) return;
  std::string shown = std::to_string(MessageLines), hidden = std::to_string(rows - MessageLines);
  if (widths[widest] <= MessageLineChars)
    Warn("the message has " + std::to_string(rows) + " lines; the dialog shows " + shown + ", so " + hidden +
         " will be hidden");
  else
    Warn("line " + std::to_string(widest + 1) + " of the message is about " + std::to_string(widths[widest]) +
         " characters wide; the dialog wraps lines at about " + std::to_string(MessageLineChars) +
         " characters and shows " + shown + " lines, so about " + hidden + " will be hidden");
}

// Names: stub rules, Windows path length, duplicates and clashes. Names are
// stored as UTF-8 (flag bit 11 when they are not ASCII), so they come out
// right whatever the code page of the system that extracts them.
void CheckNames(std::vector<PlannedEntry>& entries, std::vector<std::string>& errors) {
  std::map<std::string, size_t> seen;             // folded name -> index in kept
  std::set<std::string> folders;                  // folded folder prefixes, ending in '/'
  std::vector<PlannedEntry> kept;
  for (PlannedEntry& e : entries) {
    e.name = e.utf8Name;
    std::string problem = NameProblem(e.name);
    if (!problem.empty()) {
      errors.push_back(e.origin + ": the name \"" + e.utf8Name + "\" is refused: " + problem);
      continue;
    }
    if (NameTooLongForWindows(e.name))
      Warn(e.utf8Name + " is " + std::to_string(Utf16Length(e.name)) +
           " characters long: below a destination folder longer than " +
           std::to_string(MaxWindowsPath - 1 - Utf16Length(e.name)) +
           " characters its path exceeds the 259 characters Windows allows, and it will not extract");
    if (!e.IsFolder() && e.size > MaxEntrySize) {
      errors.push_back(e.origin + " is larger than 4 GB, which a zip without ZIP64 cannot hold");
      continue;
    }
    std::string folded = FoldCase(e.utf8Name);
    for (size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1))
      folders.insert(folded.substr(0, slash + 1));
    auto found = seen.find(folded);
    if (found != seen.end()) {
      // The same folder from two inputs is merged silently. Of two files the
      // later one is kept: that is what extracting both would leave, and the
      // stub's list, which matches equal names in turn, can miss the second
      // of two equal names that are not next to each other in the archive.
      if (e.IsFolder()) continue;
      PlannedEntry& earlier = kept[found->second];
      Warn("duplicate name " + e.utf8Name + ": " + e.origin + " replaces " + earlier.origin);
      earlier.utf8Name.clear();   // dropped below
      found->second = kept.size();
    } else {
      seen[folded] = kept.size();
    }
    kept.push_back(e);
  }
  kept.erase(std::remove_if(kept.begin(), kept.end(), [](const PlannedEntry& e) { return e.utf8Name.empty(); }),
             kept.end());
  // A file whose name another entry needs as a folder cannot be extracted.
  for (const PlannedEntry& e : kept)
    if (!e.IsFolder() && folders.count(FoldCase(e.utf8Name) + "/"))
      errors.push_back(e.origin + ": " + e.utf8Name + " is a file, but other entries need a folder of that name");
  // Folder entries are only needed for folders nothing else creates. Names
  // below a folder sort right after it, so one look suffices.
  std::set<std::string> all;
  for (const PlannedEntry& e : kept) all.insert(FoldCase(e.utf8Name));
  entries.clear();
  for (PlannedEntry& e : kept) {
    if (e.IsFolder()) {
      std::string folded = FoldCase(e.utf8Name);
      auto next = all.upper_bound(folded);
      if (next != all.end() && next->compare(0, folded.size(), folded) == 0) continue;
    }
    entries.push_back(e);
  }
}

// Entries go in the order in which the stub's list sorts their names (in the
// code page), from every input alike: the stub's search for each entry then
// starts right at its item. A folder entry sorts before everything below it,
// as a prefix does.
void SortAsTheList(std::vector<PlannedEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const PlannedEntry& a, const PlannedEntry& b) {
    return host::CompareListNames(a.name, b.name) < 0;
  });
}

// The name's extension, folded ("" when it has none).
std::string FoldedExtension(const std::string& name) {
  size_t slash = name.rfind('/'), dot = name.rfind('.');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  return dot == std::string::npos || dot <= start ? "" : FoldCase(name.substr(dot + 1));
}

// With --solid: the other entries first, as the list sorts them, then the
// files of the blocks ordered so that similar files meet (by extension, then
// file name, then path), cut into blocks of at least the block size (a larger
// file is a block of its own). Without: one unit per entry.
void PlanUnits(const CreateOptions& o, Plan& plan) {
  std::vector<PlannedEntry>& entries = plan.entries;
  if (o.solid) {
    auto solidStart = std::stable_partition(entries.begin(), entries.end(),
                                            [](const PlannedEntry& e) { return !GoesSolid(e); });
    std::vector<std::pair<std::vector<std::string>, PlannedEntry>> keyed;
    for (auto e = solidStart; e != entries.end(); ++e) {
      std::string base = e->name.substr(e->name.rfind('/') == std::string::npos ? 0 : e->name.rfind('/') + 1);
      keyed.push_back({{FoldedExtension(e->name), FoldCase(base), FoldCase(e->name), e->name}, *e});
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t first = (size_t)(solidStart - entries.begin());
    for (size_t i = 0; i < keyed.size(); i++) entries[first + i] = keyed[i].second;
  }
  for (size_t i = 0; i < entries.size(); i++) {
    bool solid = o.solid && GoesSolid(entries[i]);
    PlanUnit* last = plan.units.empty() ? nullptr : &plan.units.back();
    if (solid && last && last->solid && last->bytes < o.solidSize) {
      last->count++;
    } else {
      plan.units.push_back(PlanUnit());
      last = &plan.units.back();
      last->first = i;
      last->solid = solid;
    }
    last->bytes += entries[i].size;
  }
}

}  // namespace

bool GoesSolid(const PlannedEntry& e) { return e.source == PlannedEntry::FromFile && !e.IsFolder() && e.size > 0; }

bool MakePlan(const CreateOptions& o, Plan& plan, std::vector<std::string>& errors) {
  std::string error;
  if (!LoadStub(o.stubFile, plan.stub, error)) errors.push_back(error);
  else if (!o.elevation.empty() && !SetExecutionLevel(plan.stub, o.elevation, error))
    errors.push_back("--elevate: " + (o.stubFile.empty() ? "the embedded stub" : "the stub " + o.stubFile) +
                     " cannot ask for " + o.elevation + ": " + error);
  if (!CheckCodePage(o.codePage, error)) {
    errors.push_back(error);
    return false;
  }
  CodePage page{o.codePage};
  HeaderSettings& h = plan.header;
  h.flags = DefaultFlags;
  if (o.noFileList) h.flags &= (uint8_t)~FlagFileList;
  if (o.hideOverwrite) h.flags |= FlagHideOverwrite;
  if (o.keepExisting) h.flags &= (uint8_t)~FlagOverwriteMask;
  if (o.noSwitches) h.flags &= (uint8_t)~FlagSwitches;
  if (o.noTimes) h.flags &= (uint8_t)~FlagKeepTimes;
  if (o.noWait) h.flags &= (uint8_t)~FlagWaitForCommand;
  bool textsOk = ConvertText(page, "message", o.message, true, h.message, errors);
  textsOk &= ConvertText(page, "folder", o.folder, false, h.folder, errors);
  textsOk &= ConvertText(page, "command", o.command, false, h.command, errors);
  // The header's texts stay in the code page: other systems show them otherwise.
  const std::pair<const char*, const std::string*> texts[] = {
      {"message", &o.message}, {"folder", &o.folder}, {"command", &o.command}};
  for (const auto& text : texts)
    if (textsOk && !IsAscii(*text.second))
      Warn(std::string("the ") + text.first + " holds characters outside ASCII: they show as written only "
           "on Windows systems whose ANSI code page is " + std::to_string(o.codePage));
  if (textsOk) {
    std::string problem = HeaderProblem(h);
    if (problem.empty()) problem = CheckFolderText(h.folder);
    if (problem.empty())
      for (unsigned char c : h.command)
        if (c < 0x20) problem = "the command contains a control character";
    if (!problem.empty()) errors.push_back(problem);
    else WarnAboutHiddenMessage(h.message);
    WarnAboutQuotedFolder(o.command);
    if (o.folder.size() >= 2 && (o.folder[0] == '\'' || o.folder.back() == '\''))
      Warn("the folder " + o.folder + " has single quotes, which become part of its name; "
           "give the folder without them");
  }
  if (o.hasPassword) {
    // Zip tools do not agree on the bytes of an AES password outside ASCII (some
    // refuse to make one), so it would not open the package everywhere it is typed.
    bool ascii = IsAscii(o.password);
    if (!ascii && o.encryption != Encryption::ZipCrypto)
      errors.push_back("an AES password must be ASCII: zip tools do not agree on the bytes of other "
                       "characters (the traditional encryption, --encryption zipcrypto, takes them in the code page)");
    else if (!ascii)
      Warn("the password holds characters outside ASCII: it opens the package where the ANSI code page is " +
           std::to_string(o.codePage));
    if (o.password.empty()) errors.push_back("the password is empty");
    else if (ConvertText(page, "password", o.password, false, plan.password, errors) &&
             plan.password.size() > MaxPasswordBytes)
      errors.push_back("the password is " + std::to_string(plan.password.size()) +
                       " bytes long; the stub's prompt takes at most 79");
  }
  if (o.encryptionGiven && !o.hasPassword) errors.push_back("--encryption needs --password");
  if (o.level < 0 || o.level > 12) errors.push_back("the level must be 0 to 12");

  std::string outputProblem = OutputProblem(o.output);
  if (!outputProblem.empty()) errors.push_back(outputProblem);
  InputRules rules{o.output, o.codePage, o.excludes, false};
  std::set<size_t> matched;
  CollectInputs(o.inputs, rules, plan.entries, errors, matched);
  std::vector<std::string> listed;
  for (const std::string& list : o.filesFrom)
    if (!ReadFileList(list, listed, error)) errors.push_back(error);
  rules.fromList = true;
  CollectInputs(listed, rules, plan.entries, errors, matched);
  for (size_t i = 0; i < o.excludes.size(); i++)
    if (!matched.count(i)) Warn("--exclude " + o.excludes[i] + " left nothing out");
  WarnAboutCommandProgram(o.command, plan.entries);
  if (!o.hasPassword)
    for (const PlannedEntry& e : plan.entries)
      if (e.source == PlannedEntry::FromZip && e.zip.aes.version != 0)
        errors.push_back(e.origin + " is AES-encrypted; give its password with --password to copy it");
  CheckNames(plan.entries, errors);
  SortAsTheList(plan.entries);
  if (plan.entries.empty() && errors.empty()) errors.push_back("there is nothing to pack");
  if (plan.entries.size() > MaxEntries)
    errors.push_back(std::to_string(plan.entries.size()) +
                     " entries: a zip without ZIP64 holds at most 65535");
  for (const PlannedEntry& e : plan.entries) plan.totalBytes += e.size;
  if (o.solid && o.hasPassword && o.encryption == Encryption::ZipCrypto)
    errors.push_back("--solid takes AES encryption only: the traditional encryption's password check lets a wrong "
                     "password through once in 256 tries, and an entry of a solid block cannot be decoded twice");
  if (o.solid && o.level == 0) errors.push_back("--solid compresses: it takes a level of 1 to 12");
  PlanUnits(o, plan);
  plan.useEpoch = SourceDateEpoch(plan.epoch);
  if (plan.totalBytes > MaxEntrySize && errors.empty())
    Warn("the input is larger than 4 GB; the package must still come out below 4 GB");
  return errors.empty();
}

}  // namespace pack
