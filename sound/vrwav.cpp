// The playback engine. One output device at a time, opened in the format of
// the blocks it plays: a block of another format waits until what plays has
// finished, then the device is closed and opened again. Blocks live in 16
// fixed buffers of 8192 bytes that the device reads until it reports them
// done; the reports arrive through the event loop and reach blockDone on
// the main thread.
#include "sound/vrwav.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/audio.h"
#include "platform/eventloop.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sound/userSide.h"

namespace kalimbro {
namespace {

constexpr int kBlockCount = 16;
constexpr size_t kBlockBytes = 8192;
constexpr size_t kMinDeviceBytes = 256;

struct Engine {
  std::array<std::array<uint8_t, kBlockBytes>, kBlockCount> blocks{};
  std::array<bool, kBlockCount> busy{};  // handed to the device, not done yet
  int maxQueued = kBlockCount;
  int queued = 0;
  int lastBlock = 0;
  AudioFormat format;
  std::unique_ptr<AudioOutput> device;
  std::string outputDevice;
  bool stopOnKey = true;
  bool playAsync = false;
  bool speedUp = false;
  bool fastMode = false;
  std::array<uint8_t, kBlockBytes> fastPiece{};
  // The device reported a failure: it is closed and opened again before
  // the next block.
  bool deviceBroken = false;
  // The failure episode: what is still to be told, whether it was told,
  // and whether the telling runs now.
  std::optional<OutputTrouble> troubleToTell;
  bool troubleTold = false;
  bool telling = false;
  OutputTroubleHandler troubleHandler;
};

Engine& engine() {
  static Engine e;
  return e;
}

// A rate as the device seam takes it: a header's 32-bit rate, or a rate
// sped up by half, is computed in 64 bits and kept within an int (the
// device refuses what it cannot play).
int deviceRate(int64_t rate) { return static_cast<int>(std::clamp<int64_t>(rate, 0, INT32_MAX)); }

// Opens a WAV file and walks its header: on success `file` stands at the
// first data byte. The format tag is left to the caller.
bool openWavFile(std::string_view name, UniqueFd& fd, WavLayout& layout) {
  fd = openRegularFile(name);
  if (!fd.valid()) return false;
  FdSource source(fd.get());
  return walkWavHeader(source, layout) == WavWalk::ok;
}

// Reads up to `size` bytes; fewer only at the end of the file.
size_t readPiece(int fd, uint8_t* into, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, into + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// Where the format and the data of a WAV image lie; false when it is not
// one. The data run at most to the end of the image.
bool parseWavImage(std::span<const uint8_t> image, AudioFormat& format, std::span<const uint8_t>& data) {
  MemorySource source(image);
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok) return false;
  format = {deviceRate(layout.format.sampleRate), layout.format.bitsPerSample, layout.format.channels};
  const size_t start = static_cast<size_t>(layout.dataOffset);
  data = image.subspan(start, static_cast<size_t>(std::min<uint64_t>(layout.dataBytes, image.size() - start)));
  return true;
}

// A failure is told once per episode: noted here, told as the play call
// ends (tellTrouble).
void noteTrouble(OutputTrouble trouble) {
  Engine& e = engine();
  if (!e.troubleTold && !e.troubleToTell) e.troubleToTell = trouble;
}

// A block played: the device works, and its next failure is news.
void endTroubleEpisode() {
  Engine& e = engine();
  e.troubleTold = false;
  e.troubleToTell.reset();
}

void tellTrouble() {
  Engine& e = engine();
  if (!e.troubleToTell || e.telling) return;
  const OutputTrouble trouble = *e.troubleToTell;
  e.troubleToTell.reset();
  e.troubleTold = true;
  if (!e.troubleHandler) return;
  // The message is spoken through this engine: what fails meanwhile is the
  // same episode, and is not told again.
  e.telling = true;
  e.troubleHandler(trouble);
  e.telling = false;
}

// A driver failure is not waited on: the device is opened again for the
// next sound, and the user is told as the play call ends.
void blockDone(int block, int status) {
  Engine& e = engine();
  if (block < 1 || block > kBlockCount) return;
  if (status == kBlockDone) {
    if (!e.deviceBroken) endTroubleEpisode();
  } else {
    e.deviceBroken = true;
    noteTrouble(OutputTrouble::stopped);
  }
  e.busy[block - 1] = false;
  e.queued = std::max(0, e.queued - 1);
}

void closeDevice() {
  Engine& e = engine();
  if (!e.device) return;
  if (e.queued > 0) {
    e.device->reset();
    eventLoop().processPending();
  }
  e.device->close();
  e.device.reset();
  e.queued = 0;
  e.busy.fill(false);
  e.deviceBroken = false;
}

int openOutput() {
  Engine& e = engine();
  if (e.device) return 0;
  std::unique_ptr<AudioOutput> device = makeAudioOutput(e.outputDevice);
  const int rc = device->open(e.format, [](int block, int status) { blockDone(block, status); });
  if (rc != 0) {
    noteTrouble(OutputTrouble::cannotOpen);
    return rc;
  }
  e.device = std::move(device);
  return 0;
}

int ensureFormat(int sampleRate, int bits, int channels) {
  Engine& e = engine();
  const AudioFormat wanted{sampleRate, bits, channels};
  if (!(wanted == e.format)) {
    while (isPlaying()) eventLoop().waitForMessage(20);
    closeDevice();
    e.format = wanted;
  }
  if (e.deviceBroken) closeDevice();
  return openOutput();
}

// The block number after the last one, in the cycle 1..maxQueuedBlocks;
// one still at the device (the limit was just lowered) is passed over.
int nextBlockNumber() {
  Engine& e = engine();
  int number = e.lastBlock % e.maxQueued + 1;
  for (int tries = 0; tries < kBlockCount && e.busy[number - 1]; ++tries) number = number % kBlockCount + 1;
  return e.busy[number - 1] ? 0 : number;
}

// 0 when the block is queued, or dropped because the queue did not drain
// in time; otherwise the device's refusal (it failed).
int queueBlock(std::span<const uint8_t> data) {
  Engine& e = engine();
  for (int i = 0; i < 40 && e.queued >= e.maxQueued && !e.deviceBroken; ++i) eventLoop().waitForMessage(50);
  if (e.deviceBroken || !e.device) return ENODEV;
  if (e.queued >= e.maxQueued) return 0;
  const int number = nextBlockNumber();
  if (number == 0) return 0;
  ++e.queued;
  e.lastBlock = number;

  // The device gets at least 256 bytes, in whole frames; the bytes added
  // are silence. An 8-bit mono piece that does not fill a block ends on
  // silence, so that its last byte does not click.
  const size_t length = std::min(data.size(), kBlockBytes);
  const size_t frameBytes = static_cast<size_t>(e.format.frameBytes());
  size_t deviceLength = std::max(length, kMinDeviceBytes);
  deviceLength += (frameBytes - deviceLength % frameBytes) % frameBytes;
  uint8_t* block = e.blocks[number - 1].data();
  std::copy_n(data.begin(), length, block);
  std::fill(block + length, block + deviceLength, e.format.silenceByte());
  const bool eightBitMono = e.format.bitsPerSample == 8 && e.format.channels == 1;
  if (eightBitMono && length > 0 && length < kBlockBytes) block[length - 1] = 128;

  e.busy[number - 1] = true;
  if (const int rc = e.device->queue(number, std::span<const uint8_t>(block, deviceLength)); rc != 0) {
    e.busy[number - 1] = false;
    --e.queued;
    e.deviceBroken = true;
    noteTrouble(OutputTrouble::stopped);
    return rc;
  }
  return 0;
}

bool keyStopsPlayback() { return engine().stopOnKey && userSide().keyPressed(); }

class LoopPlayer {
 public:
  void playLooping(const std::vector<uint8_t>& wavImage) {
    stop();
    image_ = wavImage;
    AudioFormat format;
    std::span<const uint8_t> data;
    if (!parseWavImage(image_, format, data) || !isSupportedAudioFormat(format)) return;
    data_ = data.first(data.size() - data.size() % static_cast<size_t>(format.frameBytes()));
    if (data_.empty()) return;
    std::unique_ptr<AudioOutput> device = makeAudioOutput(engine().outputDevice);
    if (device->open(format, [this](int block, int) { again(block); }) != 0) return;
    device_ = std::move(device);
    // Two copies in turn: one plays while the other waits, and each comes
    // back to the queue as soon as it is done.
    device_->queue(1, data_);
    device_->queue(2, data_);
  }

