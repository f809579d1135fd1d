// Fuzzes the WAV header walk of the playback engine: readWavInfo and
// playWavFile (on the "nulo" device, waiting for the end) over arbitrary
// bytes. A key is fed whenever the engine would wait, so that no input can
// hold the run for the length of the sound it claims.
#include <cstdint>
#include <fstream>
#include <string>

#include "console/VrCrt.h"
#include "platform/eventloop.h"
#include "platform/paths.h"
#include "sound/vrwav.h"

using namespace kalimbro;

namespace {

const std::string& prepare() {
  static const std::string file = [] {
    crtInit(nullptr);
    initPlayback();
    setOutputDevice("nulo");
    setPlayAsync(false);
    eventLoop().setIdleHook([] {
      if (!keyPressed()) {
        InputEvent key;
        key.kind = InputEvent::Kind::Char;
        key.ch = 27;
        crtHandleInput(key);
      }
      return true;
    });
    return tempDirectory() + "fuzz.wav";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& file = prepare();
  std::ofstream(nativePath(file), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  WavFormat format;
  uint64_t dataBytes = 0;
  int64_t dataOffset = 0;
  if (readWavInfo(file, format, dataBytes, dataOffset)) {
    if (dataOffset < 28 || dataOffset > static_cast<int64_t>(size)) __builtin_trap();
  }
  playWavFile(file);
  while (keyPressed()) readKey();
  return 0;
}
