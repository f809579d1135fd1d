// The working file: choosing, loading, recording, saving and MP3.
#include "app/klArquivo.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "app/bitRate.h"
#include "app/klMsg.h"
#include "app/klmp3.h"
#include "app/mp3Twin.h"
#include "app/openSave.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vrarq.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "edit/klHistorico.h"
#include "formats/soundFiles.h"
#include "platform/codec.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace kalimbro {
namespace {

constexpr size_t kLongestTitle = 133;
constexpr int kSelectorRows = 10;
constexpr int kLongestName = 255;

// The raw command line, kept only when the program was given at least one
// argument.
std::optional<std::string>& commandLine() {
  static std::optional<std::string> line;
  return line;
}

bool endsWithUpper(std::string_view name, std::string_view upperTail) {
  return name.size() >= upperTail.size() &&
         upperCaseAccented(name.substr(name.size() - upperTail.size())) == upperTail;
}

// The file a name stands for as the user can find it: behind an alias in
// the temporary directory, the real file.
std::string placeOf(std::string_view name) { return fromUtf8(replacedFile(nativePath(name))); }

// Moves a twin out of the way and says where it went (or that it could
// not). False when it is still there.
bool keepTwinAside(std::string_view twin) {
  const std::string kept = setTwinAside(twin);
  if (kept.empty()) {
    sayMessage("KLWAVNGU", 0);
    writelnSpeak(placeOf(twin));
    return false;
  }
  sayMessage("KLWAVANT", 0);
  writelnSpeak(kept);
  return true;
}

// A twin about to be written as a new working file: a file already there
// that may hold edits goes aside first. False when it could not.
bool makeRoomForTwin(std::string_view twin) {
  if (!fileExists(twin)) {
    forgetTwin(twin);
    return true;
  }
  return twinIsPlainCopy(twin) || keepTwinAside(twin);
}

// The working sound at another quality and channel count; nothing when
// memory ran out.
std::unique_ptr<TAmostras> convertedSound(Quality quality, int32_t channels) {
  auto converted = std::make_unique<TAmostras>();
  converted->setMemoryLimit(memoryLimitFromSettings());
  converted->convertFrom(*program().soundBuffer, quality.sampleRate);
  // Each step starts afresh: a refusal is seen after the step it ended.
  if (converted->outOfMemory()) return nullptr;
  converted->setBitsPerSample(quality.bitsPerSample);
  converted->setChannels(channels);
  if (converted->outOfMemory()) return nullptr;
  return converted;
}

// The converted sound becomes the working sound; the cursor and the mark
// stay at the same times.
void takeOverConverted(TAmostras& converted) {
  ProgramState& p = program();
  const HistoryStepScope step("KLPCONV");
  const int64_t from = p.soundBuffer->sampleRate(), to = converted.sampleRate();
  const auto sameTime = [&](int32_t frame) {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{frame} * to / from, converted.count()));
  };
  p.currentPosition = sameTime(p.currentPosition);
  p.markedPosition = sameTime(p.markedPosition);
  p.soundBuffer->takeOver(converted);
}

// A file whose channels opening mixed to stereo is written over with the
// stereo sound only when the user says so: "O arquivo tem 8 canais; salvo
// em estéreo? ". Otherwise "Desistiu...".
bool mayMixChannels(const SoundFileFormat& file) {
  if (file.mixedChannels == 0) return true;
  sayMessage("KLARQTEM", 0);
  writeSpeakInt(file.mixedChannels);
  if (upperCaseAccented(askKey("KLCANEST", "KLAJSIMN")) == 'S') return true;
  sayMessage("KLDESIST", 1);
  return false;
}

// Save-as's new name, typed over the one the field shows; F1 with nothing
// after the cursor for it to read explains and asks again. The key that
// ended the field.
uint8_t askNewName(std::string& name) {
  sayMessage("KLNOMNAR", 1);
  for (;;) {
    reserveLines(2);
    const uint8_t end = editField(name, whereX(), whereY(), true, kLongestName, true);
    crtWriteln();
    if (end != kF1) return end;
    explainQuestion("KLAJNOMS", "KLNOMNAR");
  }
}

}  // namespace

// ---- The command line -------------------------------------------------------------

std::string rawCommandLine(std::span<const std::string> args) {
  std::string line;
  for (const std::string& arg : args) {
    const std::string word = fromUtf8(arg);
    if (!line.empty()) line += ' ';
    if (word.empty() || word.find_first_of(" \t") != std::string::npos) {
      line += '"' + word + '"';
    } else {
      line += word;
    }
  }
  return line;
}

