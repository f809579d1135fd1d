// externalCodec: sound conversions done by another program, LAME for MP3
// and ffmpeg for AAC. The program runs with an argument vector (no shell)
// while the user hears a click each second, and ESC gives it up. A
// conversion into a file takes the old file's place only when it ended
// cleanly and wrote something; a decoding may instead hand its output
// straight to the caller. Used by klmp3 and openSave.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_replacer.h"
#include "platform/process.h"

namespace kalimbro {

// How a run of a converting program ended.
enum class Conversion {
  done,
  failed,   // it failed or wrote nothing
  missing,  // the program is not there (not on PATH, not executable)
  gaveUp,   // the user pressed ESC while it ran
};

// Runs `args` (the program first, its input among them) with the name of
// the output's new version appended as the last argument, and waits for it.
// Done only when it ended with status 0 and wrote a non-empty file; the
// output replaces `outputFile` only then (see FileReplacer), so a failure or
// a give-up never damages what was there. The output reaches the disk
// before it takes the old one's place unless `flush` says otherwise. With
// `input`, the program's standard input is fed from it (see
// ProcessCallbacks::input). `outputArgument` writes the output's name as
// the program must be given it (ffmpegFileArgument for ffmpeg). `finish`
// may change the output before it takes the old file's place (see
// FileReplacer::commit); false from it makes the conversion failed.
Conversion runConverter(std::vector<std::string> args, std::string_view outputFile,
                        FlushToDisk flush = FlushToDisk::yes,
                        std::function<std::span<const uint8_t>()> input = {},
                        std::string (*outputArgument)(std::string_view) = fileArgument,
                        const FinishNewFile& finish = {});

// Runs `args` with its standard output handed to `output` piece by piece,
// and waits for it; false from `output` ends the run, as failed. Done when
// it ended with status 0.
Conversion runDecoder(std::span<const std::string> args,
                      const std::function<bool(std::span<const uint8_t>)>& output);

}  // namespace kalimbro
