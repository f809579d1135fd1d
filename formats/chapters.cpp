// Markers as chapters, and chapters in ffmpeg's metadata text.
#include "formats/chapters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <set>

#include "platform/codec.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

int64_t framesToMs(int64_t frames, int32_t sampleRate) { return (frames * 1000 + sampleRate / 2) / sampleRate; }
int64_t msToFrames(int64_t ms, int32_t sampleRate) { return (ms * sampleRate + 500) / 1000; }

// N of a title "Marcador N" that an unnamed marker gets.
std::optional<uint32_t> unnamedNumber(std::string_view title) {
  constexpr std::string_view kPrefix = "Marcador ";
  if (!title.starts_with(kPrefix)) return std::nullopt;
  uint32_t number = 0;
  const std::string_view digits = title.substr(kPrefix.size());
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || !markerNameFrom(title, number).empty())
    return std::nullopt;
  return number;
}

// What ffmpeg's metadata text escapes with a backslash.
std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// A line of metadata text split at its first unescaped '=', both sides
// unescaped; a line ends at an unescaped line end.
struct Entry {
  std::string key, value;
  bool hasValue = false;
};
std::vector<Entry> entriesOf(std::string_view text) {
  std::vector<Entry> entries(1);
  for (size_t i = 0; i < text.size(); ++i) {
    Entry& entry = entries.back();
    std::string& side = entry.hasValue ? entry.value : entry.key;
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      side.push_back(text[++i]);
    } else if (c == '\n') {
      entries.emplace_back();
    } else if (c == '=' && !entry.hasValue) {
      entry.hasValue = true;
    } else {
      side.push_back(c);
    }
  }
  return entries;
}

std::optional<int64_t> numberOf(std::string_view text) {
  int64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// A chapter being read, its times in its own time base.
struct ReadChapter {
  int64_t start = 0, end = 0, num = 1, den = 1000;
  std::string title;
  Chapter inMs() const {
    const auto ms = [&](int64_t t) {
      return den <= 0 ? 0 : std::llround(static_cast<double>(t) * 1000.0 * static_cast<double>(num) / static_cast<double>(den));
    };
    return {ms(start), ms(end), fromUtf8(title)};
  }
};

void readTimeBase(std::string_view value, ReadChapter& chapter) {
  const size_t slash = value.find('/');
  if (slash == std::string_view::npos) return;
  const std::optional<int64_t> num = numberOf(value.substr(0, slash)), den = numberOf(value.substr(slash + 1));
  if (num && den && *num > 0 && *den > 0) {
    chapter.num = *num;
    chapter.den = *den;
  }
}

}  // namespace

std::vector<Chapter> chaptersOf(const std::vector<SoundMarker>& markers, int32_t sampleRate, int64_t frames) {
  std::vector<Chapter> chapters;
  if (sampleRate <= 0) return chapters;
  for (size_t i = 0; i < markers.size(); ++i) {
    const int64_t end = i + 1 < markers.size() ? markers[i + 1].frame : std::max(frames, markers[i].frame);
    chapters.push_back({framesToMs(markers[i].frame, sampleRate), framesToMs(end, sampleRate), markerTitle(markers[i])});
  }
  return chapters;
}

std::vector<SoundMarker> markersOfChapters(const std::vector<Chapter>& chapters, int32_t sampleRate) {
  std::vector<SoundMarker> markers;
  if (sampleRate <= 0) return markers;
  std::set<uint32_t> taken;
  for (const Chapter& c : chapters)
    if (const std::optional<uint32_t> n = unnamedNumber(c.title)) taken.insert(*n);
  std::set<uint32_t> given;
  const auto isFree = [&](uint32_t n) { return !taken.contains(n) && !given.contains(n); };
  uint32_t ordinal = 0, next = 1;
  for (const Chapter& c : chapters) {
    if (trimmed(c.title).empty() || c.startMs < 0) continue;
    ++ordinal;
    const int64_t frame = msToFrames(c.startMs, sampleRate);
    const std::optional<uint32_t> n = unnamedNumber(c.title);
    if (n && given.insert(*n).second) {
      markers.push_back({*n, frame, {}});
      continue;
    }
    // A named marker is known by its place among the chapters, where that
    // number is free.
    while (!isFree(next)) ++next;
    const uint32_t number = isFree(ordinal) ? ordinal : next;
    given.insert(number);
    markers.push_back({number, frame, c.title});
  }
  return markers;
}

std::string ffmetadataText(const std::vector<Chapter>& chapters) {
  std::string text = ";FFMETADATA1\n";
  for (const Chapter& c : chapters) {
    text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(c.startMs) + "\nEND=" + std::to_string(c.endMs) +
            "\n";
    if (!c.title.empty()) text += "title=" + escaped(toUtf8(c.title)) + "\n";
  }
  return text;
}

std::vector<Chapter> chaptersOfFfmetadata(std::string_view text) {
  std::vector<Chapter> chapters;
  ReadChapter chapter;
  bool inChapter = false;
  const auto close = [&] {
    if (inChapter) chapters.push_back(chapter.inMs());
    inChapter = false;
  };
  for (const Entry& e : entriesOf(text)) {
    if (!e.hasValue && e.key.starts_with('[')) {
      close();
      inChapter = e.key == "[CHAPTER]";
      chapter = ReadChapter{};
    } else if (inChapter && e.hasValue) {
      if (e.key == "TIMEBASE") readTimeBase(e.value, chapter);
      if (e.key == "START") chapter.start = numberOf(e.value).value_or(0);
      if (e.key == "END") chapter.end = numberOf(e.value).value_or(0);
      if (e.key == "title") chapter.title = e.value;
    }
  }
  close();
  return chapters;
}

}  // namespace kalimbro
