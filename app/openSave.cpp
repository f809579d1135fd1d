// Opening and saving sound files of every kind.
#include "app/openSave.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "app/externalCodec.h"
#include "app/klMsg.h"
#include "app/klmp3.h"
#include "app/programState.h"
#include "console/vrfala.h"
#include "formats/chapters.h"
#include "formats/wavStream.h"
#include "platform/number_text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

// What the user hears when ffmpeg's run gave nothing.
std::string_view ffmpegFailureMessage(Conversion conversion) {
  switch (conversion) {
    case Conversion::gaveUp: return "KLDESIST";
    case Conversion::missing: return "KLSEMFFM";
    default: return "KLERRFFM";
  }
}

// ffmpeg quiet and asking nothing; its input and output follow.
std::vector<std::string> ffmpegQuiet() {
  return {program().settings.ffmpegProgram, "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
}

// The chapters of an M4A file, as ffmpeg's metadata text gives them; none
// when it has none or ffmpeg could not read them.
std::vector<Chapter> aacChapters(std::string_view aacFile) {
  std::vector<std::string> args = ffmpegQuiet();
  args.insert(args.end(), {"-protocol_whitelist", "file", "-i", ffmpegFileArgument(aacFile), "-f", "ffmetadata",
                           "pipe:1"});
  std::string text;
  const Conversion conversion = runDecoder(args, [&](std::span<const uint8_t> bytes) {
    text.append(bytes.begin(), bytes.end());
    return true;
  });
  return conversion == Conversion::done ? chaptersOfFfmetadata(text) : std::vector<Chapter>{};
}

// ffmpeg's decoding of the first sound of `aacFile` into `sound`, read
// straight from its output into a sound of its own, which takes the
// sound's place only once ffmpeg has ended. Floating point, so that the
// reduction to 16 bits is dithered like every other deep file's. The
// channels mixed to stereo, if any, are set in `load`, and whether the
// file was cut short. Only the file protocol may be read, so that a file
// that names others (a playlist) reaches nothing else.
std::string_view decodeAac(std::string_view aacFile, TAmostras& sound, SoundLoad& load) {
  std::vector<std::string> args = ffmpegQuiet();
  // -xerror: a file cut short ends the run with a failure, after what came
  // before its end has been written, instead of ending it as a success.
  args.insert(args.end(), {"-xerror", "-protocol_whitelist", "file", "-i", ffmpegFileArgument(aacFile), "-vn",
                           "-map", "0:a:0", "-c:a", "pcm_f32le", "-f", "wav", "pipe:1"});
  TAmostras decoded;
  decoded.setMemoryLimit(sound.memoryLimit());
  WavStreamLoader loader(decoded);
  Conversion conversion = runDecoder(args, [&](std::span<const uint8_t> bytes) { return loader.take(bytes); });
  loader.finish();
  if (loader.refused() && decoded.outOfMemory()) return "KLFALMEM";
  if (conversion == Conversion::done && !loader.complete()) conversion = Conversion::failed;
  load.cutShort = conversion == Conversion::failed && loader.complete() && decoded.count() > 0;
  if (conversion != Conversion::done && !load.cutShort) return ffmpegFailureMessage(conversion);
  decoded.setMarkers(markersOfChapters(aacChapters(aacFile), decoded.sampleRate()));
  sound.takeOver(decoded);
  load.reduced.fileChannels = loader.channelsMixed();
  return {};
}

// The container goes by the name: raw ADTS for .aac, MP4 for .mp4, else
// the M4A flavour of MP4 that phones and players expect.
std::string aacContainer(std::string_view name) {
  const std::string upper = upperCaseAccented(fileNamePart(name));
  if (upper.ends_with(".AAC")) return "adts";
  if (upper.ends_with(".MP4")) return "mp4";
  return "ipod";
}

// Whether a file `name` of `kind` keeps the sound's markers: raw AAC has
// no place for an MP4's chapters.
bool keepsMarkers(std::string_view name, SoundKind kind) {
  const MarkerPlace place = soundKindRow(kind).markers;
  return place != MarkerPlace::none && (place != MarkerPlace::mp4Chapters || aacContainer(name) != "adts");
}

// The sound's markers as an MP4's chapters in ffmpeg's metadata text, in
// `file`. An MP4's chapter track starts at 0 whatever its first chapter
// says, and leaves out a chapter without a title: one titled with a blank
// (no marker) leads in to the first marker.
bool writeMp4Chapters(const TAmostras& sound, TempFile& file) {
  std::vector<Chapter> chapters = chaptersOf(sound.markers(), sound.sampleRate(), sound.count());
  if (chapters.front().startMs > 0) chapters.insert(chapters.begin(), {0, chapters.front().startMs, " "});
  const std::string text = ffmetadataText(chapters);
  if (!file.make()) return false;
  std::ofstream out(nativePath(file.name()), std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(text.data(), static_cast<std::streamsize>(text.size())).flush());
}

// At the format's bit rate; a new file at 64 kb/s a channel: speech and
// music stay clear at a small size. The sound's values go to ffmpeg's standard input
// as they are in memory; its markers as chapters from a metadata file.
Conversion encodeAac(const TAmostras& sound, std::string_view aacFile, const SoundFileFormat& format) {
  constexpr int32_t kNewFileBitsPerChannel = 64000;
  const int32_t bitRate = format.bitRate > 0 ? format.bitRate : kNewFileBitsPerChannel * sound.channels();
  const std::string rawFormat = std::endian::native == std::endian::little ? "s16le" : "s16be";
  std::vector<std::string> args = ffmpegQuiet();
  args.insert(args.end(), {"-f", rawFormat, "-ar", std::to_string(sound.sampleRate()), "-ac",
                           std::to_string(sound.channels()), "-i", "pipe:0"});
  TempFile chapters;
  if (!sound.markers().empty() && keepsMarkers(aacFile, format.kind)) {
    if (!writeMp4Chapters(sound, chapters)) return Conversion::failed;
    args.insert(args.end(), {"-protocol_whitelist", "file", "-f", "ffmetadata", "-i",
                             ffmpegFileArgument(chapters.name()), "-map", "0:a", "-map_chapters", "1"});
  }
  args.insert(args.end(), {"-c:a", "aac", "-b:a", std::to_string(bitRate), "-f", aacContainer(aacFile)});
  const std::span<const int16_t> samples = sound.samples();
  const std::span<const uint8_t> values(reinterpret_cast<const uint8_t*>(samples.data()), samples.size_bytes());
  bool given = false;
  return runConverter(
      args, aacFile, FlushToDisk::yes,
      [&] {
        const bool first = !given;
        given = true;
        return first ? values : std::span<const uint8_t>();
      },
      ffmpegFileArgument);
}

// The average bit rate of a lossy file that opened as `sound`: what it
// takes on the disk over how long it lasts.
int32_t averageBitRate(std::string_view name, const TAmostras& sound) {
  const std::optional<uint64_t> bytes = fileSize(name);
  if (!bytes || sound.count() == 0 || sound.sampleRate() <= 0) return 0;
  const double seconds = static_cast<double>(sound.count()) / sound.sampleRate();
  return static_cast<int32_t>(std::min<double>(static_cast<double>(*bytes) * 8 / seconds, INT32_MAX));
}

// What opening reduced, and how much of a file cut short was opened:
// "O arquivo termina antes do esperado; abri 2,1 segundos".
void sayWhatOpened(const SoundLoad& load, const TAmostras& sound) {
  const Reduction& reduced = load.reduced;
  if (reduced.fileBits != 0) sayMessage(reduced.fileFloat ? "KLREDFLT" : "KLREDBIT", 1);
  if (reduced.fileChannels != 0) sayMessage("KLREDCAN", 1);
  if (!load.cutShort) return;
  sayMessage("KLARQCUR", 0);
  writeSpeak(secondsText(sound.count(), sound.sampleRate()));
  sayMessage("KLSEGUND", 1);
}

// Tells what opening `name` as `load` gave, and the format to save it
// back in: a lossy file keeps its own rate (an MP3's said by its frames),
// and the channels opening mixed are noted.
SoundFileFormat formatOpened(std::string_view name, SoundLoad& load, const TAmostras& sound) {
  sayWhatOpened(load, sound);
  if (soundKindRow(load.format.kind).program == ExternalProgram::lame) {
    load.format.bitRate = mp3BitRate(name).value_or(0);
  } else if (!isPcmKind(load.format.kind)) {
    load.format.bitRate = averageBitRate(name, sound);
  }
  load.format.mixedChannels = load.reduced.fileChannels;
  return load.format;
}

// `readable` read by the program itself as the sound of the file `name`:
// the file itself, or the WAV it was converted into from `convertedFrom`.
std::optional<SoundFileFormat> readInProgram(std::string_view name, std::string_view readable, TAmostras& sound,
                                             std::optional<SoundKind> convertedFrom = {}) {
  SoundLoad load = loadSound(readable, sound);
  if (!load.ok()) {
    sayMessage(load.failure == LoadFailure::memory ? "KLFALMEM" : "KLARQERR", 1);
    return std::nullopt;
  }
  if (convertedFrom) load.format = newFileFormat(*convertedFrom, sound.bitsPerSample());
  return formatOpened(name, load, sound);
}

std::optional<SoundFileFormat> readThroughFfmpeg(std::string_view name, SoundKind kind, TAmostras& sound) {
  sayMessage("KLCNVAGU", 1);
  SoundLoad load;
  if (const std::string_view failure = decodeAac(name, sound, load); !failure.empty()) {
    sayMessage(failure, 2);
    return std::nullopt;
  }
  load.format = newFileFormat(kind, sound.bitsPerSample());
  return formatOpened(name, load, sound);
}

// Through a WAV copy in the temporary directory, removed once read.
std::optional<SoundFileFormat> readThroughLame(std::string_view name, SoundKind kind, TAmostras& sound) {
  TempFile decoded;
  if (!decoded.make()) {
    sayMessage("KLPRECPT", 2);
    return std::nullopt;
  }
  if (const Conversion conversion = mp3ToWav(name, decoded.name()); conversion != Conversion::done) {
    sayMessage(conversionFailureMessage(conversion), 2);
    return std::nullopt;
  }
  return readInProgram(name, decoded.name(), sound, kind);
}

bool writeThroughFfmpeg(std::string_view name, const TAmostras& sound, const SoundFileFormat& format) {
  sayMessage("KLCNVAGU", 1);
  const Conversion conversion = encodeAac(sound, name, format);
  if (conversion != Conversion::done) sayMessage(ffmpegFailureMessage(conversion), 2);
  return conversion == Conversion::done;
}

// Through a WAV copy in the temporary directory.
bool writeThroughLame(std::string_view name, const TAmostras& sound, const SoundFileFormat& format) {
  TempFile wav;
  if (!wav.make()) {
    sayMessage("KLPRECPT", 1);
    return false;
  }
  if (!sound.saveWav(wav.name(), FlushToDisk::no)) return false;
  const Conversion conversion = wavToMp3(wav.name(), name, format.bitRate);
  if (conversion != Conversion::done) sayMessage(conversionFailureMessage(conversion), 2);
  return conversion == Conversion::done;
}

}  // namespace

