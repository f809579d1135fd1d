// The recording engine. The ring of capture buffers lives in the device:
// it is opened to hold bufferCount x bufferSize bytes between two polls,
// and the engine takes them out one buffer at a time into its transfer
// buffer, which goes to the file whenever it is full. The file's header
// tells the truth after every poll that wrote something, and a signal that
// ends the program writes it once more, so a recording cut off by a closed
// terminal or a crash keeps what was captured. Sizes are counted in 64
// bits; the header's 32-bit fields are clamped.
#include "sound/vrgrav.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/audio.h"
#include "platform/disk.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/signal_cleanup.h"
#include "platform/wav_header.h"
#include "sound/userSide.h"

namespace kalimbro {
namespace {

constexpr int kMaxBuffers = 16;
constexpr size_t kHeaderBytes = kWavHeaderBytes;
// The largest data size whose RIFF size (data + 36) still fits 32 bits.
constexpr int64_t kMaxDataField = 0xFFFFFFFFLL - 36;

struct Recorder {
  std::unique_ptr<AudioInput> device;
  UniqueFd file;
  AudioFormat format;
  int bufferCount = 0;
  std::vector<uint8_t> buffer;
  size_t fill = 0;
  int64_t total = 0;
  int64_t totalInHeader = 0;
  bool recording = false;
  bool failed = false;
  bool inputLost = false;
  std::string inputDevice;
};

Recorder& recorder() {
  static Recorder r;
  return r;
}

// The header for `dataBytes` bytes of sound, clamped to what 32-bit fields
// hold (in whole frames).
std::array<uint8_t, kWavHeaderBytes> headerFor(const AudioFormat& f, int64_t dataBytes) {
  int64_t field = std::min(dataBytes, kMaxDataField);
  if (f.frameBytes() > 0) field -= field % f.frameBytes();
  return makeWavHeader(static_cast<uint32_t>(field), static_cast<uint32_t>(f.sampleRate),
                       static_cast<uint16_t>(f.channels), static_cast<uint16_t>(f.bitsPerSample));
}

// What the signal hook writes into the file being recorded: two header
// buffers, one always complete while the other is filled, so a signal that
// interrupts an update still finds a whole header.
struct SignalHeader {
  volatile sig_atomic_t fd = -1;
  volatile sig_atomic_t current = 0;
  uint8_t headers[2][kHeaderBytes] = {};
};
SignalHeader gSignalHeader;

void writeHeaderOnSignal() {
  const int fd = gSignalHeader.fd;
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = ::pwrite(fd, gSignalHeader.headers[gSignalHeader.current], kHeaderBytes, 0);
}

// Puts the header for what the file holds now where the signal hook finds
// it: after every piece of sound written, so a signal loses none of them.
void publishHeader() {
  const Recorder& r = recorder();
  const auto header = headerFor(r.format, r.total);
  const int next = 1 - gSignalHeader.current;
  std::memcpy(gSignalHeader.headers[next], header.data(), header.size());
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gSignalHeader.current = next;
}

// Writes the header for what the file holds now at its start.
bool writeHeader() {
  Recorder& r = recorder();
  publishHeader();
  r.totalInHeader = r.total;
  return writeWholeAt(r.file.get(), gSignalHeader.headers[gSignalHeader.current], kHeaderBytes, 0);
}

// The file a recording goes into, emptied. Only a regular file: opening a
// FIFO would wait for a reader, and a device would swallow the sound.
UniqueFd openRecordingFile(std::string_view fileName) {
  UniqueFd fd(::open(nativePath(fileName).c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd.get(), 0) != 0)
    return UniqueFd();
  return fd;
}

// Appends the first `bytes` of the transfer buffer to the file. A failed
// write stops capture at once; the data are written at their place, so a
// later write never leaves a hole or a partial piece in the sound.
bool writeBuffer(size_t bytes) {
  Recorder& r = recorder();
  r.fill = 0;
  if (bytes == 0) return true;
  if (!writeWholeAt(r.file.get(), r.buffer.data(), bytes, kHeaderBytes + r.total)) {
    r.failed = true;
    if (r.recording) {
      r.device->stop();
      r.recording = false;
    }
    return false;
  }
  r.total += static_cast<int64_t>(bytes);
  publishHeader();
  return true;
}

// Reads from the device into the transfer buffer; true when it is full.
// A device that stopped working ends the capture as a failed write does:
// what came before it stays.
bool fillBuffer() {
  Recorder& r = recorder();
  while (r.fill < r.buffer.size()) {
    const int64_t n = r.device->read(std::span<uint8_t>(r.buffer).subspan(r.fill));
    if (n < 0) {
      r.inputLost = true;
      r.failed = true;
      if (r.recording) {
        r.device->stop();
        r.recording = false;
      }
    }
    if (n <= 0) return false;
    r.fill += static_cast<size_t>(n);
  }
  return true;
}

// Closes the file; false when the close reports a lost write. The signal
// hook lets go of it first.
bool closeFile() {
  gSignalHeader.fd = -1;
  setSignalHook(nullptr);
  return recorder().file.close();
}

void closeDevice() {
  Recorder& r = recorder();
  if (!r.device) return;
  r.device->close();
  r.device.reset();
  r.recording = false;
}

}  // namespace

void initRecording(std::string_view inputDevice) { recorder().inputDevice = std::string(inputDevice); }

std::string inputDevice() { return recorder().inputDevice; }

void setInputDevice(std::string_view name) { recorder().inputDevice = std::string(name); }

int recStart(std::string_view fileName, int sampleRate, int bitsPerSample, int channels, int bufferCount,
             int bufferSize) {
  Recorder& r = recorder();
  // One recording at a time: one left open is abandoned.
  closeDevice();
  closeFile();
  userSide().toneOff();

  const AudioFormat format{sampleRate, bitsPerSample, channels};
  const int count = std::clamp(bufferCount, 1, kMaxBuffers);
  const size_t frameBytes = static_cast<size_t>(std::max(format.frameBytes(), 1));
  size_t size = static_cast<size_t>(std::clamp(bufferSize, 1, 65535));
  size = std::max(size - size % frameBytes, frameBytes);

  std::unique_ptr<AudioInput> device = makeAudioInput(r.inputDevice);
  if (const int rc = device->open(format, size * static_cast<size_t>(count)); rc != 0) return rc;

  UniqueFd file = openRecordingFile(fileName);
  if (!file.valid()) {
    device->close();
    return -1;
  }
  r.file = std::move(file);
  r.format = format;
  r.total = 0;
  if (!writeHeader()) {  // the placeholder
    closeFile();
    device->close();
    return -1;
  }
  gSignalHeader.fd = r.file.get();
  setSignalHook(writeHeaderOnSignal);
  r.device = std::move(device);
  r.bufferCount = count;
  r.buffer.assign(size, 0);
  r.fill = 0;
  r.recording = false;
  r.failed = false;
  r.inputLost = false;
  return 0;
}

void recBegin() {
  Recorder& r = recorder();
  if (!r.device) return;
  r.fill = 0;
  r.recording = true;
  r.device->start();
}

bool recPoll() {
  Recorder& r = recorder();
  if (!r.device) return true;
  bool ok = true;
  // At most a ring's worth per poll: a device that always has data (ALSA's
  // file plugin) cannot hold the program here.
  for (int i = 0; i < r.bufferCount && fillBuffer(); ++i) {
    if (!writeBuffer(r.buffer.size())) ok = false;
  }
  if (r.total != r.totalInHeader && !writeHeader()) ok = false;
  return ok && !r.inputLost;
}

bool recStop() {
  Recorder& r = recorder();
  if (!r.device) return false;
  bool ok = true;
  for (int i = 0; i < r.bufferCount; ++i) {
    if (!recPoll()) ok = false;
  }
  r.device->stop();
  r.recording = false;
  // What the device still holds, the last buffer perhaps partly filled.
  while (fillBuffer()) {
    if (!writeBuffer(r.buffer.size())) ok = false;
  }
  if (!writeBuffer(r.fill)) ok = false;
  closeDevice();
  userSide().toneOff();
  if (!writeHeader()) ok = false;
  // The take is on the disk before the user hears that it ended.
  if (disk().syncData(r.file.get()) != 0) ok = false;
  if (!closeFile()) ok = false;
  return ok && !r.failed;
}

bool recInputLost() { return recorder().inputLost; }

}  // namespace kalimbro
