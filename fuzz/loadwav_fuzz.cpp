// libFuzzer target: any bytes as a WAV file, through the header walk in
// memory, through the stream loader in pieces (a converter's output) and
// through TAmostras::loadWav from disk. A stream taken must be a sound the
// program holds; a load that fails must leave the sound that was there; one
// that succeeds must agree with the walk and survive a save and reload
// unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/wavStream.h"
#include "fuzz/fuzz_files.h"
#include "platform/paths.h"
#include "platform/wav_header.h"
#include "sound/gramost.h"

namespace {

using namespace kalimbro;

const std::string& scratchName(int which) {
  static const std::string names[2] = {makeTempFile("WAV"), makeTempFile("WAV")};
  static const bool cleanup = (std::atexit(removeTempDirectory), true);
  (void)cleanup;
  return names[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource memory({data, size});
  WavLayout layout;
  const WavWalk walked = walkWavHeader(memory, layout);
  if (walked == WavWalk::ok) check(layout.dataOffset <= size && layout.dataOffset == memory.position());

  TAmostras streamed;
  streamed.setMemoryLimit(1 << 20);
  WavStreamLoader loader(streamed);
  const size_t piece = 1 + size % 7;
  for (size_t at = 0; at < size && loader.take({data + at, std::min(piece, size - at)}); at += piece) {
  }
  if (loader.finish() && loader.started()) {
    check(walked == WavWalk::ok);
    check(streamed.channels() == 1 || streamed.channels() == 2);
    check(streamed.bitsPerSample() == 8 || streamed.bitsPerSample() == 16);
    check(streamed.samples().size() == static_cast<size_t>(streamed.count()) * streamed.channels());
  }

  const std::string& input = scratchName(0);
  if (input.empty() || !writeFile(input, data, size)) return 0;

  TAmostras sound;
  for (int i = 0; i < 3; ++i) sound.setFrame(i, packFrame(i + 1, i + 1));
  // Odd sizes load under a memory limit small enough to refuse big sounds.
  if (size % 2) sound.setMemoryLimit(60000);
  if (!sound.loadWav(input)) {
    check(sound.count() == 3 && sound.channels() == 1 && sound.sampleRate() == 22050);
    for (int i = 0; i < 3; ++i) check(sound.getFrame(i) == packFrame(i + 1, i + 1));
    return 0;
  }
  check(walked == WavWalk::ok && layout.format.formatTag == 1);
  check(!sound.outOfMemory());
  const uint32_t frameBytes = layout.format.channels * (layout.format.bitsPerSample / 8u);
  check(static_cast<uint32_t>(sound.count()) == layout.dataBytes / frameBytes);
  check(sound.channels() == layout.format.channels);
  check(sound.sampleRate() == static_cast<int32_t>(layout.format.sampleRate));

  const std::string& copy = scratchName(1);
  check(sound.saveWav(copy));
  TAmostras back;
  check(back.loadWav(copy));
  check(back.count() == sound.count() && back.channels() == sound.channels() &&
        back.bitsPerSample() == sound.bitsPerSample() && back.sampleRate() == sound.sampleRate());
  check(std::equal(sound.samples().begin(), sound.samples().end(), back.samples().begin(),
                   back.samples().end()));
  return 0;
}
