// klmp3: MP3 files through the external LAME program. An MP3 file is decoded
// to a WAV file for editing and a saved WAV file encoded back to MP3. Used by
// the working-file commands and the mix command.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/externalCodec.h"

namespace kalimbro {

// Runs the LAME program (setting lameProgram) with `options` split into
// words, then the input and the output file, through runConverter: the
// output is replaced only when LAME succeeded. An output reached through a
// symbolic link (an alias) replaces the file the link points at. `finish`
// may change LAME's output before it takes the old file's place.
Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                      FlushToDisk flush = FlushToDisk::yes, const FinishNewFile& finish = {});
// runAndWait with lameDecodeOptions; the MP3's chapters become the WAV's
// cue points.
Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile);
// runAndWait with lameEncodeOptions, and an average bit rate (bits per
// second) when `bitRate` is not 0; the WAV's cue points become the MP3's
// chapters.
Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File, int32_t bitRate = 0);
// LAME's words for `options` (the settings' text) and an average rate
// (`bitRate` in bits per second; 0: the options alone). With a rate, a
// "-b N" or "-B N" of the options would hold it to a least or a most rate
// of the user's old choice: those go, and the rate comes last.
std::vector<std::string> lameEncodeWords(std::string_view options, int32_t bitRate);
// The bit rate of an MP3 file in bits per second: the average its Xing
// header gives, else its first frame's (a constant rate). Nothing when its
// first frame is not found.
std::optional<int32_t> mp3BitRate(std::string_view mp3File);
// The bit rate of the MP3 whose first frame starts `frame` (with its Xing
// header, if any) and whose frames take `audioBytes`; nothing when `frame`
// starts no Layer III frame.
std::optional<int32_t> mp3FrameBitRate(std::span<const uint8_t> frame, uint64_t audioBytes);
// What the user hears when a conversion by LAME did not happen:
// "Desistiu..." for a give-up, else KLERRCNV.
std::string_view conversionFailureMessage(Conversion conversion);

}  // namespace kalimbro
