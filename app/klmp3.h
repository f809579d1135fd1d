// klmp3: MP3 files through the external LAME program. An MP3 file is decoded
// to a WAV file for editing and a saved WAV file encoded back to MP3. Used by
// the working-file commands and the mix command.
#pragma once

#include <string_view>

#include "platform/file_replacer.h"

namespace kalimbro {

// How a run of LAME ended.
enum class Mp3Conversion {
  done,
  failed,  // LAME missing, failing or writing nothing
  gaveUp,  // the user pressed ESC while it ran
};

// Runs the LAME program (setting lameProgram) with `options` split into
// words, then the input and the output file, and waits for it, clicking
// once a second; ESC gives up. Done only when it ended with status 0 and
// wrote a non-empty output; the output file is replaced only then (lame
// writes into a hidden file beside it first), so a failure or a give-up
// never damages what was there. An output reached through a symbolic link
// (an alias) replaces the file the link points at. The output reaches the
// disk before it takes the old one's place unless `flush` says otherwise.
Mp3Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                         FlushToDisk flush = FlushToDisk::yes);
// runAndWait with lameDecodeOptions.
Mp3Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile);
// runAndWait with lameEncodeOptions.
Mp3Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File);
// What the user hears when a conversion did not happen: "Desistiu..." for
// a give-up, else KLERRCNV.
std::string_view conversionFailureMessage(Mp3Conversion conversion);

}  // namespace kalimbro
