// MP3 conversion with LAME.
#include "app/klmp3.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/programState.h"
#include "console/vrfala.h"
#include "platform/codec.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace kalimbro {
namespace {

// The file LAME writes into: a hidden new file beside the output, renamed
// over the output only when LAME has succeeded, and removed otherwise.
class PendingOutput {
 public:
  explicit PendingOutput(std::string_view outputFile) : target_(outputFile) {
    const std::string dir = directoryPart(outputFile);
    std::string pattern = nativePath(dir + "." + fileNamePart(outputFile).substr(0, 200) + ".XXXXXX");
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return;
    // mkstemp makes the file private; the result gets the permissions a new
    // file would have, or those of the file it replaces.
    struct stat st;
    mode_t mode;
    if (stat(nativePath(outputFile).c_str(), &st) == 0) {
      mode = st.st_mode & 07777;
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    close(fd);
    name_ = fromUtf8(pattern);
  }
  ~PendingOutput() {
    if (!name_.empty()) removeFile(name_);
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  bool ok() const { return !name_.empty(); }
  const std::string& name() const { return name_; }
  bool commit() {
    if (rename(nativePath(name_).c_str(), nativePath(target_).c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string name_;
};

}  // namespace

bool runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile) {
  PendingOutput output(outputFile);
  if (!output.ok()) return false;
  std::vector<std::string> args{program().settings.lameProgram};
  for (std::string& word : splitWords(options)) args.push_back(std::move(word));
  args.emplace_back(inputFile);
  args.push_back(output.name());

  const ProcessResult result = runProgram(args, {.started = {}, .everySecond = [] { clickSound(); }});
  // LAME says nothing useful on failure (it exits 255 and may leave an empty
  // file); only a clean end with something written counts.
  if (!result.succeeded()) return false;
  const std::optional<uint64_t> size = fileSize(output.name());
  if (!size || *size == 0) return false;
  return output.commit();
}

bool mp3ToWav(std::string_view mp3File, std::string_view wavFile) {
  return runAndWait(program().settings.lameDecodeOptions, mp3File, wavFile);
}

bool wavToMp3(std::string_view wavFile, std::string_view mp3File) {
  return runAndWait(program().settings.lameEncodeOptions, wavFile, mp3File);
}

}  // namespace kalimbro
