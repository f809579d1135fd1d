// The divide command.
#include "edit/kldivide.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "app/klMsg.h"
#include "app/openSave.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrarq.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "platform/file_replacer.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

constexpr size_t kCopyBufferBytes = 65536;

// The WAV file being divided, open for reading.
class SourceWav {
 public:
  // False for a file that cannot be read, is no regular file or is not PCM.
  bool open(std::string_view name) {
    file_ = openRegularFile(name);
    if (!file_.valid()) return false;
    FdSource source(file_.get());
    if (walkWavHeader(source, layout_) != WavWalk::ok || layout_.format.formatTag != kWavFormatPcm)
      return false;
    struct stat st;
    if (fstat(file_.get(), &st) != 0) return false;
    // A file cut short holds less than its header says: only what is
    // there is divided, so every part's header tells its real length.
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t present = size > layout_.dataOffset ? size - layout_.dataOffset : 0;
    dataBytes_ = std::min<uint64_t>(layout_.dataBytes, present);
    const WavFormat& f = layout_.format;
    bytesPerSecond_ = uint64_t{f.sampleRate} * (f.bitsPerSample / 8u) * f.channels;
    return bytesPerSecond_ > 0;
  }

  int fd() const { return file_.get(); }
  const WavFormat& format() const { return layout_.format; }
  uint64_t dataOffset() const { return layout_.dataOffset; }
  uint64_t dataBytes() const { return dataBytes_; }
  uint64_t bytesPerSecond() const { return bytesPerSecond_; }

 private:
  UniqueFd file_;
  WavLayout layout_;
  uint64_t dataBytes_ = 0;
  uint64_t bytesPerSecond_ = 0;
};

// One part file: the header and `span` of the source's data. The file is
// replaced only once it is complete, so a destination that is the source
// itself, or a failure half-way, never destroys what was there.
bool writePart(std::string_view destination, const SourceWav& source, const PartSpan& span) {
  FileReplacer out;
  if (!out.open(destination)) {
    sayMessage("KLERRGRV", 1);
    return false;
  }
  const WavFormat& f = source.format();
  const auto header = makeWavHeader(static_cast<uint32_t>(span.length), f.sampleRate, f.channels,
                                    f.bitsPerSample);
  if (!out.write(header.data(), header.size())) {
    sayMessage("KLERRGRV", 1);
    return false;
  }
  std::vector<uint8_t> buffer(kCopyBufferBytes);
  uint64_t at = source.dataOffset() + span.offset;
  for (uint64_t left = span.length; left > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    const ssize_t got = pread(source.fd(), buffer.data(), want, static_cast<off_t>(at));
    if (got <= 0) return false;  // the source shrank while it was read
    if (!out.write(buffer.data(), static_cast<size_t>(got))) {
      sayMessage("KLERRGRV", 1);
      return false;
    }
    at += static_cast<uint64_t>(got);
    left -= static_cast<uint64_t>(got);
  }
  if (!out.commit()) {
    sayMessage("KLERRGRV", 1);
    return false;
  }
  return true;
}

std::string upperCased(std::string_view text) { return upperCaseAccented(text); }

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The name typed without an extension gets ".WAV"; names on disk mostly
// end in ".wav", which is taken when only that one exists. A name of
// another kind of sound (".flac", ".opus" ...) is taken as it is.
std::string completedSourceName(std::string name) {
  if (upperCased(name).find(".WAV") != std::string::npos || keepsItsName(name)) return name;
  name = trimmed(name);
  if (!fileExists(name + ".WAV") && fileExists(name + ".wav")) return name + ".wav";
  return name + ".WAV";
}

std::string askFileName(std::string_view questionKey) {
  reserveLines(10);
  std::string name;
  selectFile(10, soundFilePatterns(false), name, [questionKey] { explainQuestion("KLAJNOME", questionKey); });
  // The selector leaves the cursor at the end of its field: the name goes
  // on a line of its own instead of wrapping from the last column.
  if (whereX() != 1) crtWriteln();
  if (!name.empty()) crtWriteln(name);
  return name;
}

// The sound of `name` opened as the working file would be, written to
// `copy` and opened from there. False when it could not be; the user has
// heard why.
bool openThroughWavCopy(std::string_view name, TempFile& copy, SourceWav& source) {
  TAmostras sound;
  sound.setMemoryLimit(memoryLimitFromSettings());
  if (!readSoundFile(name, sound)) return false;
  if (!copy.make()) {
    sayMessage("KLPRECPT", 1);
    return false;
  }
  if (!sound.saveWav(copy.name(), FlushToDisk::no) || !source.open(copy.name())) {
    sayMessage("KLERRGRV", 1);
    return false;
  }
  return true;
}

// Seconds typed as readInt takes them, 0 for Enter alone; nothing when the
// user gave up.
std::optional<int64_t> askSeconds(std::string_view questionKey) {
  const std::optional<std::string> typed = askValue(questionKey, "KLAJSEGU");
  if (!typed) return std::nullopt;
  int64_t seconds = 0;
  takeTypedInt(*typed, seconds);
  return seconds;
}