// An argument naming a file whose path has no Windows-1252 form is replaced
// by an alias that reaches it, as the file selector does; any other stays.
std::string reachableArgument(const std::string& utf8Arg) {
  if (utf8FitsCp1252(utf8Arg)) return utf8Arg;
  std::string target = utf8Arg;
  if (!target.starts_with('/')) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return utf8Arg;
    target = std::string(cwd) + "/" + target;
  }
  const std::string alias = aliasFor(target, fromUtf8(fileNamePart(utf8Arg)));
  return alias.empty() ? utf8Arg : toUtf8(alias);
}

void setCommandLine(std::span<const std::string> utf8Args) {
  if (utf8Args.size() < 2) {
    commandLine().reset();
    return;
  }
  std::vector<std::string> args{utf8Args.front()};
  for (const std::string& arg : utf8Args.subspan(1)) args.push_back(reachableArgument(arg));
  commandLine() = rawCommandLine(args);
}

std::string commandLineFileName(std::string_view line) {
  std::string_view rest;
  if (!line.empty() && line.front() == '"') {
    // The quoted program path, its closing quote and the blank after it.
    const size_t close = line.find('"', 1);
    if (close != std::string_view::npos) rest = line.substr(std::min(line.size(), close + 2));
  } else {
    const size_t blank = line.find(' ');
    if (blank != std::string_view::npos) rest = line.substr(blank + 1);
  }
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    if (!rest.empty()) rest.remove_suffix(1);
  }
  return std::string(rest);
}

// ---- Names and titles ---------------------------------------------------------------

std::string workingWavName(std::string_view name) {
  std::string result(name);
  if (!keepsItsName(name)) result += ".wav";
  return result;
}

std::string saveAsWavName(std::string_view name) {
  std::string result(name);
  // Only the file-name part counts: a directory may hold a dot.
  if (isEditedThroughTwin(name) || fileNamePart(name).find('.') == std::string::npos) result += ".wav";
  return result;
}

bool isMp3Twin(std::string_view name) {
  if (!endsWithUpper(name, ".WAV")) return false;
  // Something comes before the original's extension.
  const std::string_view original = name.substr(0, name.size() - 4);
  return isEditedThroughTwin(original) && original.rfind('.') > 0;
}

std::string mp3OfTwin(std::string_view twin) { return std::string(twin.substr(0, twin.size() - 4)); }

std::string fileWindowTitle(std::string_view name, bool recording) {
  std::string title = recording ? "KALIMBRO Gravando... " : "KALIMBRO ";
  title += name;
  if (title.size() > kLongestTitle) {
    title.resize(kLongestTitle);
    title += "...";
  }
  return title;
}

Quality qualityForAnswer(uint8_t key) {
  switch (upperCaseAccented(key)) {
    case 'C': return {44100, 16};
    case 'T': return {11025, 8};
    default: return {22050, 16};
  }
}

int32_t channelsForAnswer(uint8_t key) {
  const uint8_t k = upperCaseAccented(key);
  return (k == 'E' || k == 'S') ? 2 : 1;
}

// ---- Choosing and loading ---------------------------------------------------------------