// The selector lets a pattern reach past its end ("*.AIF" takes .aiff and
// .aifc too) and lists a name twice when two patterns take it: an extension
// an earlier one begins is left out.
std::string soundFilePatterns(bool withTwinKinds) {
  std::vector<std::string> listed;
  for (const std::string_view extension : soundFileExtensions()) {
    const std::string upper = upperCaseAccented(extension);
    if (!withTwinKinds && isEditedThroughTwin("." + upper)) continue;
    if (std::ranges::none_of(listed, [&](const std::string& e) { return upper.starts_with(e); }))
      listed.push_back(upper);
  }
  std::string patterns;
  for (const std::string& e : listed) patterns += (patterns.empty() ? "*." : "|*.") + e;
  return patterns;
}

std::optional<SoundFileFormat> readSoundFile(std::string_view name, TAmostras& sound) {
  const std::optional<SoundKind> kind = kindOfFile(name);
  switch (kind ? soundKindRow(*kind).program : ExternalProgram::none) {
    case ExternalProgram::none: return readInProgram(name, name, sound);
    case ExternalProgram::ffmpeg: return readThroughFfmpeg(name, *kind, sound);
    case ExternalProgram::lame: return readThroughLame(name, *kind, sound);
  }
  return std::nullopt;
}

bool writeSoundFile(std::string_view name, const TAmostras& sound, const SoundFileFormat& format) {
  if (!sound.markers().empty() && !keepsMarkers(name, format.kind)) sayMessage("KLMARFOR", 1);
  switch (soundKindRow(format.kind).program) {
    case ExternalProgram::none: return saveSound(name, sound, format);
    case ExternalProgram::ffmpeg: return writeThroughFfmpeg(name, sound, format);
    case ExternalProgram::lame: return writeThroughLame(name, sound, format);
  }
  return false;
}

