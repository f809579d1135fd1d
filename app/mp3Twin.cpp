// The record of an MP3's WAV twin.
#include "app/mp3Twin.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/klArquivo.h"
#include "platform/codec.h"
#include "platform/file_replacer.h"
#include "platform/number_text.h"

namespace kalimbro {
namespace {

// The record's file in the twin's state folder.
constexpr std::string_view kRecordFile = "copia-mp3";

std::string recordPath(std::string_view twin) {
  if (twin.empty()) return {};
  const std::string dir = soundStateDirectory(twin);
  return dir.empty() ? std::string() : nativePath(dir) + std::string(kRecordFile);
}

std::string formatStamp(const FileStamp& stamp) {
  char text[80];
  std::snprintf(text, sizeof text, "%" PRIu64 " %" PRId64 " %" PRId64, stamp.size, stamp.seconds,
                stamp.nanoseconds);
  return text;
}

// The record's words, in order, read one at a time.
class Words {
 public:
  explicit Words(std::string_view text) : in_{std::string(text)} {}
  bool next(std::string& word) { return static_cast<bool>(in_ >> word); }
  bool expect(std::string_view word) {
    std::string got;
    return next(got) && got == word;
  }
  bool number(int64_t& value) {
    std::string word;
    if (!next(word)) return false;
    const std::optional<int64_t> read = wholeNumber(word);
    if (read) value = *read;
    return read.has_value();
  }
  bool stamp(FileStamp& stamp) {
    int64_t size = -1;
    if (!number(size) || size < 0) return false;
    stamp.size = static_cast<uint64_t>(size);
    return number(stamp.seconds) && number(stamp.nanoseconds);
  }

 private:
  std::istringstream in_;
};

// Replaced whole, so that a record is never half written.
void writeRecord(std::string_view twin, const TwinRecord& record) {
  const std::string dir = twin.empty() ? std::string() : soundStateDirectory(twin);
  if (dir.empty()) return;
  const std::string text = formatTwinRecord(record);
  FileReplacer out;
  if (out.open(dir + std::string(kRecordFile)) && out.write(text.data(), text.size())) out.commit();
}

}  // namespace

std::string formatTwinRecord(const TwinRecord& record) {
  std::string text = "mp3 " + (record.mp3 ? formatStamp(*record.mp3) : std::string("nenhum")) + "\n";
  text += "wav " + formatStamp(record.twin) + "\n";
  text += std::string("editado ") + (record.edited ? "1" : "0") + "\n";
  return text;
}

std::optional<TwinRecord> parseTwinRecord(std::string_view text) {
  Words words(text);
  TwinRecord record;
  if (!words.expect("mp3")) return std::nullopt;
  if (text.find("mp3 nenhum\n") == 0) {
    words.expect("nenhum");
  } else if (FileStamp mp3; words.stamp(mp3)) {
    record.mp3 = mp3;
  } else {
    return std::nullopt;
  }
  int64_t edited = -1;
  if (!words.expect("wav") || !words.stamp(record.twin) || !words.expect("editado") || !words.number(edited) ||
      (edited != 0 && edited != 1))
    return std::nullopt;
  record.edited = edited == 1;
  return record;
}

TwinUse twinUse(const std::optional<TwinRecord>& record, const std::optional<FileStamp>& mp3,
                const FileStamp& twin) {
  // A twin written since the program last wrote it, or never recorded
  // (left by an older version), holds something unknown.
  if (!record || record->twin != twin) return TwinUse::setAside;
  // The user's edits of this very MP3, or a copy decoded from it or
  // encoded into it: decoding again would only lose quality.
  if (record->mp3 == mp3) return TwinUse::open;
  return record->edited ? TwinUse::setAside : TwinUse::decode;
}

std::optional<TwinRecord> readTwinRecord(std::string_view twin) {
  const std::string path = recordPath(twin);
  if (path.empty()) return std::nullopt;
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parseTwinRecord(text.str());
}

void noteTwinDecoded(std::string_view twin, const std::optional<FileStamp>& mp3) {
  const std::optional<FileStamp> written = fileStamp(twin);
  if (!written) return;
  writeRecord(twin, {.mp3 = mp3, .twin = *written, .edited = false});
}

void noteTwinSaved(std::string_view twin) {
  const std::optional<FileStamp> written = fileStamp(twin);
  if (!written) return;
  // A twin saved without a record (a new name, or written again after its
  // encoding) belongs to the MP3 as it is now, or to none.
  TwinRecord record{.mp3 = fileStamp(mp3OfTwin(twin)), .twin = *written, .edited = true};
  if (const std::optional<TwinRecord> known = readTwinRecord(twin)) record.mp3 = known->mp3;
  writeRecord(twin, record);
}

void forgetTwin(std::string_view twin) {
  const std::string path = recordPath(twin);
  if (!path.empty()) std::remove(path.c_str());
}

bool twinIsPlainCopy(std::string_view twin) {
  const std::optional<FileStamp> now = fileStamp(twin);
  if (!now) return false;
  const std::optional<TwinRecord> record = readTwinRecord(twin);
  // Once its MP3 is gone or replaced, a copy is the last of that sound.
  return record && !record->edited && record->twin == *now && record->mp3 &&
         record->mp3 == fileStamp(mp3OfTwin(twin));
}

bool mp3HoldsTwin(std::string_view twin) {
  const std::optional<FileStamp> now = fileStamp(twin);
  const std::optional<TwinRecord> record = readTwinRecord(twin);
  return now && record && !record->edited && record->twin == *now && fileExists(mp3OfTwin(twin));
}

void dropUneditedTwin(std::string_view twin) {
  if (!isMp3Twin(twin)) return;
  if (!fileExists(twin)) {
    forgetTwin(twin);
    return;
  }
  if (!twinIsPlainCopy(twin)) return;
  if (removeFileAndAlias(twin)) forgetTwin(twin);
}

std::string setTwinAside(std::string_view twin) {
  // Behind an alias, the real file moves, beside itself.
  const std::string from = replacedFile(nativePath(twin));
  const std::string stem = from.substr(0, from.size() - 4);  // without ".wav"
  constexpr int kMostTries = 999;
  for (int n = 1; n <= kMostTries; ++n) {
    const std::string to = stem + ".anterior" + (n > 1 ? std::to_string(n) : std::string()) + ".wav";
    if (renameWithoutReplacing(from, to)) {
      forgetTwin(twin);
      return fromUtf8(to);
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace kalimbro