void chooseWorkingFile(bool atStartUp) {
  ProgramState& p = program();
  std::string name;
  bool ask = !(atStartUp && commandLine().has_value());
  if (!ask) name = commandLineFileName(*commandLine());
  bool fromSelector = false;
  for (;; ask = true) {
    if (ask) {
      reserveLines(kSelectorRows);
      sayMessage("KLNOMARQ", 1);
      selectFile(kSelectorRows, soundFilePatterns(true), name, [] { explainQuestion("KLAJNOME", "KLNOMARQ"); });
      fromSelector = true;
    }
    if (name.empty()) {
      const uint8_t exit = selectorExitKey();
      if (fromSelector && (exit == kEnter || exit == kEsc)) {
        p.workingFileName.clear();
        return;
      }
      sayMessage("KLERRO_N", 2);
      continue;
    }
    if (name.back() == '/') continue;  // a directory
    // The twin of an MP3 reached through an alias lives beside the real
    // MP3, not in the temporary directory the alias lives in.
    const std::string twin = name + ".wav";
    const bool mp3Name = isEditedThroughTwin(name);
    if (mp3Name) extendAlias(name, ".wav");
    const std::optional<FileStamp> found = mp3Name ? fileStamp(twin) : std::nullopt;
    if (mp3Name && !found) forgetTwin(twin);  // a record that outlived its twin
    if (mp3Name && fileExists(name)) {
      // A twin is opened instead of its MP3 only when it holds the user's
      // edits of this very MP3; whatever else it may hold is kept aside.
      const std::optional<FileStamp> mp3 = fileStamp(name);
      const TwinUse use = found ? twinUse(readTwinRecord(twin), mp3, *found) : TwinUse::decode;
      if (use == TwinUse::setAside && !keepTwinAside(twin)) continue;
      if (use != TwinUse::open) {
        crtWriteln();
        sayMessage("KLMP3WAV", 1);
        if (const Conversion decoded = mp3ToWav(name, twin); decoded != Conversion::done) {
          sayMessage(conversionFailureMessage(decoded), 2);
          continue;
        }
        noteTwinDecoded(twin, mp3);
      }
    }
    // The selector leaves the cursor at the end of its field: the name
    // goes on a line of its own. A name from the command line is said: the
    // user has not heard it yet.
    if (whereX() != 1) crtWriteln();
    if (fromSelector) crtWriteln(name);
    else writelnSpeak(name);
    setWindowTitle(fileWindowTitle(name, false));
    p.workingFileName = workingWavName(name);
    // Until the file is read (or a new one recorded), its name says what
    // it is.
    p.workingFormat = newFileFormat(kindOfName(p.workingFileName).value_or(SoundKind::wav), 16);
    return;
  }
}

void loadWorkingSound() {
  ProgramState& p = program();
  sayMessage("KLCRGSOM", 1);
  p.currentPosition = 0;
  p.markedPosition = 0;
  p.soundBuffer->setMemoryLimit(memoryLimitFromSettings());
  if (p.workingFileName.empty()) return keepWorkingSoundHistory();
  // A failed load leaves the sound in memory as it was.
  const std::optional<SoundFileFormat> format = readSoundFile(p.workingFileName, *p.soundBuffer);
  if (!format) {
    dropUneditedTwin(p.workingFileName);
    p.workingFileName.clear();
    return keepWorkingSoundHistory();
  }
  p.workingFormat = *format;
  startWorkingSoundHistory(SoundArrived::loaded);
}

// ---- Recording a new file ---------------------------------------------------------------

bool recordNewFile() {
  ProgramState& p = program();
  TAmostras& sound = *p.soundBuffer;
  const auto giveUp = [&p] {
    sayMessage("KLDESIST", 1);
    p.workingFileName.clear();
    return false;
  };

  const uint8_t qualityKey = askKey("KLRADTLF", "KLAJQUAL");
  if (qualityKey == kEsc) return giveUp();
  sound.clear();
  const Quality quality = qualityForAnswer(qualityKey);
  const uint8_t channelsKey = askKey("KLSTMONO", "KLAJCANA");
  if (channelsKey == kEsc) return giveUp();
  const int32_t channels = channelsForAnswer(channelsKey);

  sayMessage("KLINIGRV", 1);
  for (;;) {
    const uint8_t key = readKey();
    if (key == kEnter) break;
    if (key == kEsc) return giveUp();
    // Other extended keys are no answer; F1 explains.
    if (key == 0 && readKey() == kF1) explainQuestion("KLAJGRAV", "KLINIGRV");
  }

  // A WAV name is recorded into straight away; any other kind is recorded
  // into the temporary directory and written in its own format at the end.
  const SoundKind kind = kindOfName(p.workingFileName).value_or(SoundKind::wav);
  TempFile take;
  if (kind != SoundKind::wav && !take.make()) {
    sayMessage("KLPRECPT", 1);
    p.workingFileName.clear();
    return false;
  }
  setWindowTitle(fileWindowTitle(p.workingFileName, true));
  sound.clear();
  sound.createSized(channels, quality.sampleRate, quality.bitsPerSample, 0);
  sound.setCaptureBuffers(p.settings.recordBuffers);
  p.workingFormat = newFileFormat(kind, quality.bitsPerSample);
  bool recorded = sound.recordFromDevice(take.name().empty() ? p.workingFileName : take.name());
  // What was recorded into an MP3's twin is the user's own.
  if (isMp3Twin(p.workingFileName)) noteTwinSaved(p.workingFileName);
  // Whatever reached the take is kept, as a WAV recording keeps it.
  bool written = true;
  if (!take.name().empty() && sound.count() > 0)
    written = writeSoundFile(p.workingFileName, sound, p.workingFormat);
  sayMessage(!written ? "KLERRGRV" : recorded ? "KLOK" : recordingFailureKey(sound), 1);
  recorded = recorded && written;
  setWindowTitle(fileWindowTitle(p.workingFileName, false));
  return recorded;
}

