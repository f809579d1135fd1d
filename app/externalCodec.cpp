// Conversions by an external program.
#include "app/externalCodec.h"

#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace kalimbro {
namespace {

// How the run ended, as far as the program's own status tells.
Conversion conversionOf(const ProcessResult& result) {
  if (result.kind == ProcessResult::Kind::gaveUp) return Conversion::gaveUp;
  if (result.kind == ProcessResult::Kind::notFound) return Conversion::missing;
  return result.succeeded() ? Conversion::done : Conversion::failed;
}

}  // namespace

Conversion runConverter(std::vector<std::string> args, std::string_view outputFile, FlushToDisk flush,
                        std::function<std::span<const uint8_t>()> input,
                        std::string (*outputArgument)(std::string_view), const FinishNewFile& finish) {
  // The program writes into the replacer's new file, which takes the
  // output's place only when the program has succeeded.
  FileReplacer output;
  const std::string outputName = output.open(outputFile, flush) ? output.newFileName() : std::string();
  if (outputName.empty()) return Conversion::failed;
  args.push_back(outputArgument(outputName));

  const Conversion conversion = conversionOf(runProgram(
      args, {.started = {}, .everySecond = [] { clickSound(); }, .giveUp = escapeTyped, .input = std::move(input)}));
  if (conversion != Conversion::done) return conversion;
  // LAME says nothing useful on failure (it exits 255 and may leave an
  // empty file); only a clean end with something written counts.
  if (fileSize(outputName).value_or(0) == 0) return Conversion::failed;
  return output.commit(finish) ? Conversion::done : Conversion::failed;
}

Conversion runDecoder(std::span<const std::string> args,
                      const std::function<bool(std::span<const uint8_t>)>& output) {
  bool refused = false;
  const Conversion conversion =
      conversionOf(runProgram(args, {.started = {},
                                     .everySecond = [] { clickSound(); },
                                     .giveUp = escapeTyped,
                                     .output = [&](std::span<const uint8_t> bytes) {
                                       refused = !output(bytes);
                                       return !refused;
                                     }}));
  return refused ? Conversion::failed : conversion;
}

}  // namespace kalimbro
