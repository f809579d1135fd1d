// The sound in memory meets the devices: ranges played through the
// playback engine, recordings made through the recording engine. A key
// waiting stops playback, ESC ends a recording (see userSide.h).
#include "sound/gramost.h"

#include <algorithm>
#include <array>

#include "platform/wav_header.h"
#include "sound/userSide.h"
#include "sound/vrgrav.h"
#include "sound/vrwav.h"

namespace kalimbro {

void TAmostras::stopPlaying() { stopPlayback(); }

namespace {

// Five milliseconds of a 2 kHz square wave, added to what plays: heard
// over any sound, too short to hide a word.
constexpr int32_t kTickHeight = 6000;

PackedFrame withTick(PackedFrame frame, int64_t sinceTick, int32_t sampleRate) {
  const int64_t halfPeriod = std::max(1, sampleRate / 4000);
  const int32_t tick = (sinceTick / halfPeriod) % 2 ? -kTickHeight : kTickHeight;
  const FrameValues v = unpackFrame(frame);
  return packFrame(clampSample(v.left + tick), clampSample(v.right + tick));
}

}  // namespace

bool TAmostras::playRange(int64_t start, int64_t length, std::span<const int64_t> ticks) {
  constexpr int64_t kBlockFrames = 2048;
  playedOffset_ = 0;
  if (start + length - 1 > count_) return true;
  const int64_t tickFrames = std::max(1, sampleRate_ / 200);
  std::array<uint32_t, kBlockFrames> block;
  int64_t filled = 0;
  for (int64_t k = 0; k < length; ++k) {
    if (stopOnKey() && userSide().keyPressed()) return true;  // the key stays for the caller
    PackedFrame frame = getFrame(start + k);
    for (const int64_t tick : ticks)
      if (start + k >= tick && start + k < tick + tickFrames) frame = withTick(frame, start + k - tick, sampleRate_);
    block[filled++] = static_cast<uint32_t>(frame);
    if (filled == kBlockFrames || k == length - 1) {
      // Packed frames are the device's 16-bit stereo little-endian layout.
      std::array<uint8_t, kBlockFrames * 4> bytes;
      for (int64_t i = 0; i < filled; ++i) writeLe32(bytes.data() + 4 * i, block[i]);
      if (playBlock(std::span<const uint8_t>(bytes.data(), static_cast<size_t>(filled * 4)), sampleRate_, 16,
                    2, /*trueSpeed=*/true) != 0)
        return false;
      playedOffset_ = static_cast<int32_t>(k);
      filled = 0;
    }
  }
  return true;
}

void TAmostras::playAll(const std::function<void(int64_t end)>& ready) {
  stopPlaying();
  if (!ready) {
    playRange(0, count_);
  } else {
    // Pieces of whole device blocks, each handed over while the engine
    // still plays the one before.
    for (int64_t at = 0; at < count_; at += kPlayPieceFrames) {
      const int64_t n = std::min<int64_t>(kPlayPieceFrames, count_ - at);
      ready(at + n);
      if (!playRange(at, n) || (stopOnKey() && userSide().keyPressed())) break;
    }
  }
  while (isPlaying()) userSide().delay(100);
}

void TAmostras::setCaptureBuffers(int32_t n) { captureBuffers_ = std::clamp(n, 2, 8); }

bool TAmostras::recordFromDevice(std::string_view tempFileName) {
  // Each capture buffer holds 4096 frames.
  const int bufferBytes = bitsPerSample_ * 512 * channels_;
  inputFault_ = InputFault::none;
  if (const int rc = recStart(tempFileName, sampleRate_, bitsPerSample_, channels_, captureBuffers_, bufferBytes);
      rc != 0) {
    if (rc != -1) inputFault_ = InputFault::unavailable;  // -1 is the file
    return false;
  }
  recBegin();
  // A write that fails (a full disk) ends the recording at once, so that
  // the user hears it instead of speaking on into nothing.
  bool written = true;
  while (written && !userSide().recordingEndAsked()) {
    written = recPoll();
    if (written) userSide().delay(50);
  }
  written = recStop() && written;
  if (recInputLost()) inputFault_ = InputFault::lost;
  // What reached the file is the recording, even after a failure.
  const bool loaded = loadWav(tempFileName);
  return written && loaded;
}

}  // namespace kalimbro