void recordOrLoadWorkingSound() {
  ProgramState& p = program();
  if (!p.workingFileName.empty() && !fileExists(p.workingFileName)) {
    recordNewFile();
    // Given up, or nothing was made: there is nothing to load.
    if (p.workingFileName.empty() || !fileExists(p.workingFileName)) {
      p.workingFileName.clear();
      p.currentPosition = 0;
      p.markedPosition = 0;
      return keepWorkingSoundHistory();
    }
  }
  loadWorkingSound();
}

std::string_view recordingFailureKey(const TAmostras& sound) {
  if (sound.outOfMemory()) return "KLFALMEM";
  switch (sound.inputFault()) {
    case InputFault::unavailable: return "KLENTNAO";
    case InputFault::lost: return "KLENTPAR";
    case InputFault::none: break;
  }
  return "KLERRGRV";
}

// ---- Saving ------------------------------------------------------------------------------

SaveResult saveWorkingFile() {
  ProgramState& p = program();
  std::string name = p.workingFileName;
  bool namedMp3 = false;
  if (name.empty()) {
    const std::optional<std::string> typed = askValue("KLNOMARQ", "KLAJNOMS", AnswerAt::lineBelow);
    if (!typed) return SaveResult::gaveUp;
    name = *typed;
    if (name.empty()) {
      sayMessage("KLDESIST", 1);
      return SaveResult::gaveUp;
    }
    if (!mayReplace(name)) return SaveResult::gaveUp;
    // WAV data under an MP3 name would later be taken for an MP3: the sound
    // goes to its WAV twin and from there into the MP3.
    namedMp3 = isEditedThroughTwin(name);
    if (namedMp3) name += ".wav";
    // A twin already there is not this session's: it may hold edits.
    if (isMp3Twin(name) && !makeRoomForTwin(name)) {
      sayMessage("KLERRGRV", 1);
      return SaveResult::failed;
    }
  }
  // Written again, a lossy file would lose quality and a reduced one what
  // opening reduced: a file that holds the sound already stays as it is.
  if (name != p.workingFileName || !workingFileHoldsSound()) {
    if (name == p.workingFileName && !mayMixChannels(p.workingFormat)) return SaveResult::gaveUp;
    // A failed save leaves the file that was there untouched.
    const SoundFileFormat format = savingFormat(name, *p.soundBuffer);
    if (!writeSoundFile(name, *p.soundBuffer, format)) {
      sayMessage("KLERRGRV", 1);
      return SaveResult::failed;
    }
    if (isMp3Twin(name)) noteTwinSaved(name);
    p.workingFileName = name;
    p.workingFormat = format;
    noteWorkingSoundSaved();
    setWindowTitle(fileWindowTitle(name, false));
  }
  // "Saved" is said of the file the user knows: an MP3 is brought up to
  // date from its twin (one the user named leaves only the MP3; a twin
  // already encoded and removed has nothing to give). Should LAME fail, the
  // user hears where the sound is instead.
  bool mp3Ready = true;
  if (namedMp3) {
    mp3Ready = convertBackToMp3(name);
  } else if (isMp3Twin(name) && fileExists(name)) {
    mp3Ready = encodeTwinIntoMp3(name);
  }
  if (!mp3Ready) return SaveResult::saved;
  sayMessage("KLARQSLV", 1);
  return SaveResult::saved;
}

bool convertBackToMp3(std::string_view fileName, int32_t bitRate) {
  if (!isMp3Twin(fileName) || !encodeTwinIntoMp3(fileName, bitRate)) return false;
  // Only the MP3 stays, when the twin holds nothing more (its record goes
  // first, found through the name while the file is still there).
  dropUneditedTwin(fileName);
  if (fileExists(fileName)) return false;
  if (fileName == program().workingFileName) noteWorkingSoundSaved();
  return true;
}

std::string fileHoldingWorkingSound() {
  const std::string& name = program().workingFileName;
  return isMp3Twin(name) && !fileExists(name) ? mp3OfTwin(name) : name;
}

