// Chapters in Vorbis comments and ID3v2 tags, through TagLib.
#include "formats/chapterTags.h"

#include <taglib/chapterframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "platform/codec.h"

namespace kalimbro {
namespace {

TagLib::String taglibText(const std::string& cp1252) { return {toUtf8(cp1252), TagLib::String::UTF8}; }
std::string programText(const TagLib::String& text) { return fromUtf8(text.to8Bit(true)); }

// ---- Vorbis comments ----------------------------------------------------------------------

constexpr std::string_view kChapterKey = "CHAPTER";
constexpr std::string_view kNameSuffix = "NAME";

// "CHAPTER001" and the like: the key of chapter `index` (counted from 1).
std::string chapterKey(size_t index) {
  char key[32];
  std::snprintf(key, sizeof key, "CHAPTER%03zu", index);
  return key;
}

// HH:MM:SS.mmm
std::string chapterTime(int64_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

// Milliseconds of "H:MM:SS" with up to three digits after a point.
std::optional<int64_t> chapterTimeMs(std::string_view text) {
  int64_t parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, parts[i]);
    if (error != std::errc() || parts[i] < 0) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(next - text.data()));
    if (i < 2 && !text.starts_with(':')) return std::nullopt;
    if (i < 2) text.remove_prefix(1);
  }
  int64_t ms = 0;
  if (text.starts_with('.')) {
    text.remove_prefix(1);
    for (int digit = 0; digit < 3; ++digit) {
      const bool have = !text.empty() && text[0] >= '0' && text[0] <= '9';
      ms = ms * 10 + (have ? text[0] - '0' : 0);
      if (have) text.remove_prefix(1);
    }
  }
  return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000 + ms;
}

// The index of a key "CHAPTERnnn" or "CHAPTERnnnNAME" (`named`).
std::optional<size_t> chapterIndex(std::string_view key, bool& named) {
  if (!key.starts_with(kChapterKey)) return std::nullopt;
  key.remove_prefix(kChapterKey.size());
  named = key.ends_with(kNameSuffix);
  if (named) key.remove_suffix(kNameSuffix.size());
  size_t index = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), index);
  if (key.empty() || error != std::errc() || end != key.data() + key.size()) return std::nullopt;
  return index;
}

void removeChapterComments(TagLib::Ogg::XiphComment& comment) {
  std::vector<TagLib::String> keys;
  for (const auto& [key, values] : comment.fieldListMap()) {
    bool named = false;
    if (chapterIndex(key.to8Bit(), named)) keys.push_back(key);
  }
  for (const TagLib::String& key : keys) comment.removeFields(key);
}

void putChapterComments(TagLib::Ogg::XiphComment& comment, const std::vector<Chapter>& chapters) {
  removeChapterComments(comment);
  for (size_t i = 0; i < chapters.size(); ++i) {
    const std::string key = chapterKey(i + 1);
    comment.addField(key, chapterTime(chapters[i].startMs));
    comment.addField(key + std::string(kNameSuffix), taglibText(chapters[i].title));
  }
}

// Chapters have only starts here: each ends where the next starts.
std::vector<Chapter> chapterComments(const TagLib::Ogg::XiphComment* comment) {
  if (comment == nullptr) return {};
  std::map<size_t, Chapter> byIndex;
  std::map<size_t, bool> timed;
  for (const auto& [key, values] : comment->fieldListMap()) {
    bool named = false;
    const std::optional<size_t> index = chapterIndex(key.to8Bit(), named);
    if (!index || values.isEmpty()) continue;
    Chapter& chapter = byIndex[*index];
    if (named) {
      chapter.title = programText(values.front());
    } else if (const std::optional<int64_t> ms = chapterTimeMs(values.front().to8Bit())) {
      chapter.startMs = *ms;
      timed[*index] = true;
    }
  }
  std::vector<Chapter> chapters;
  for (const auto& [index, chapter] : byIndex)
    if (timed[index]) chapters.push_back(chapter);
  std::ranges::stable_sort(chapters, {}, &Chapter::startMs);
  for (size_t i = 0; i + 1 < chapters.size(); ++i) chapters[i].endMs = chapters[i + 1].startMs;
  if (!chapters.empty()) chapters.back().endMs = chapters.back().startMs;
  return chapters;
}

