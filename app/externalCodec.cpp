// Conversions by an external program.
#include "app/externalCodec.h"

#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace kalimbro {

Conversion runConverter(std::vector<std::string> args, std::string_view outputFile, FlushToDisk flush) {
  // The program writes into the replacer's new file, which takes the
  // output's place only when the program has succeeded.
  FileReplacer output;
  const std::string outputName = output.open(outputFile, flush) ? output.newFileName() : std::string();
  if (outputName.empty()) return Conversion::failed;
  args.push_back(fileArgument(outputName));

  const ProcessResult result =
      runProgram(args, {.started = {}, .everySecond = [] { clickSound(); }, .giveUp = escapeTyped});
  if (result.kind == ProcessResult::Kind::gaveUp) return Conversion::gaveUp;
  if (result.kind == ProcessResult::Kind::notFound) return Conversion::missing;
  // LAME says nothing useful on failure (it exits 255 and may leave an
  // empty file); only a clean end with something written counts.
  if (!result.succeeded() || fileSize(outputName).value_or(0) == 0) return Conversion::failed;
  return output.commit() ? Conversion::done : Conversion::failed;
}

}  // namespace kalimbro
