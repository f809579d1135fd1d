// MP3 conversion with LAME.
#include "app/klmp3.h"

#include <string>
#include <vector>

#include "app/programState.h"
#include "platform/process.h"

namespace kalimbro {

Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                      FlushToDisk flush) {
  std::vector<std::string> args{program().settings.lameProgram};
  for (std::string& word : splitWords(options)) args.push_back(std::move(word));
  args.push_back(fileArgument(inputFile));
  return runConverter(std::move(args), outputFile, flush);
}

Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile) {
  // The decoded copy can always be made again from the MP3.
  return runAndWait(program().settings.lameDecodeOptions, mp3File, wavFile, FlushToDisk::no);
}

Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File) {
  return runAndWait(program().settings.lameEncodeOptions, wavFile, mp3File);
}

std::string_view conversionFailureMessage(Conversion conversion) {
  return conversion == Conversion::gaveUp ? "KLDESIST" : "KLERRCNV";
}

}  // namespace kalimbro
