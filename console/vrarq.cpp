// The talking file selector: the typed line, the list of matching files with
// its keys, marks and search, and the directory changes around it.
#include "console/vrarq.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>

#include "console/VrCrt.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "platform/codec.h"
#include "platform/eventloop.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

// ---------------------------------------------------------------- keys

constexpr uint8_t kTab = 9, kEnter = 13, kEsc = 27, kBackspace = 8, kSpace = 32;
constexpr uint8_t kFocusGained = 222, kFocusLost = 223;
// Extended codes.
constexpr uint8_t kHome = 71, kUp = 72, kPageUp = 73, kLeft = 75, kRight = 77, kEnd = 79,
                  kDown = 80, kPageDown = 81, kF5 = 63, kCtrlF5 = 98, kCtrlHome = 119,
                  kCtrlEnd = 117, kCtrlPageUp = 132, kCtrlPageDown = 118;

constexpr int kPageStep = 10;

// ---------------------------------------------------------------- colours

constexpr int kListBackground = 6;
constexpr int kPlainColour = 15, kMarkedColour = 2, kDirectoryColour = 3, kCurrentColour = 14;

// ---------------------------------------------------------------- name keys

// Bytes from 128 up as the letter they sort with; the range 128-165 holds
// the letters where the DOS code page has them.
constexpr std::array<uint8_t, 128> makeHighKeys() {
  std::array<uint8_t, 128> t{};
  for (auto& b : t) b = 254;
  auto set = [&t](std::initializer_list<int> bytes, uint8_t to) {
    for (int b : bytes) t[b - 128] = to;
  };
  auto range = [&t](int from, int to, uint8_t value) {
    for (int b = from; b <= to; ++b) t[b - 128] = value;
  };
  set({128, 135, 199, 231}, 'C');
  set({160, 142, 143}, 'A');
  range(131, 134, 'A');
  range(192, 197, 'A');
  range(224, 229, 'A');
  set({129, 150, 151, 154, 163}, 'U');
  range(217, 220, 'U');
  range(249, 252, 'U');
  set({130, 144}, 'E');
  range(136, 138, 'E');
  range(200, 203, 'E');
  range(232, 235, 'E');
  set({161}, 'I');
  range(139, 141, 'I');
  range(204, 207, 'I');
  range(236, 239, 'I');
  set({147, 148, 149, 153, 162}, 'O');
  range(210, 214, 'O');
  range(242, 246, 'O');
  set({152, 221, 253}, 'Y');
  set({164, 165, 209, 241}, 'N');
  set({215, 247}, 'X');
  set({198, 230}, 145);
  return t;
}
constexpr std::array<uint8_t, 128> kHighKeys = makeHighKeys();

uint8_t keyOf(uint8_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 128) return c;
  return kHighKeys[c - 128];
}

// Upper case of a Windows-1252 byte, accented letters included, as the
// file system and the locale compare names.
uint8_t foldUpper(uint8_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 224 && c <= 254 && c != 247) return c - 32;
  switch (c) {
    case 154: return 138;  // s caron
    case 156: return 140;  // oe
    case 158: return 142;  // z caron
    case 255: return 159;  // y diaeresis
    default: return c;
  }
}

std::string foldUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(foldUpper(static_cast<uint8_t>(c)));
  return out;
}

