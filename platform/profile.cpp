// Private-profile files on Linux. The file is handled as raw UTF-8 lines so
// that every line the program does not write survives byte for byte, even a
// line whose characters have no Windows-1252 form. Only section names, key
// names and the values read or written pass through the codec. A file
// written by an older program in Windows-1252 (not valid UTF-8) is still
// read: its bytes are taken as they are.
#include "platform/profile.h"

#include "platform/fd.h"
#include "platform/file_replacer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/codec.h"
#include "platform/paths.h"

namespace kalimbro {
namespace {

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\n", "\r\n" or empty for a last line without one
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";


bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Text of the file -> Windows-1252.
std::string decode(std::string_view raw) {
  return isValidUtf8(raw) ? fromUtf8(raw) : std::string(raw);
}

uint8_t foldCase(uint8_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;  // Latin-1 accented letters
  return c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldCase(static_cast<uint8_t>(a[i])) != foldCase(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

std::vector<Line> splitLines(std::string_view content) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    const size_t nl = content.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({std::string(content.substr(pos)), ""});
      break;
    }
    size_t textEnd = nl;
    if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
    lines.push_back({std::string(content.substr(pos, textEnd - pos)),
                     std::string(content.substr(textEnd, nl + 1 - textEnd))});
    pos = nl + 1;
  }
  return lines;
}

// The text of a line as the parser sees it (the first line without a BOM).
std::string_view lineBody(const std::vector<Line>& lines, size_t i) {
  std::string_view text = lines[i].text;
  if (i == 0 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  return text;
}

// The section name of a header line "[name]", or nothing.
std::optional<std::string> sectionName(std::string_view body) {
  body = trimmed(body);
  if (body.empty() || body.front() != '[') return std::nullopt;
  body.remove_prefix(1);
  const size_t close = body.find(']');
  if (close != std::string_view::npos) body = body.substr(0, close);
  return decode(trimmed(body));
}

struct KeyLine {
  std::string_view rawKey;  // trimmed, as in the file
  std::string_view rawValue;
};

std::optional<KeyLine> keyLine(std::string_view body) {
  const std::string_view t = trimmed(body);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{trimmed(t.substr(0, eq)), trimmed(t.substr(eq + 1))};
}

enum class ReadResult { Ok, Missing, Failed };

// Only a regular file is settings: a FIFO or a device put in its place is
// never waited on (opening does not block) nor read.
ReadResult readWholeFile(const std::string& native, std::string& out) {
  UniqueFd fd(open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::Failed;
  std::string content;
  char buf[8192];
  for (;;) {
    const ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::Failed;
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  out = std::move(content);
  return ReadResult::Ok;
}

// Replaces the file `path` by `content`, making the directory of the file it
// names (`native`, through its links) when missing.
bool replaceFile(std::string_view path, const std::string& native, std::string_view content) {
  std::error_code ec;
  const std::string dir = directoryPart(native);
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);
  if (ec) return false;
  FileReplacer out;
  return out.open(path) && out.write(content.data(), content.size()) && out.commit();
}

// A value is one line of the file: line breaks and zeros inside it would
// end the line early or start another, so they become blanks.
std::string oneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return out;
}

}  // namespace

std::string profileRead(std::string_view path, std::string_view section, std::string_view key,
                        std::string_view fallback, size_t maxLength) {
  std::string content;
  if (readWholeFile(nativePath(path), content) != ReadResult::Ok) return std::string(fallback);
  const std::vector<Line> lines = splitLines(content);
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view body = lineBody(lines, i);
    if (auto name = sectionName(body)) {
      inSection = sameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    const auto kl = keyLine(body);
    if (!kl || !sameName(decode(kl->rawKey), key)) continue;
    std::string value = decode(kl->rawValue);
    // A value wholly enclosed in matching quotes is given without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.size() > maxLength) value.resize(maxLength);
    return value;
  }
  return std::string(fallback);
}

bool profileWrite(std::string_view path, std::string_view section, std::string_view key,
                  std::string_view value) {
  // Writing through a link keeps the link and changes the file it names.
  const std::string native = replacedFile(nativePath(path));
  if (native.empty()) return false;

  std::string content;
  const ReadResult read = readWholeFile(native, content);
  if (read == ReadResult::Failed) return false;  // never replace a file that could not be read

  std::vector<Line> lines = splitLines(content);
  std::string eol = "\n";
  for (const Line& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }
  const std::string newValue = toUtf8(oneLine(value));

  std::optional<size_t> keyAt;         // the line holding the key
  std::optional<size_t> firstSection;  // header of the first matching section
  bool inSection = false;
  for (size_t i = 0; i < lines.size() && !keyAt; ++i) {
    const std::string_view body = lineBody(lines, i);
    if (auto name = sectionName(body)) {
      inSection = sameName(*name, section);
      if (inSection && !firstSection) firstSection = i;
      continue;
    }
    if (!inSection) continue;
    const auto kl = keyLine(body);
    if (kl && sameName(decode(kl->rawKey), key)) keyAt = i;
  }

  if (keyAt) {
    Line& l = lines[*keyAt];
    const std::string_view body = lineBody(lines, *keyAt);
    const std::string prefix = l.text.substr(0, l.text.size() - body.size());  // a BOM
    const std::string rawKey(keyLine(body)->rawKey);
    l.text = prefix + rawKey + "=" + newValue;
  } else {
    const std::string keyText = toUtf8(oneLine(key)) + "=" + newValue;
    if (firstSection) {
      // After the section's last line that is not blank, so that the blank
      // line before the next section stays where it is.
      size_t last = *firstSection;
      for (size_t j = last + 1; j < lines.size(); ++j) {
        const std::string_view body = lineBody(lines, j);
        if (sectionName(body)) break;
        if (!trimmed(body).empty()) last = j;
      }
      Line& before = lines[last];
      if (before.end.empty()) before.end = eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1, Line{keyText, eol});
    } else {
      if (!lines.empty()) {
        if (lines.back().end.empty()) lines.back().end = eol;
        if (!trimmed(lineBody(lines, lines.size() - 1)).empty()) lines.push_back(Line{"", eol});
      }
      lines.push_back(Line{"[" + toUtf8(oneLine(section)) + "]", eol});
      lines.push_back(Line{keyText, eol});
    }
  }

  std::string out;
  out.reserve(content.size() + newValue.size() + key.size() + section.size() + 8);
  for (const Line& l : lines) out += l.text + l.end;
  if (out == content && read == ReadResult::Ok) return true;  // nothing changes
  return replaceFile(path, native, out);
}

}  // namespace kalimbro