  void stop() {
    if (device_) {
      std::unique_ptr<AudioOutput> device = std::move(device_);
      device->close();
    }
    data_ = {};
    image_.clear();
  }

 private:
  void again(int block) {
    if (device_) device_->queue(block, data_);
  }

  std::vector<uint8_t> image_;
  std::span<const uint8_t> data_;
  std::unique_ptr<AudioOutput> device_;
};

LoopPlayer& loopPlayer() {
  static LoopPlayer player;
  return player;
}

}  // namespace

void initPlayback(std::string_view outputDevice) {
  closeDevice();
  Engine& e = engine();
  e.maxQueued = kBlockCount;
  e.queued = 0;
  e.lastBlock = 0;
  e.busy.fill(false);
  e.format = {};
  e.stopOnKey = true;
  e.playAsync = false;
  e.speedUp = false;
  e.fastMode = false;
  e.outputDevice = std::string(outputDevice);
  e.troubleToTell.reset();
  e.troubleTold = false;
  e.troubleHandler = nullptr;
}

void endPlayback() { closeDevice(); }

namespace {

int queueData(std::span<const uint8_t> data, int sampleRate, int bitsPerSample, int channels, bool trueSpeed) {
  Engine& e = engine();
  if (e.speedUp && !trueSpeed) sampleRate = deviceRate(int64_t{sampleRate} * 3 / 2);
  // Fast mode shortens mono sound, and turns 16-bit data into 8-bit.
  const bool shorten = e.fastMode && channels == 1;
  const int deviceBits = shorten ? 8 : bitsPerSample;
  if (const int rc = ensureFormat(sampleRate, deviceBits, channels); rc != 0) return rc;

  size_t pos = 0;
  while (pos < data.size()) {
    // A device that fails gives its blocks back at once, so this wait ends.
    while (e.queued >= e.maxQueued && !e.deviceBroken) {
      if (keyStopsPlayback()) {
        stopPlayback();
        return 0;
      }
      userSide().delay(10);
    }
    if (keyStopsPlayback()) {
      stopPlayback();
      return 0;
    }
    const std::span<const uint8_t> piece = data.subspan(pos, std::min(kBlockBytes, data.size() - pos));
    int rc;
    if (shorten) {
      // The caller's data stay as they are: the piece is shortened in a
      // copy.
      std::copy(piece.begin(), piece.end(), e.fastPiece.begin());
      const size_t length = compressForSpeed(e.fastPiece, piece.size(), bitsPerSample, sampleRate);
      rc = queueBlock(std::span<const uint8_t>(e.fastPiece.data(), length));
    } else {
      rc = queueBlock(piece);
    }
    if (rc != 0) return rc;
    pos += piece.size();
  }
  return 0;
}

}  // namespace

int playBlock(std::span<const uint8_t> data, int sampleRate, int bitsPerSample, int channels,
              bool trueSpeed) {
  const int rc = queueData(data, sampleRate, bitsPerSample, channels, trueSpeed);
  tellTrouble();
  return rc;
}

bool isPlaying() {
  Engine& e = engine();
  eventLoop().processPending();
  if (keyStopsPlayback() || e.queued == 0) stopPlayback();
  return e.queued != 0;
}

void stopPlayback() {
  Engine& e = engine();
  if (!e.device) return;
  if (e.queued > 0) e.device->reset();
  eventLoop().processPending();
}

int playWavFile(std::string_view fileName) {
  Engine& e = engine();
  if (keyStopsPlayback()) {
    stopPlayback();
    return 0;
  }
  if (e.fastMode) {
    const std::string fast = directoryPart(fileName) + "rapido/" + fileNamePart(fileName);
    if (fileExists(fast)) {
      e.fastMode = false;
      const int result = playWavFile(fast);
      e.fastMode = true;
      return result;
    }
  }
  int result = 0;
  {
    UniqueFd file;
    WavLayout layout;
    if (!openWavFile(fileName, file, layout)) return -1;
    std::vector<uint8_t> buffer(kBlockBytes);
    const int sampleRate = deviceRate(layout.format.sampleRate);
    const int bits = layout.format.bitsPerSample;
    const int channels = layout.format.channels;
    uint64_t remaining = layout.dataBytes;
    while (remaining > 0) {
      if (keyStopsPlayback()) break;
      // A remainder of 8193..8447 bytes is read as 7936 first, so that the
      // last piece is never shorter than 256 bytes.
      const uint64_t wanted = (remaining >= 8193 && remaining <= 8447) ? 7936 : std::min<uint64_t>(remaining, kBlockBytes);
      const size_t got = readPiece(file.get(), buffer.data(), static_cast<size_t>(wanted));
      if (got == 0) {
        result = -1;
        break;
      }
      if (const int rc = playBlock(std::span<const uint8_t>(buffer.data(), got), sampleRate, bits, channels);
          rc != 0) {
        result = rc;
        break;
      }
      remaining -= got;
    }
  }
  if (!e.playAsync) {
    while (isPlaying()) eventLoop().waitForMessage(100);
  }
  return result;
}

void playWavImage(std::span<const uint8_t> image) {
  AudioFormat format;
  std::span<const uint8_t> data;
  if (!parseWavImage(image, format, data)) return;
  playBlock(data, format.sampleRate, format.bitsPerSample, format.channels);
}

bool readWavInfo(std::string_view fileName, WavFormat& format, uint64_t& dataBytes, int64_t& dataOffset) {
  dataBytes = 0;
  dataOffset = 0;
  UniqueFd file;
  WavLayout layout;
  if (!openWavFile(fileName, file, layout) || layout.format.formatTag != kWavFormatPcm) return false;
  format = layout.format;
  dataBytes = layout.dataBytes;
  dataOffset = static_cast<int64_t>(layout.dataOffset);
  return true;
}

void listOutputDevices(std::vector<std::string>& list) {
  list.clear();
  for (const std::string& name : audioOutputDeviceNames()) list.push_back(trimmed(name));
}

bool findOutputDevice(std::string_view name, std::string& device) {
  std::vector<std::string> list;
  listOutputDevices(list);
  const std::string wanted = upperCaseAccented(name);
  for (const std::string& listed : list) {
    if (upperCaseAccented(listed) == wanted) {
      device = listed;
      return true;
    }
  }
  return false;
}

std::string outputDevice() { return engine().outputDevice; }

void setOutputDevice(std::string_view name) {
  Engine& e = engine();
  if (name == e.outputDevice) return;
  closeDevice();
  e.outputDevice = std::string(name);
}

void setOutputTroubleHandler(OutputTroubleHandler handler) { engine().troubleHandler = std::move(handler); }

bool stopOnKey() { return engine().stopOnKey; }
void setStopOnKey(bool on) { engine().stopOnKey = on; }
bool playAsync() { return engine().playAsync; }
void setPlayAsync(bool on) { engine().playAsync = on; }
bool speedUp() { return engine().speedUp; }
void setSpeedUp(bool on) { engine().speedUp = on; }
bool fastMode() { return engine().fastMode; }
void setFastMode(bool on) { engine().fastMode = on; }
int maxQueuedBlocks() { return engine().maxQueued; }
void setMaxQueuedBlocks(int count) { engine().maxQueued = std::clamp(count, 1, kBlockCount); }

size_t compressForSpeed(std::span<uint8_t> data, size_t length, int bitsPerSample, int sampleRate) {
  length = std::min(length, data.size());
  if (bitsPerSample == 16) {
    // The high byte of each sample, made unsigned.
    length /= 2;
    for (size_t i = 0; i < length; ++i) data[i] = data[2 * i + 1] ^ 0x80;
  }
  if (length < 1000) return length;

  const int64_t scale = sampleRate == 11025 ? 1 : 4;
  const int64_t start = 200 * scale, gap = 80 * scale, window = 50 * scale;
  const int64_t len = static_cast<int64_t>(length);
  int64_t lastPeak = 0;
  // The first largest byte of [from, to]; the previous peak when every byte
  // is 0.
  auto peak = [&](int64_t from, int64_t to) {
    to = std::min(to, len - 1);
    uint8_t best = 0;
    for (int64_t i = from; i <= to; ++i) {
      if (data[i] > best) {
        best = data[i];
        lastPeak = i;
      }
    }
    return lastPeak;
  };

  int64_t p = peak(start, start + gap + window);
  int64_t w = p;
  while (p < len - 2 * (gap + window)) {
    // Keep a..b, one period from peak to peak, and leave out p..a.
    const int64_t a = peak(p + gap, p + gap + window);
    const int64_t b = peak(a + gap, a + gap + window);
    if (b <= p) break;  // nothing but zeros ahead: no period to follow
    std::memmove(data.data() + w, data.data() + a, static_cast<size_t>(b - a + 1));
    w += b - a + 1;
    p = b;
  }
  // End on a byte near silence.
  while (p < len && w < len && std::abs(data[w] - 128) > 20) data[w++] = data[p++];
  return static_cast<size_t>(w);
}

void playLooping(const std::vector<uint8_t>& wavImage) { loopPlayer().playLooping(wavImage); }

void stopLooping() { loopPlayer().stop(); }

}  // namespace kalimbro
