// vrsintese: the family's word synthesizer, the voice that speaks words
// when no speech engine is configured. Words are synthesized into memory
// with espeak-ng (Brazilian Portuguese) as 8-bit mono 11025 Hz samples, the
// format of the letter sounds, so that the playback engine plays them like
// any other sound and a key stops them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

constexpr int kSynthSampleRate = 11025;

// 0 when the voice is ready; 1 when the voice data cannot be found; 2 when
// the Brazilian Portuguese voice cannot be loaded.
int synthStart();
void synthRelease();
// The voice in use, for the start-up error message.
std::string synthVoiceName();
// Speed level 1 (slowest) to 5 (fastest).
void synthSetSpeedLevel(int level);

// The samples of `word` (Windows-1252 text). `shouldStop` is asked between
// pieces of synthesis; when it answers true the samples so far are returned.
std::vector<uint8_t> synthesizeWord(std::string_view word,
                                    const std::function<bool()>& shouldStop = {});

}  // namespace kalimbro