bool encodeTwinIntoMp3(std::string_view twin, int32_t bitRate) {
  if (mp3HoldsTwin(twin)) return true;
  sayMessage("KLWAVMP3", 1);
  const std::string mp3 = mp3OfTwin(twin);
  // wavToMp3 succeeds only when LAME ended cleanly and wrote a non-empty MP3.
  // Encoded again, an MP3 keeps its own rate.
  if (bitRate <= 0) bitRate = mp3BitRate(mp3).value_or(0);
  const Conversion encoded = wavToMp3(twin, mp3, bitRate);
  if (encoded == Conversion::done) {
    noteTwinDecoded(twin, fileStamp(mp3));
    return true;
  }
  // The program may be about to end: the user hears where the edits are.
  sayMessage(conversionFailureMessage(encoded), 1);
  sayMessage("KLALTARQ", 0);
  writelnSpeak(placeOf(twin));
  crtWriteln();
  return false;
}

void saveAs(std::string_view fileName) {
  ProgramState& p = program();
  const std::string original(fileName);
  const uint8_t keep = askKey("KLMANTOR", "KLAJMANT");
  if (keep == kEsc) {
    sayMessage("KLDESIST", 1);
    return;
  }
  if (upperCaseAccented(keep) == 'S') {
    // The save brought the MP3 up to date (or told why not): the twin goes.
    if (saveWorkingFile() == SaveResult::saved && mp3HoldsTwin(original)) convertBackToMp3(original);
    return;
  }

  std::string name = original;
  const uint8_t end = askNewName(name);
  if (end == kEsc || name.empty()) {
    sayMessage("KLDESIST", 1);
    return;
  }
  name = saveAsWavName(name);
  const bool newName = name != original;
  if (newName && !mayReplace(isMp3Twin(name) ? mp3OfTwin(name) : name)) return;

  const uint8_t qualityKey = askKey("KLRADTLF", "KLAJQUAO");
  if (qualityKey == kEsc) return;  // given up without a word
  // O: the sound as it is, at the depth its file had; no channels question.
  const bool asItIs = upperCaseAccented(qualityKey) == 'O';
  std::unique_ptr<TAmostras> converted;
  if (!asItIs) {
    const uint8_t channelsKey = askKey("KLSTMONO", "KLAJCANA");
    if (channelsKey == kEsc) {
      sayMessage("KLDESIST", 1);
      return;
    }
    converted = convertedSound(qualityForAnswer(qualityKey), channelsForAnswer(channelsKey));
    // A conversion cut short by the memory limit would lose the sound.
    if (!converted) {
      sayMessage("KLFALMEM", 1);
      return;
    }
  }
  // Until it is on disk the converted sound does not replace the sound in
  // memory: a failed save must not leave a lower quality for F2 to write
  // over the original. The kind is the name's (the working file's own
  // under its own name).
  const TAmostras& saving = converted ? *converted : *p.soundBuffer;
  const SoundKind kind = newName ? kindOfName(name).value_or(SoundKind::wav) : p.workingFormat.kind;
  SoundFileFormat format = asItIs ? formatKeepingDepth(kind, p.workingFormat, saving.bitsPerSample())
                                  : newFileFormat(kind, saving.bitsPerSample());
  // An MP3 is written as its twin and encoded from it.
  const SoundKind shownKind = isMp3Twin(name) ? kindOfName(mp3OfTwin(name)).value_or(kind) : kind;
  int32_t bitRate = 0;
  if (const std::optional<BitRateRange> range = bitRateRange(shownKind, saving.channels())) {
    const std::optional<int32_t> chosen = askBitRate(shownKind, *range);
    if (!chosen) return;
    bitRate = *chosen;
    if (shownKind == kind) format.bitRate = bitRate;
  }
  if ((newName && isMp3Twin(name) && !makeRoomForTwin(name)) || !writeSoundFile(name, saving, format)) {
    sayMessage("KLERRGRV", 1);
    return;
  }
  if (isMp3Twin(name)) noteTwinSaved(name);
  // The conversion is a step that undo can take back, in the history that
  // goes on under the new name.
  if (converted) takeOverConverted(*converted);
  p.workingFileName = name;
  p.workingFormat = format;
  noteWorkingSoundSavedAs();
  sayMessage("KLARQSLV", 2);
  setWindowTitle(fileWindowTitle(name, false));
  // The copy of an MP3 this session was editing goes, unless it holds edits.
  if (newName) dropUneditedTwin(original);
  convertBackToMp3(name, bitRate);
}

void dropUneditedWorkingTwin() { dropUneditedTwin(program().workingFileName); }

}  // namespace kalimbro
