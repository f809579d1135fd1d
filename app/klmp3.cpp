// MP3 conversion with LAME.
#include "app/klmp3.h"

#include <string>
#include <vector>

#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrfala.h"
#include "platform/file_replacer.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace kalimbro {

Mp3Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                         FlushToDisk flush) {
  // LAME writes into the replacer's new file, which takes the output's
  // place only when LAME has succeeded.
  FileReplacer output;
  const std::string outputName = output.open(outputFile, flush) ? output.newFileName() : std::string();
  if (outputName.empty()) return Mp3Conversion::failed;
  std::vector<std::string> args{program().settings.lameProgram};
  for (std::string& word : splitWords(options)) args.push_back(std::move(word));
  args.push_back(fileArgument(inputFile));
  args.push_back(fileArgument(outputName));

  const ProcessResult result =
      runProgram(args, {.started = {}, .everySecond = [] { clickSound(); }, .giveUp = escapeTyped});
  if (result.kind == ProcessResult::Kind::gaveUp) return Mp3Conversion::gaveUp;
  // LAME says nothing useful on failure (it exits 255 and may leave an empty
  // file); only a clean end with something written counts.
  if (!result.succeeded() || fileSize(outputName).value_or(0) == 0) return Mp3Conversion::failed;
  return output.commit() ? Mp3Conversion::done : Mp3Conversion::failed;
}

Mp3Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile) {
  // The decoded copy can always be made again from the MP3.
  return runAndWait(program().settings.lameDecodeOptions, mp3File, wavFile, FlushToDisk::no);
}

Mp3Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File) {
  return runAndWait(program().settings.lameEncodeOptions, wavFile, mp3File);
}

std::string_view conversionFailureMessage(Mp3Conversion conversion) {
  return conversion == Mp3Conversion::gaveUp ? "KLDESIST" : "KLERRCNV";
}

}  // namespace kalimbro
