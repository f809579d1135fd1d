// The audio seams: one small interface for sound output and one for sound
// input, used by the playback engine (vrwav), the recording engine (vrgrav)
// and the console's tones. Each backend lives in its own file pair and is
// chosen by the device name at run time:
//
//   ""              ALSA's "default" PCM        (platform/alsa_audio)
//   "nulo"          discard / silence, real time (platform/nulo_audio)
//   "arquivo:PATH"  a WAV file, real time        (platform/arquivo_audio)
//   anything else   that ALSA PCM name          (platform/alsa_audio)
//
// Error codes: 0 is success; a failure is a positive errno value (an ALSA
// error -E is reported as E), so that it never collides with the -1 the
// engines use for file errors. An unknown ALSA PCM gives ENOENT, a format
// a device refuses EINVAL.
//
// Threads: a backend may run one thread of its own per open output device
// to feed it. Finished blocks are reported from that thread through an
// AudioDoneQueue, which posts them to eventLoop(); the engine's done
// handler therefore runs only on the main thread, inside message
// processing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

struct AudioFormat {
  int sampleRate = 0;
  int bitsPerSample = 0;  // 8 (unsigned, 128 is silence) or 16 (signed little-endian)
  int channels = 0;       // 1 or 2, interleaved left first

  int frameBytes() const { return channels * (bitsPerSample / 8); }
  uint8_t silenceByte() const { return bitsPerSample == 8 ? 128 : 0; }
  bool operator==(const AudioFormat&) const = default;
};

// The formats every backend accepts: 8 or 16 bits, 1 or 2 channels,
// 1000..192000 Hz. Anything else is refused with EINVAL before a device is
// touched, so a nonsense header can never reach a device or a division.
bool isSupportedAudioFormat(const AudioFormat& format);

// How a queued block ended, as the done handler receives it. A block the
// device played or dropped is kBlockDone; the other values are driver
// failures, after which the device plays nothing more: its owner closes it
// and opens a new one for the next sound.
enum BlockStatus : int {
  kBlockDone = 0,
  kBlockBadHandle = 5,    // the device handle went bad
  kBlockNoDriver = 6,     // the device disappeared (a sound server went away)
  kBlockNoMemory = 7,
  kBlockStillQueued = 33,
};

class AudioOutput {
 public:
  using DoneHandler = std::function<void(int block, int status)>;

  virtual ~AudioOutput() = default;
  // Opens the device for `format`; `onDone` is called on the main thread,
  // during message processing, once for every queued block. 0 or an error.
  virtual int open(const AudioFormat& format, DoneHandler onDone) = 0;
  // Queues one block after those already queued. The bytes are not copied:
  // they must stay untouched until the block is reported done. `bytes`
  // holds whole frames. 0, or an error and the block is not queued (no
  // done report will come for it); a device that failed refuses every
  // block with ENODEV.
  virtual int queue(int block, std::span<const uint8_t> bytes) = 0;
  // Drops everything queued at once. When it returns every queued block has
  // been reported done (the reports are waiting for message processing)
  // and the device no longer reads any of them.
  virtual void reset() = 0;
  // Resets and closes the device; reports not yet processed are dropped.
  virtual void close() = 0;
};

class AudioInput {
 public:
  virtual ~AudioInput() = default;
  // Opens the device for `format`. `ringBytes` is how much it should be able
  // to hold between two reads (the capture ring). 0 or an error.
  virtual int open(const AudioFormat& format, size_t ringBytes) = 0;
  virtual int start() = 0;
  // Copies what has been captured, up to into.size() bytes of whole frames,
  // without waiting. Returns the bytes copied (0 when nothing is waiting) or
  // a negative error: the device stopped working (-ENODEV when it went
  // away) and delivers nothing more. An overrun loses the stretch the
  // device could not keep and capture goes on.
  virtual int64_t read(std::span<uint8_t> into) = 0;
  // Stops capturing. What was captured before the stop stays readable until
  // read() returns 0.
  virtual void stop() = 0;
  virtual void close() = 0;
};

// The backend for `device` (see the table at the top). The object is not
// open yet.
std::unique_ptr<AudioOutput> makeAudioOutput(std::string_view device);
std::unique_ptr<AudioInput> makeAudioInput(std::string_view device);

// Tests replace the backends here; an empty function restores them.
using AudioOutputFactory = std::function<std::unique_ptr<AudioOutput>(std::string_view device)>;
using AudioInputFactory = std::function<std::unique_ptr<AudioInput>(std::string_view device)>;
void setAudioOutputFactory(AudioOutputFactory factory);
void setAudioInputFactory(AudioInputFactory factory);

// Names that can be given as an output device: the output-capable ALSA PCMs
// from the PCM hints, then "nulo" and "arquivo:". Windows-1252.
std::vector<std::string> audioOutputDeviceNames();

// Carries done reports from a device's own thread to the main thread, as
// tasks posted to eventLoop(). Made and destroyed on the main thread.
class AudioDoneQueue {
 public:
  explicit AudioDoneQueue(AudioOutput::DoneHandler handler);
  ~AudioDoneQueue();
  AudioDoneQueue(const AudioDoneQueue&) = delete;
  AudioDoneQueue& operator=(const AudioDoneQueue&) = delete;

  // Any thread.
  void post(int block, int status);

 private:
  // Shared with the posted reports, so that one delivered after the queue
  // is gone is dropped, and a done handler that ends up closing the device
  // does not pull the handler from under its own call.
  struct State {
    AudioOutput::DoneHandler handler;
    bool closed = false;  // main thread only
  };
  std::shared_ptr<State> state_;
};

}  // namespace kalimbro