void divideEqually(const SourceWav& source) {
  const std::optional<int64_t> asked = askSeconds("KLDIVSEG");
  if (!asked) return;
  int64_t seconds = *asked;
  if (seconds == 0) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (seconds < 0) seconds = 1;
  const std::optional<std::string> prefixTyped = askValue("KLINIDST", "KLAJPREF", AnswerAt::lineBelow);
  if (!prefixTyped) return;
  const std::string& prefix = *prefixTyped;

  const std::vector<PartSpan> parts = divisionPlan(source.dataBytes(), source.bytesPerSecond(), seconds);
  // One question for the whole division, naming the first part that exists.
  for (int64_t n = 1; n <= static_cast<int64_t>(parts.size()); ++n) {
    if (const std::string name = partFileName(prefix, n); fileExists(name)) {
      if (!mayReplace(name)) return;
      break;
    }
  }

  int64_t count = 0;
  bool failed = false;
  for (const PartSpan& part : parts) {
    ++count;
    const bool written = writePart(partFileName(prefix, count), source, part);
    speakSound("KLCLEK");
    if (!written) {
      failed = true;
      break;
    }
  }
  flushKeyboard();
  if (!failed) sayMessage("KLARFDIV", 1);
  sayMessage("KLNPART", 0);
  writeSpeakInt(count);
  crtWriteln();
  crtWriteln();
}

void extract(const SourceWav& source) {
  const std::optional<int64_t> startTyped = askSeconds("KLPONINI");
  if (!startTyped) return;
  const int64_t start = std::max<int64_t>(*startTyped, 0);
  const std::optional<int64_t> endTyped = askSeconds("KLPONFIN");
  if (!endTyped) return;
  const int64_t end = std::max(*endTyped, start);
  const PartSpan span = extractionSpan(source.dataBytes(), source.bytesPerSecond(), start, end);

  sayMessage("KLINFDST", 1);
  std::string destination = askFileName("KLINFDST");
  if (destination.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (isEditedThroughTwin(destination)) {
    sayMessage("KLNDIV", 1);
    return;
  }
  // In lower case, like the parts of a division: typed again without an
  // extension, the name is found by the mix command and at start-up.
  if (!endsWith(upperCased(destination), ".WAV")) destination += ".wav";
  if (!mayReplace(destination)) return;
  if (writePart(destination, source, span)) sayMessage("KLARFEXT", 1);
}

// Byte position of second `s`, held within the data.
uint64_t bytesAt(int64_t s, uint64_t dataBytes, uint64_t bytesPerSecond) {
  if (s <= 0) return 0;
  // Compared by division first: the product could not be held.
  if (static_cast<uint64_t>(s) > dataBytes / bytesPerSecond) return dataBytes;
  return static_cast<uint64_t>(s) * bytesPerSecond;
}

}  // namespace

std::vector<PartSpan> divisionPlan(uint64_t dataBytes, uint64_t bytesPerSecond, int64_t seconds) {
  std::vector<PartSpan> parts;
  if (dataBytes == 0 || bytesPerSecond == 0 || seconds < 1) return parts;
  const uint64_t partLength =
      static_cast<uint64_t>(seconds) > dataBytes / bytesPerSecond ? dataBytes
                                                                   : static_cast<uint64_t>(seconds) * bytesPerSecond;
  for (uint64_t at = 0; at < dataBytes; at += parts.back().length)
    parts.push_back({at, std::min(partLength, dataBytes - at)});
  return parts;
}

PartSpan extractionSpan(uint64_t dataBytes, uint64_t bytesPerSecond, int64_t start, int64_t end) {
  if (bytesPerSecond == 0) return {};
  const uint64_t first = bytesAt(start, dataBytes, bytesPerSecond);
  const uint64_t last = bytesAt(end, dataBytes, bytesPerSecond);
  return {first, last > first ? last - first : 0};
}

std::string partFileName(std::string_view prefix, int64_t number) {
  return std::string(prefix) + std::to_string(number) + ".wav";
}

void divideCommand() {
  sayMessage("KLNOMDIV", 1);
  std::string name = askFileName("KLNOMDIV");
  if (name.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (isEditedThroughTwin(name)) {
    sayMessage("KLNDIV", 1);
    return;
  }
  name = completedSourceName(std::move(name));
  if (!fileExists(name)) {
    sayMessage("KLARQNAO", 1);
    return;
  }
  // Any other sound (FLAC, Opus, a 24-bit WAV ...) is divided from a WAV
  // copy of what opening it gives; the parts are WAV files as always.
  SourceWav source;
  TempFile copy;
  if (!source.open(name) && !openThroughWavCopy(name, copy, source)) return;
  sayMessage("KLDIVPED", 0);
  const uint8_t key = readAnswer("KLDIVPED", "KLAJDIVI", AnswerEcho::spoken);
  if (key == kEsc) {
    crtWriteln();
    sayMessage("KLDESIST", 1);
    return;
  }
  crtWrite(std::string(1, static_cast<char>(key)));
  crtWriteln();
  if (key == 'N' || key == 'n') {
    extract(source);
  } else {
    divideEqually(source);
  }
}

}  // namespace kalimbro
