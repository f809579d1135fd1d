// klmp3: MP3 files through the external LAME program. An MP3 file is decoded
// to a WAV file for editing and a saved WAV file encoded back to MP3. Used by
// the working-file commands and the mix command.
#pragma once

#include <string_view>

#include "app/externalCodec.h"

namespace kalimbro {

// Runs the LAME program (setting lameProgram) with `options` split into
// words, then the input and the output file, through runConverter: the
// output is replaced only when LAME succeeded. An output reached through a
// symbolic link (an alias) replaces the file the link points at.
Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                      FlushToDisk flush = FlushToDisk::yes);
// runAndWait with lameDecodeOptions.
Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile);
// runAndWait with lameEncodeOptions.
Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File);
// What the user hears when a conversion by LAME did not happen:
// "Desistiu..." for a give-up, else KLERRCNV.
std::string_view conversionFailureMessage(Conversion conversion);

}  // namespace kalimbro
