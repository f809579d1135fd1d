// The talking file selector: the typed line, the list of matching files with
// its keys, marks and search. Folders are read through platform/directory,
// so the current directory never changes; the rules for names are in
// console/file_names.
#include "console/vrarq.h"

#include <algorithm>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "console/vrform.h"
#include "platform/codec.h"
#include "platform/directory.h"
#include "platform/eventloop.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

constexpr int kPageStep = 10;

// ---------------------------------------------------------------- colours

constexpr int kListBackground = 6;
constexpr int kPlainColour = 15, kMarkedColour = 2, kDirectoryColour = 3, kCurrentColour = 14;

// ---------------------------------------------------------------- what outlives a list

// The text searched for last, which Control+F5 searches again in a later
// list too, and the key that ended the last selection.
std::string lastSearchText;
uint8_t lastExitKey = 0;

// ---------------------------------------------------------------- the open list

struct ListWindow {
  int left = 1, top = 1, right = 80, bottom = 25;
  int firstVisible = 0;
  int width = 80;
  std::string prefix;
  int rows() const { return bottom - top + 1; }
  int lastVisible() const { return firstVisible + rows() - 1; }
};

int entryColour(const FileEntry& e) {
  if (e.marked) return kMarkedColour;
  if (e.directory) return kDirectoryColour;
  return kPlainColour;
}

// A list on the screen, from listFiles until the user leaves it.
class OpenList {
 public:
  OpenList(FileList list, const ListWindow& window) : list_(std::move(list)), window_(window) {}
  // The navigation loop until Enter, ESC or Tab: the index for Enter, -1
  // for ESC, -2 for Tab.
  int run(int startIndex);
  const FileEntry& entry(int i) const { return list_[i]; }

 private:
  void writeRow(int i, int colour);
  void drawEntry(int i);
  void drawVisibleRows();
  bool scrollTo(int i);
  bool isEntry(int i) const { return i >= 0 && i < static_cast<int>(list_.size()); }
  void setMark(int i, bool on);
  void markRange(int from, int to, bool on);
  void stepDown(bool shift);
  void stepUp(bool shift);
  void searchInList(bool again, bool anywhere);
  bool handleListKey(uint8_t key, uint8_t ext, bool shift);
  uint8_t runPass();

  FileList list_;
  ListWindow window_;
  int index_ = 0;
};

void OpenList::writeRow(int i, int colour) {
  const ListWindow& w = window_;
  std::string text = w.prefix + list_[i].name;
  text.resize(static_cast<size_t>(w.width), ' ');
  gotoXY(w.left, w.top + (i - w.firstVisible));
  textColor(colour);
  textBackground(kListBackground);
  crtWrite(text);
}

void OpenList::drawEntry(int i) {
  if (i < window_.firstVisible || i > window_.lastVisible() || !isEntry(i)) return;
  writeRow(i, entryColour(list_[i]));
}

void OpenList::drawVisibleRows() {
  for (int i = window_.firstVisible; i <= window_.lastVisible(); ++i) drawEntry(i);
}

// Scrolls the window so that entry `i` is in it; true when it moved.
bool OpenList::scrollTo(int i) {
  ListWindow& w = window_;
  const int before = w.firstVisible;
  if (i < w.firstVisible) w.firstVisible = i;
  if (i > w.lastVisible()) w.firstVisible = i - w.rows() + 1;
  if (w.firstVisible == before) return false;
  drawVisibleRows();
  return true;
}

void OpenList::setMark(int i, bool on) {
  if (isEntry(i)) list_[i].marked = on;
}

void OpenList::markRange(int from, int to, bool on) {
  for (int i = std::max(from, 0); i <= to && isEntry(i); ++i) list_[i].marked = on;
}

void OpenList::stepDown(bool shift) {
  if (shift && isEntry(index_)) {
    if (!list_[index_].marked) beepSound();
    list_[index_].marked = true;
  }
  ++index_;
  if (shift) setMark(index_, true);
}

void OpenList::stepUp(bool shift) {
  if (shift && isEntry(index_) && list_[index_].marked) {
    clickSound();
    list_[index_].marked = false;
  }
  --index_;
}

void OpenList::searchInList(bool again, bool anywhere) {
  if (!again) {
    speakSound("_BUSCAR");
    std::string typed;
    if (readSearchText(typed) == kEsc || typed.empty()) return;
    lastSearchText = searchKey(typed);
  }
  if (lastSearchText.empty()) return;
  const int found = findInList(list_, index_, lastSearchText, anywhere);
  if (found < 0) {
    speakSound("_NAOACH");
    return;
  }
  speakSound("_ACHEI");
  index_ = found;
}

