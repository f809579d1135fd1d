// The file selector's name rules: name keys, masks, order, search and
// short names.
#include "console/file_names.h"

#include <algorithm>
#include <array>

#include "platform/codec.h"

namespace kalimbro {
namespace {

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

}  // namespace

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

FileList matchingFiles(const std::vector<DirectoryEntry>& entries, std::string_view patterns, int attributes) {
  FileList all;
  for (const DirectoryEntry& d : entries) {
    if (d.name.starts_with('.') && !(attributes & kAttrHidden)) continue;
    if (d.directory && !(attributes & kAttrDirectory)) continue;
    FileEntry e;
    e.nativeName = d.name;
    e.name = fromUtf8(d.name);
    e.shortName = shortFileName(e.name);
    e.size = d.size;
    e.modified = d.modified;
    e.directory = d.directory;
    all.push_back(std::move(e));
  }
  FileList found;
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

}  // namespace kalimbro