bool mayReplace(std::string_view shownName) {
  if (!fileExists(shownName)) return true;
  sayMessage("KLARQEXI", 0);
  writeSpeak(shownName);
  if (upperCaseAccented(askKey("KLSUBSTI", "KLAJSIMN")) == 'S') return true;
  sayMessage("KLDESIST", 1);
  return false;
}

SoundFileFormat savingFormat(std::string_view name, const TAmostras& sound) {
  const int32_t bits = sound.bitsPerSample();
  const ProgramState& p = program();
  if (name != p.workingFileName) return newFileFormat(kindOfName(name).value_or(SoundKind::wav), bits);
  // A sound brought to 8 bits (save-as) is written at 8.
  return formatKeepingDepth(p.workingFormat.kind, p.workingFormat, bits);
}

SoundFileFormat formatKeepingDepth(SoundKind kind, const SoundFileFormat& own, int32_t bits) {
  SoundFileFormat format = newFileFormat(kind, bits);
  if (kind == own.kind) format.bitRate = own.bitRate;
  const bool deeper = own.floatingPoint || own.bitsPerSample > 16;
  if (!deeper || bits != 16 || !isPcmKind(kind) || !isPcmKind(own.kind)) return format;
  const SoundKindRow& row = soundKindRow(kind);
  const bool keepsFloat = own.floatingPoint && row.holdsFloat;
  // Floating point where the kind holds none: its deepest integers.
  format.bitsPerSample = own.floatingPoint && !keepsFloat ? row.deepestBits
                                                          : std::min(row.deepestBits, own.bitsPerSample);
  format.floatingPoint = keepsFloat;
  return format;
}

bool keepsItsName(std::string_view name) { return kindOfName(name).has_value() && !isEditedThroughTwin(name); }

bool TempFile::make() {
  name_ = makeTempFile("WAV");
  return !name_.empty();
}

void TempFile::remove() {
  if (!name_.empty()) removeFile(name_);
  name_.clear();
}

}  // namespace kalimbro