int compareBytes(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string extensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

// ---------------------------------------------------------------- patterns

bool globMatch(std::string_view p, std::string_view s) {
  size_t pi = 0, si = 0, starP = std::string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
    } else if (pi < p.size() && (p[pi] == '?' || p[pi] == s[si])) {
      ++pi;
      ++si;
    } else if (starP != std::string_view::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::vector<std::string_view> splitPieces(std::string_view patterns) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t bar = patterns.find('|', start);
    pieces.push_back(patterns.substr(start, bar == std::string_view::npos ? bar : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return pieces;
}

std::string_view vowelGroup(std::string_view piece) {
  if (piece.size() != 1) return {};
  switch (piece[0]) {
    case 'a': case 'A': return "a|\xE1|\xE0|\xE3|\xE2|\xE4";
    case 'e': case 'E': return "e|\xC9|\xE8|\xEA|\xEB";
    case 'i': case 'I': return "i|\xED|\xEC|\xEE|\xEF";
    case 'o': case 'O': return "o|\xF3|\xF2|\xF4|\xF5|\xF6";
    case 'u': case 'U': return "u|\xFA|\xF9|\xFB|\xFC";
    default: return {};
  }
}

// ---------------------------------------------------------------- directories

// The current directory, as the file system names it; empty when it
// cannot be had (a removed directory).
std::string nativeCurrentDirectory() {
  std::string buf(PATH_MAX, '\0');
  if (getcwd(buf.data(), buf.size()) == nullptr) return {};
  buf.resize(buf.find('\0'));
  return buf;
}

// Puts the current directory back however a listing ends.
class CurrentDirectoryGuard {
 public:
  // O_PATH: a directory the user may enter but not read is still held.
  CurrentDirectoryGuard() : fd_(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)), path_(nativeCurrentDirectory()) {}
  ~CurrentDirectoryGuard() {
    if (fd_ >= 0) {
      [[maybe_unused]] const int rc = fchdir(fd_);
      close(fd_);
    } else if (!path_.empty()) {
      [[maybe_unused]] const int rc = chdir(path_.c_str());
    }
  }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// ---------------------------------------------------------------- the open list

struct ListWindow {
  int left = 1, top = 1, right = 80, bottom = 25;
  int firstVisible = 0;
  int width = 80;
  std::string prefix;
  int rows() const { return bottom - top + 1; }
  int lastVisible() const { return firstVisible + rows() - 1; }
};

struct SelectorState {
  FileList list;
  ListWindow window;
  int index = 0;
  std::string searchText;  // kept for the repeated search
  uint8_t exitKey = 0;
};

SelectorState& selector() {
  static SelectorState state;
  return state;
}

int entryColour(const FileEntry& e) {
  if (e.marked) return kMarkedColour;
  if (e.directory) return kDirectoryColour;
  return kPlainColour;
}

void writeRow(int i, int colour) {
  SelectorState& s = selector();
  const ListWindow& w = s.window;
  std::string text = w.prefix + s.list[i].name;
  text.resize(static_cast<size_t>(w.width), ' ');
  gotoXY(w.left, w.top + (i - w.firstVisible));
  textColor(colour);
  textBackground(kListBackground);
  crtWrite(text);
}

void drawEntry(int i) {
  const SelectorState& s = selector();
  if (i < s.window.firstVisible || i > s.window.lastVisible() || i >= static_cast<int>(s.list.size())) return;
  writeRow(i, entryColour(s.list[i]));
}

void drawVisibleRows() {
  const SelectorState& s = selector();
  for (int i = s.window.firstVisible; i <= s.window.lastVisible(); ++i) drawEntry(i);
}

// Scrolls the window so that entry `i` is in it; true when it moved.
bool scrollTo(int i) {
  ListWindow& w = selector().window;
  const int before = w.firstVisible;
  if (i < w.firstVisible) w.firstVisible = i;
  if (i > w.lastVisible()) w.firstVisible = i - w.rows() + 1;
  if (w.firstVisible == before) return false;
  drawVisibleRows();
  return true;
}

bool isEntry(int i) { return i >= 0 && i < static_cast<int>(selector().list.size()); }

void setMark(int i, bool on) {
  if (isEntry(i)) selector().list[i].marked = on;
}

void markRange(int from, int to, bool on) {
  for (int i = std::max(from, 0); i <= to && isEntry(i); ++i) selector().list[i].marked = on;
}

void stepDown(bool shift) {
  SelectorState& s = selector();
  if (shift && isEntry(s.index)) {
    if (!s.list[s.index].marked) beepSound();
    s.list[s.index].marked = true;
  }
  ++s.index;
  if (shift) setMark(s.index, true);
}

void stepUp(bool shift) {
  SelectorState& s = selector();
  if (shift && isEntry(s.index) && s.list[s.index].marked) {
    clickSound();
    s.list[s.index].marked = false;
  }
  --s.index;
}

void searchInList(bool again, bool anywhere) {
  SelectorState& s = selector();
  if (!again) {
    speakSound("_BUSCAR");
    std::string typed;
    if (readSearchText(typed) == kEsc || typed.empty()) return;
    s.searchText = searchKey(typed);
  }
  if (s.searchText.empty()) return;
  const int found = findInList(s.list, s.index, s.searchText, anywhere);
  if (found < 0) {
    speakSound("_NAOACH");
    return;
  }
  speakSound("_ACHEI");
  s.index = found;
}

// Handles one key of the list; true when it ends the pass.
bool handleListKey(uint8_t key, uint8_t ext, bool shift) {
  SelectorState& s = selector();
  const int last = static_cast<int>(s.list.size()) - 1;
  if (key == 0) {
    switch (ext) {
      case kDown: stepDown(shift); return false;
      case kUp: stepUp(shift); return false;
      case kPageDown:
        for (int i = 0; i < kPageStep; ++i) stepDown(shift);
        return false;
      case kPageUp:
        for (int i = 0; i < kPageStep; ++i) stepUp(shift);
        return false;
      case kHome:
      case kCtrlPageUp:
      case kCtrlHome:
        if (shift) {
          markRange(0, std::min(s.index, last), ext == kCtrlHome);
          beepSound();
          drawVisibleRows();
        }
        s.index = 0;
        return false;
      case kEnd:
      case kCtrlPageDown:
      case kCtrlEnd:
        if (shift) {
          markRange(s.index, last, ext != kCtrlEnd);
          beepSound();
          drawVisibleRows();
        }
        s.index = last;
        return false;
      case kRight:
      case kLeft: return false;
      case kF5: searchInList(false, shift); return false;
      case kCtrlF5: searchInList(true, shift); return false;
      default: return true;
    }
  }
  switch (key) {
    case kSpace:
      if (isEntry(s.index)) s.list[s.index].marked = !s.list[s.index].marked;
      return false;
    case '+': setMark(s.index, true); return false;
    case '-': setMark(s.index, false); return false;
    case '*':
    case '/':
      markRange(0, last, key == '*');
      drawVisibleRows();
      return false;
    case kFocusGained: return false;
    case kFocusLost:
      while (!keyPressed()) eventLoop().waitForMessage();
      return false;
    default: return true;  // Enter, ESC, Tab and every other key
  }
}

// One pass of the navigation loop; returns the key that ended it (the
// extended code for an extended key).
uint8_t runPass() {
  SelectorState& s = selector();
  const int count = static_cast<int>(s.list.size());
  bool first = true;
  uint8_t key = 0, ext = 0;
  for (;;) {
    bool ends = false;
    if (!first) {
      const int before = s.index;
      drawEntry(before);
      ends = handleListKey(key, ext, lastKeyModifiers().shift);
      // A mark set while leaving an entry shows at once.
      if (s.index != before) drawEntry(before);
      s.index = std::clamp(s.index, -1, count);
    }
    if (!isEntry(s.index)) {
      beepSound();
      scrollTo(std::clamp(s.index, 0, count - 1));
      gotoXY(s.window.right, s.window.bottom);
    } else {
      scrollTo(s.index);
      if (!ends) {
        const FileEntry& e = s.list[s.index];
        writeRow(s.index, kCurrentColour);
        gotoXY(s.window.left, s.window.top + (s.index - s.window.firstVisible));
        if (key == 0 && ext == kRight) {
          spellText(e.name);
        } else if (key == 0 && ext == kLeft) {
          spellText(e.shortName);
        } else {
          if (e.marked) beepSound();
          speak(e.name);
        }
      }
    }
    if (ends) return key == 0 ? ext : key;
    waitSpeechEnd();
    key = readKey();
    ext = key == 0 ? readKey() : 0;
    first = false;
  }
}

// The navigation loop until Enter, ESC or Tab: the index for Enter, -1 for
// ESC, -2 for Tab.
int runFileList(int startIndex) {
  SelectorState& s = selector();
  s.index = std::clamp(startIndex, 0, static_cast<int>(s.list.size()) - 1);
  s.window.firstVisible = 0;
  scrollTo(s.index);
  drawVisibleRows();
  uint8_t key;
  do {
    key = runPass();
  } while (key != kEnter && key != kEsc && key != kTab);
  // Enter beyond either end has no entry to give: it is taken as ESC.
  if (key == kEnter && !isEntry(s.index)) key = kEsc;
  s.exitKey = key;
  if (key == kTab) return -2;
  if (key == kEsc) return -1;
  return s.index;
}

}  // namespace

// ---------------------------------------------------------------- pure pieces

std::string nameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(keyOf(static_cast<uint8_t>(c)));
  return key;
}

std::string nameSortKey(std::string_view name) {
  std::string key = nameKey(name);
  const size_t digits = std::min(key.find_first_not_of("0123456789"), key.size());
  if (digits > 0 && digits < 15) key.insert(0, 15 - digits, '0');
  return key;
}

std::string shortFileName(std::string_view name) {
  const size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string_view::npos && dot > 0;
  std::string stem, ext;
  for (char c : name.substr(0, hasExtension ? dot : name.size()))
    if (c != ' ' && c != '.' && stem.size() < 8) stem += c;
  if (hasExtension)
    for (char c : name.substr(dot + 1))
      if (c != ' ' && ext.size() < 3) ext += c;
  std::string out = foldUpper(stem);
  if (!ext.empty()) out += "." + foldUpper(ext);
  return out;
}

std::string widenVowelGroups(std::string_view patterns) {
  std::string out;
  bool firstPiece = true;
  for (std::string_view piece : splitPieces(patterns)) {
    if (!firstPiece) out += '|';
    firstPiece = false;
    const std::string_view group = vowelGroup(piece);
    out += group.empty() ? piece : group;
  }
  return out;
}

bool matchesPattern(std::string_view pattern, std::string_view name) {
  const std::string p = foldUpper(pattern), n = foldUpper(name);
  if (globMatch(p, n)) return true;
  // A final ".*" also stands for "no extension at all".
  if (p.size() >= 2 && p.ends_with(".*")) return globMatch(std::string_view(p).substr(0, p.size() - 2), n);
  return false;
}

FileList buildFileList(std::string_view patterns, int attributes) {
  FileList found;
  FileList all;
  if (DIR* dir = opendir(".")) {
    while (const dirent* d = readdir(dir)) {
      const std::string native = d->d_name;
      if (native == "." || native == "..") continue;
      if (native[0] == '.' && !(attributes & kAttrHidden)) continue;
      struct stat st;
      if (stat(native.c_str(), &st) != 0) continue;
      const bool isDir = S_ISDIR(st.st_mode);
      if (isDir ? !(attributes & kAttrDirectory) : !S_ISREG(st.st_mode)) continue;
      FileEntry e;
      e.nativeName = native;
      e.name = fromUtf8(native);
      e.shortName = shortFileName(e.name);
      e.size = static_cast<uint64_t>(st.st_size);
      e.modified = static_cast<int64_t>(st.st_mtime);
      e.directory = isDir;
      all.push_back(std::move(e));
    }
    closedir(dir);
  }
  const std::string widened = widenVowelGroups(patterns);
  for (std::string_view piece : splitPieces(widened)) {
    std::string pattern(piece);
    pattern += pattern.find('.') != std::string::npos ? "*" : "*.*";
    for (const FileEntry& e : all)
      if (matchesPattern(pattern, e.name)) found.push_back(e);
  }
  return found;
}

void sortFileList(FileList& list, int sortOrder) {
  auto byName = [](const FileEntry& a, const FileEntry& b) {
    const int c = compareBytes(foldUpper(nameSortKey(a.name)), foldUpper(nameSortKey(b.name)));
    if (c != 0) return c < 0;
    return compareBytes(a.nativeName, b.nativeName) < 0;
  };
  auto order = [sortOrder, &byName](const FileEntry& a, const FileEntry& b) {
    switch (sortOrder) {
      case 1: {
        const int c = compareBytes(foldUpper(extensionOf(a.name)), foldUpper(extensionOf(b.name)));
        if (c != 0) return c < 0;
        break;
      }
      case 2:
        if (a.size != b.size) return a.size < b.size;
        break;
      case 3:
        if (a.modified != b.modified) return a.modified < b.modified;
        break;
      default: break;
    }
    return byName(a, b);
  };
  std::stable_sort(list.begin(), list.end(), order);
}

std::string searchKey(std::string_view text) { return nameKey(foldUpper(text)); }

int findInList(const FileList& list, int current, std::string_view key, bool anywhere) {
  for (int i = std::max(current + 1, 0); i < static_cast<int>(list.size()); ++i) {
    const std::string name = searchKey(list[i].name);
    const size_t at = name.find(key);
    if (anywhere ? at != std::string::npos : at == 0) return i;
  }
  return -1;
}

// ---------------------------------------------------------------- keys and screens

uint8_t readSearchText(std::string& text) {
  text.clear();
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      // The code is taken first: the beep discards queued keys, and the
      // code is already queued behind its 0.
      readKey();
      beepSound();
    } else if (key == kBackspace) {
      if (text.empty()) {
        beepSound();
      } else {
        speakSound("_DEL");
        speakLetter(static_cast<uint8_t>(text.back()));
        text.pop_back();
      }
    } else if (key == kEnter) {
      return kEnter;
    } else if (key == kEsc) {
      text.clear();
      beepSound();
      beepSound();
      return kEsc;
    } else if (key >= 32 && key != kFocusGained && key != kFocusLost) {
      speakLetter(key);
      text += static_cast<char>(key);
    }
  }
}