// Handles one key of the list; true when it ends the pass.
bool OpenList::handleListKey(uint8_t key, uint8_t ext, bool shift) {
  const int last = static_cast<int>(list_.size()) - 1;
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
          markRange(0, std::min(index_, last), ext == kCtrlHome);
          beepSound();
          drawVisibleRows();
        }
        index_ = 0;
        return false;
      case kEnd:
      case kCtrlPageDown:
      case kCtrlEnd:
        if (shift) {
          markRange(index_, last, ext != kCtrlEnd);
          beepSound();
          drawVisibleRows();
        }
        index_ = last;
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
      if (isEntry(index_)) list_[index_].marked = !list_[index_].marked;
      return false;
    case '+': setMark(index_, true); return false;
    case '-': setMark(index_, false); return false;
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
uint8_t OpenList::runPass() {
  const int count = static_cast<int>(list_.size());
  bool first = true;
  uint8_t key = 0, ext = 0;
  for (;;) {
    bool ends = false;
    if (!first) {
      const int before = index_;
      drawEntry(before);
      ends = handleListKey(key, ext, lastKeyModifiers().shift);
      // A mark set while leaving an entry shows at once.
      if (index_ != before) drawEntry(before);
      index_ = std::clamp(index_, -1, count);
    }
    if (!isEntry(index_)) {
      beepSound();
      scrollTo(std::clamp(index_, 0, count - 1));
      gotoXY(window_.right, window_.bottom);
    } else {
      scrollTo(index_);
      if (!ends) {
        const FileEntry& e = list_[index_];
        writeRow(index_, kCurrentColour);
        gotoXY(window_.left, window_.top + (index_ - window_.firstVisible));
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

int OpenList::run(int startIndex) {
  index_ = std::clamp(startIndex, 0, static_cast<int>(list_.size()) - 1);
  window_.firstVisible = 0;
  scrollTo(index_);
  drawVisibleRows();
  uint8_t key;
  do {
    key = runPass();
  } while (key != kEnter && key != kEsc && key != kTab);
  // Enter beyond either end has no entry to give: it is taken as ESC.
  if (key == kEnter && !isEntry(index_)) key = kEsc;
  lastExitKey = key;
  if (key == kTab) return -2;
  if (key == kEsc) return -1;
  return index_;
}

}  // namespace

FileList buildFileList(std::string_view folder, std::string_view patterns, int attributes) {
  const auto entries = listDirectory(nativePath(folder));
  return entries ? matchingFiles(*entries, patterns, attributes) : FileList{};
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
  const size_t slash = mask.rfind('/');
  const std::string_view dir = slash == std::string_view::npos ? std::string_view() : mask.substr(0, slash + 1);
  const std::string_view pattern = mask.substr(dir.size());
  FileList list = buildFileList(dir, pattern, attributes);
  if (list.empty()) return;
  sortFileList(list, sortOrder);
  const std::string listed = absoluteDirectory(nativePath(dir));
  const std::string home = absoluteDirectory({});

  ListWindow w;
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

  OpenList open(std::move(list), w);
  const int index = open.run(0);
  if (index == -2) {
    result = "@TAB@";
  } else if (index >= 0) {
    const FileEntry& e = open.entry(index);
    // Without a name for the listed directory the bare name is all there is.
    const bool here = listed.empty() || listed == home;
    const std::string listedDir = listed.ends_with('/') ? listed : listed + "/";
    const std::string native = here ? e.nativeName : listedDir + e.nativeName;
    if (!utf8FitsCp1252(native) && !listed.empty()) result = aliasFor(listedDir + e.nativeName, e.name);
    if (result.empty()) result = fromUtf8(native);
  }
  saved.restore();
}

void selectFile(int rows, std::string_view patterns, std::string& result, const std::function<void()>& explain) {
  int x = whereX(), y = whereY();
  for (;;) {
    std::string typed;
    gotoXY(x, y);
    lastExitKey = editField(typed, x, y, true, 255, static_cast<bool>(explain));
    if (lastExitKey == kTab) continue;
    if (explain && lastExitKey == kF1) {
      crtWriteln();
      explain();
      reserveLines(rows);
      x = whereX();
      y = whereY();
      continue;
    }
    if (lastExitKey == kEsc) {
      crtRepaint();
      result.clear();
      return;
    }
    result = typed;
    if (lastExitKey != kUp && lastExitKey != kDown) return;

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

uint8_t selectorExitKey() { return lastExitKey; }

}  // namespace kalimbro
