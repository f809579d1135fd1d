// klmp3: MP3 files through the external LAME program. An MP3 file is decoded
// to a WAV file for editing and a saved WAV file encoded back to MP3. Used by
// the working-file commands and the mix command.
#pragma once

#include <string_view>

namespace kalimbro {

// Runs the LAME program (setting lameProgram) with `options` split into
// words, then the input and the output file, and waits for it, clicking
// once a second. True only when it ended with status 0 and wrote a
// non-empty output; the output file is replaced only then (lame writes
// into a file beside it first), so a failure never damages what was there.
bool runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile);
// runAndWait with lameDecodeOptions.
bool mp3ToWav(std::string_view mp3File, std::string_view wavFile);
// runAndWait with lameEncodeOptions.
bool wavToMp3(std::string_view wavFile, std::string_view mp3File);

}  // namespace kalimbro