void listFiles(int left, int top, int right, std::string& result, int sortOrder, int attributes,
               std::string_view mask, int bottom) {
  result.clear();
  SelectorState& s = selector();
  const CurrentDirectoryGuard home;
  const size_t slash = mask.rfind('/');
  const std::string_view dir = slash == std::string_view::npos ? std::string_view() : mask.substr(0, slash + 1);
  const std::string_view pattern = mask.substr(dir.size());
  if (!dir.empty() && chdir(nativePath(dir).c_str()) != 0) return;

  const std::string listed = nativeCurrentDirectory();
  s.list = buildFileList(pattern, attributes);
  if (s.list.empty()) return;
  sortFileList(s.list, sortOrder);

  ListWindow& w = s.window;
  w.left = std::clamp(left, 1, kScreenColumns);
  w.right = std::clamp(right, w.left, kScreenColumns);
  w.top = std::clamp(top, 1, kScreenRows);
  w.bottom = std::clamp(bottom, w.top, kScreenRows);
  // Nothing is written into the bottom-right cell of the screen.
  if (w.right == kScreenColumns && w.bottom == kScreenRows && w.right > w.left) w.right = kScreenColumns - 1;
  w.width = w.right - w.left + 1;
  w.prefix = w.rows() > 1 ? " " : "";
  w.firstVisible = 0;
  SavedScreenArea saved;
  saved.save(w.left, w.top, w.right, w.bottom);

  const int index = runFileList(0);
  if (index == -2) {
    result = "@TAB@";
  } else if (index >= 0) {
    const FileEntry& e = s.list[index];
    // Without a name for the listed directory the bare name is all there is.
    const bool here = listed.empty() || listed == home.path();
    const std::string nativeDir = listed.ends_with('/') ? listed : listed + "/";
    const std::string native = here ? e.nativeName : nativeDir + e.nativeName;
    if (!utf8FitsCp1252(native) && !listed.empty()) result = aliasName(nativeDir + e.nativeName, e.name);
    if (result.empty()) result = fromUtf8(native);
  }
  s.list.clear();
  saved.restore();
}

void selectFile(int rows, std::string_view patterns, std::string& result) {
  SelectorState& s = selector();
  const int x = whereX(), y = whereY();
  for (;;) {
    std::string typed;
    gotoXY(x, y);
    s.exitKey = editField(typed, x, y, true, 255);
    if (s.exitKey == kTab) continue;
    if (s.exitKey == kEsc) {
      crtRepaint();
      result.clear();
      return;
    }
    result = typed;
    if (s.exitKey != kUp && s.exitKey != kDown) return;

    std::string mask = trimmed(typed);
    if (!mask.empty() && !mask.ends_with('/') && directoryExists(mask)) mask += '/';
    const std::string directory = directoryPart(mask);
    if (mask.empty() || mask.ends_with('/')) mask += patterns;
    std::string chosen;
    listFiles(x, y, kScreenColumns, chosen, 0, kAttrArchive, mask, y + rows - 1);
    if (chosen == "@TAB@") {
      clickSound();
      clickSound();
      continue;
    }
    result = chosen.find('/') != std::string::npos ? chosen : directory + chosen;
    return;
  }
}

uint8_t selectorExitKey() { return selector().exitKey; }

}  // namespace kalimbro