// ---- ID3v2 -------------------------------------------------------------------------------

constexpr unsigned int kNoOffset = 0xFFFFFFFF;

void putChapterFrames(TagLib::ID3v2::Tag& tag, const std::vector<Chapter>& chapters) {
  tag.removeFrames("CHAP");
  tag.removeFrames("CTOC");
  TagLib::ByteVectorList ids;
  for (size_t i = 0; i < chapters.size(); ++i) {
    const TagLib::ByteVector id(("chp" + std::to_string(i + 1)).c_str());
    auto title = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TIT2", TagLib::String::UTF8);
    title->setText(taglibText(chapters[i].title));
    auto chapter = std::make_unique<TagLib::ID3v2::ChapterFrame>(
        id, static_cast<unsigned int>(chapters[i].startMs), static_cast<unsigned int>(chapters[i].endMs),
        kNoOffset, kNoOffset);
    chapter->addEmbeddedFrame(title.release());
    tag.addFrame(chapter.release());
    ids.append(id);
  }
  // Players find the chapters through the table of contents.
  auto contents = std::make_unique<TagLib::ID3v2::TableOfContentsFrame>("toc", ids);
  contents->setIsTopLevel(true);
  contents->setIsOrdered(true);
  tag.addFrame(contents.release());
}

std::vector<Chapter> chapterFrames(TagLib::ID3v2::Tag* tag) {
  if (tag == nullptr) return {};
  std::vector<Chapter> chapters;
  for (TagLib::ID3v2::Frame* frame : tag->frameList("CHAP")) {
    const auto* chapter = dynamic_cast<const TagLib::ID3v2::ChapterFrame*>(frame);
    if (chapter == nullptr) continue;
    Chapter c{chapter->startTime(), chapter->endTime(), {}};
    const TagLib::ID3v2::FrameList& titles = chapter->embeddedFrameList("TIT2");
    if (!titles.isEmpty()) c.title = programText(titles.front()->toString());
    chapters.push_back(std::move(c));
  }
  std::ranges::stable_sort(chapters, {}, &Chapter::startMs);
  return chapters;
}

}  // namespace

bool writeChapterTags(const std::string& path, SoundKind kind, const std::vector<Chapter>& chapters) {
  switch (kind) {
    case SoundKind::flac: {
      TagLib::FLAC::File file(path.c_str(), false);
      if (!file.isValid()) return false;
      putChapterComments(*file.xiphComment(true), chapters);
      return file.save();
    }
    case SoundKind::vorbis: {
      TagLib::Ogg::Vorbis::File file(path.c_str(), false);
      if (!file.isValid() || file.tag() == nullptr) return false;
      putChapterComments(*file.tag(), chapters);
      return file.save();
    }
    case SoundKind::opus: {
      TagLib::Ogg::Opus::File file(path.c_str(), false);
      if (!file.isValid() || file.tag() == nullptr) return false;
      putChapterComments(*file.tag(), chapters);
      return file.save();
    }
    case SoundKind::mp3: {
      TagLib::MPEG::File file(path.c_str(), false);
      if (!file.isValid()) return false;
      putChapterFrames(*file.ID3v2Tag(true), chapters);
      return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                       TagLib::File::DoNotDuplicate);
    }
    default: return false;
  }
}

std::vector<Chapter> readChapterTags(const std::string& path, SoundKind kind) {
  switch (kind) {
    case SoundKind::flac: {
      TagLib::FLAC::File file(path.c_str(), false);
      return file.isValid() ? chapterComments(file.xiphComment()) : std::vector<Chapter>{};
    }
    case SoundKind::vorbis: {
      TagLib::Ogg::Vorbis::File file(path.c_str(), false);
      return file.isValid() ? chapterComments(file.tag()) : std::vector<Chapter>{};
    }
    case SoundKind::opus: {
      TagLib::Ogg::Opus::File file(path.c_str(), false);
      return file.isValid() ? chapterComments(file.tag()) : std::vector<Chapter>{};
    }
    case SoundKind::mp3: {
      TagLib::MPEG::File file(path.c_str(), false);
      return file.isValid() ? chapterFrames(file.ID3v2Tag()) : std::vector<Chapter>{};
    }
    default: return {};
  }
}

}  // namespace kalimbro
