// soundkit: the recorded sounds that the console family and the program play
// (letter and phonetic names, number words, the date and time words, signal
// words, telephone tones, the program's menu jingle and click), made at
// build time with the word synthesizer and tone code, so that a fresh build
// speaks fully. The makesoundkit tool writes them; the tests check them.
//
// Every sound is an 8-bit mono 11025 Hz PCM WAV file with the canonical
// 44-byte header. Letter-directory sounds are named as the speech layer asks
// for them; the program-directory sounds are named after their message key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

constexpr int kKitSampleRate = 11025;
// A number word is joined with its neighbours in a work area of this many
// data bytes, so no word file may hold more.
constexpr size_t kMaxNumberWordBytes = 30000;

enum class KitDirectory { letters, program };

enum class KitSoundKind {
  spoken,      // `text` said by the synthesizer
  numberWord,  // likewise, cut to kMaxNumberWordBytes
  dtmf,        // the telephone tone of the key `text`
  menuJingle,  // a few rising notes
  click,       // a short tick
};

struct KitSound {
  KitDirectory directory = KitDirectory::letters;
  std::string fileName;  // ".wav" included
  KitSoundKind kind = KitSoundKind::spoken;
  std::string text;      // Windows-1252
};

// Every sound of the kit, each file name once per directory.
std::vector<KitSound> soundKitContents();

// Whether the kit names character code c: every Windows-1252 code from 32 up
// that has a glyph (not 127 nor the five codes the code page leaves
// undefined).
bool hasLetterSound(uint8_t c);
// "_65.wav" for 'A'; "_FON65.wav" for its phonetic name.
std::string letterSoundName(uint8_t c);
std::string phoneticSoundName(uint8_t c);

// The row and column frequencies (Hz) of a telephone key: 0-9, *, #, A-D.
struct DtmfPair {
  int low = 0;
  int high = 0;
};
std::optional<DtmfPair> dtmfFrequencies(char key);
// "dtmf_5.wav"; the star key's file is "dtmf_X.wav".
std::string dtmfSoundName(char key);

// Cuts the near-silence before and after the sound in 8-bit samples,
// keeping a short margin on each side so words join without clicks. An
// all-silent input gives an empty result.
std::vector<uint8_t> trimSilence(std::span<const uint8_t> samples);

// The 8-bit samples of one sound; empty when it cannot be made. Spoken
// kinds need the synthesizer started (synthStart).
std::vector<uint8_t> makeKitSound(const KitSound& sound);

struct KitReport {
  bool ok = false;
  size_t files = 0;
  uint64_t bytes = 0;  // file sizes, headers included
  std::string error;   // what failed, when !ok
};

// Writes `sounds` into the two directories (Windows-1252 names, made when
// missing), starting the synthesizer for the spoken ones. Stops at the first
// sound that cannot be made or written.
KitReport writeKitSounds(std::string_view lettersDir, std::string_view programDir,
                         const std::vector<KitSound>& sounds);
// The whole kit.
KitReport writeSoundKit(std::string_view lettersDir, std::string_view programDir);

}  // namespace kalimbro
