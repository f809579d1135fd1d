// Opening and saving sound files of every kind.
#include "app/openSave.h"

#include <algorithm>
#include <vector>

#include "app/externalCodec.h"
#include "app/klMsg.h"
#include "app/klmp3.h"
#include "app/programState.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

bool convertedByAnotherProgram(std::optional<SoundKind> kind) {
  return kind == SoundKind::mp3 || kind == SoundKind::aac;
}

// ffmpeg quiet, asking nothing, reading `input`'s sound only.
std::vector<std::string> ffmpegReading(std::string_view input) {
  return {program().settings.ffmpegProgram, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
          "-i", fileArgument(input), "-vn"};
}

// Floating point, so that the reduction to 16 bits is dithered like every
// other deep file.
Conversion aacToWav(std::string_view aacFile, std::string_view wavFile) {
  std::vector<std::string> args = ffmpegReading(aacFile);
  args.insert(args.end(), {"-map", "0:a:0", "-c:a", "pcm_f32le", "-f", "wav"});
  // The decoded copy can always be made again.
  return runConverter(std::move(args), wavFile, FlushToDisk::no);
}

// The container goes by the name: raw ADTS for .aac, MP4 for .mp4, else
// the M4A flavour of MP4 that phones and players expect.
std::string aacContainer(std::string_view name) {
  const std::string upper = upperCaseAccented(fileNamePart(name));
  if (upper.ends_with(".AAC")) return "adts";
  if (upper.ends_with(".MP4")) return "mp4";
  return "ipod";
}

// 64 kb/s a channel: speech and music stay clear at a small size.
Conversion wavToAac(std::string_view wavFile, std::string_view aacFile, int32_t channels) {
  std::vector<std::string> args = ffmpegReading(wavFile);
  args.insert(args.end(),
              {"-c:a", "aac", "-b:a", channels == 2 ? "128k" : "64k", "-f", aacContainer(aacFile)});
  return runConverter(std::move(args), aacFile);
}

void sayConversionFailure(SoundKind kind, Conversion conversion) {
  if (kind == SoundKind::mp3) {
    sayMessage(conversionFailureMessage(conversion), 2);
    return;
  }
  switch (conversion) {
    case Conversion::gaveUp: sayMessage("KLDESIST", 2); return;
    case Conversion::missing: sayMessage("KLSEMFFM", 2); return;
    default: sayMessage("KLERRFFM", 2); return;
  }
}

void sayReduction(const Reduction& reduced) {
  if (reduced.fileBits != 0) sayMessage(reduced.fileFloat ? "KLREDFLT" : "KLREDBIT", 1);
  if (reduced.fileChannels != 0) sayMessage("KLREDCAN", 1);
}

}  // namespace

// The selector lets a pattern reach past its end ("*.AIF" takes .aiff and
// .aifc too) and lists a name twice when two patterns take it: an extension
// an earlier one begins is left out.
std::string soundFilePatterns(bool withMp3) {
  std::vector<std::string> listed;
  for (const std::string_view extension : soundFileExtensions()) {
    const std::string upper = upperCaseAccented(extension);
    if (!withMp3 && kindOfName("." + upper) == SoundKind::mp3) continue;
    if (std::ranges::none_of(listed, [&](const std::string& e) { return upper.starts_with(e); }))
      listed.push_back(upper);
  }
  std::string patterns;
  for (const std::string& e : listed) patterns += (patterns.empty() ? "*." : "|*.") + e;
  return patterns;
}

std::optional<SoundFileFormat> openSoundFile(std::string_view name, TAmostras& sound) {
  const std::optional<SoundKind> kind = kindOfFile(name);
  TempFile decoded;
  std::string readable(name);
  if (convertedByAnotherProgram(kind)) {
    if (!decoded.make()) {
      sayMessage("KLPRECPT", 2);
      return std::nullopt;
    }
    if (kind == SoundKind::aac) sayMessage("KLCNVAGU", 1);
    const Conversion conversion =
        kind == SoundKind::mp3 ? mp3ToWav(name, decoded.name()) : aacToWav(name, decoded.name());
    if (conversion != Conversion::done) {
      sayConversionFailure(*kind, conversion);
      return std::nullopt;
    }
    readable = decoded.name();
  }
  SoundLoad load = loadSound(readable, sound);
  decoded.remove();
  if (!load.ok()) {
    sayMessage(load.failure == LoadFailure::memory ? "KLFALMEM" : "KLARQERR", 1);
    return std::nullopt;
  }
  if (convertedByAnotherProgram(kind)) {
    // The converter's floating point is its own, not the file's depth.
    load.format = newFileFormat(*kind, sound.bitsPerSample());
    load.reduced.fileBits = 0;
    load.reduced.fileFloat = false;
  }
  sayReduction(load.reduced);
  return load.format;
}

bool writeSoundFile(std::string_view name, const TAmostras& sound, const SoundFileFormat& format) {
  if (!sound.markers().empty() && !keepsMarkers(format.kind)) sayMessage("KLMARFOR", 1);
  if (!convertedByAnotherProgram(format.kind)) return saveSound(name, sound, format);
  TempFile wav;
  if (!wav.make()) {
    sayMessage("KLPRECPT", 1);
    return false;
  }
  if (!sound.saveWav(wav.name(), FlushToDisk::no)) return false;
  if (format.kind == SoundKind::aac) sayMessage("KLCNVAGU", 1);
  const Conversion conversion = format.kind == SoundKind::mp3 ? wavToMp3(wav.name(), name)
                                                              : wavToAac(wav.name(), name, sound.channels());
  if (conversion != Conversion::done) {
    sayConversionFailure(format.kind, conversion);
    return false;
  }
  return true;
}

SoundFileFormat savingFormat(std::string_view name, const TAmostras& sound) {
  const int32_t bits = sound.bitsPerSample();
  const ProgramState& p = program();
  if (name != p.workingFileName) return newFileFormat(kindOfName(name).value_or(SoundKind::wav), bits);
  // A deeper file keeps its depth while the sound keeps 16 bits; a sound
  // brought to 8 bits (save-as) is written at 8.
  const SoundFileFormat& own = p.workingFormat;
  const bool deeper = own.floatingPoint || own.bitsPerSample > 16;
  return deeper && bits == 16 ? own : newFileFormat(own.kind, bits);
}

bool keepsItsName(std::string_view name) {
  const std::optional<SoundKind> kind = kindOfName(name);
  return kind.has_value() && kind != SoundKind::mp3;
}

bool TempFile::make() {
  name_ = makeTempFile("WAV");
  return !name_.empty();
}

void TempFile::remove() {
  if (!name_.empty()) removeFile(name_);
  name_.clear();
}

}  // namespace kalimbro
