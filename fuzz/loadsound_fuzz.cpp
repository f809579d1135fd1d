// libFuzzer target: any bytes as a sound file of any kind, through the
// choice of kind and loadSound (libsndfile's readers and loadWav). A load
// that fails must leave the sound that was there; one that succeeds must
// give a sound the program can hold, of the kind its first bytes name, and
// a lossless one must survive a save in its own format and a reload
// unchanged.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/soundFiles.h"
#include "fuzz/fuzz_files.h"
#include "platform/paths.h"
#include "sound/gramost.h"

namespace {

using namespace kalimbro;

const std::string& scratchDirectory() {
  static const std::string dir = tempDirectory();
  static const bool cleanup = (std::atexit(removeTempDirectory), true);
  (void)cleanup;
  return dir;
}

constexpr std::array<const char*, 8> kNames = {"in.wav", "in.flac", "in.ogg", "in.opus",
                                               "in.aiff", "in.m4a", "in.mp3", "in.bin"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = scratchDirectory();
  if (dir.empty()) return 0;
  // The name matters only where the bytes name no kind.
  const std::string input = dir + kNames[size % kNames.size()];
  if (!writeFile(input, data, size)) return 0;
  const std::span<const uint8_t> first(data, std::min(size, kKindBytes));
  check(kindOfFile(input) == kindOfFile(input, first));

  TAmostras sound;
  for (int i = 0; i < 3; ++i) sound.setFrame(i, packFrame(i + 1, i + 1));
  // No input may take more than 32 MB; odd sizes load under a limit small
  // enough to refuse most sounds.
  sound.setMemoryLimit(size % 2 ? 60000 : int64_t{16} << 20);
  const SoundLoad load = loadSound(input, sound);
  if (!load.ok()) {
    check(sound.count() == 3 && sound.channels() == 1 && sound.sampleRate() == 22050);
    for (int i = 0; i < 3; ++i) check(sound.getFrame(i) == packFrame(i + 1, i + 1));
    return 0;
  }
  check(!sound.outOfMemory());
  check(sound.channels() == 1 || sound.channels() == 2);
  check(sound.bitsPerSample() == 8 || sound.bitsPerSample() == 16);
  check(sound.sampleRate() > 0);
  check(load.reduced.fileChannels == 0 || load.reduced.fileChannels > 2);
  // A tag in front leaves the kind to the name (an MP3 tag, but a FLAC
  // after it); every other kind the bytes name is the kind that loads.
  const std::optional<SoundKind> named = kindOfFile("in.bin", first);
  if (named && !(size >= 3 && data[0] == 'I' && data[1] == 'D' && data[2] == '3')) check(*named == load.format.kind);
  if (!isPcmKind(load.format.kind) || load.format.bitsPerSample < 16) return 0;
  // The FLAC encoder refuses some rates its decoder reads (above 65535 Hz
  // and not a multiple of 10): the round trip is held to the usual rates.
  constexpr std::array<int32_t, 13> kUsualRates = {8000,  11025, 12000, 16000, 22050,  24000, 32000,
                                                   44100, 48000, 88200, 96000, 176400, 192000};
  if (std::find(kUsualRates.begin(), kUsualRates.end(), sound.sampleRate()) == kUsualRates.end()) return 0;

  const std::string copy = dir + "copy";
  check(saveSound(copy, sound, load.format, FlushToDisk::no));
  TAmostras back;
  const SoundLoad again = loadSound(copy, back);
  check(again.ok() && again.format == load.format);
  check(back.count() == sound.count() && back.channels() == sound.channels() &&
        back.sampleRate() == sound.sampleRate());
  check(std::equal(sound.samples().begin(), sound.samples().end(), back.samples().begin(), back.samples().end()));
  return 0;
}
