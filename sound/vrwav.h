// vrwav: the playback engine, the program's single road to the sound output
// device. It queues blocks of PCM on the output device (platform/audio.h),
// learns of played blocks while the main thread processes messages, and
// lets its callers ask whether anything still plays and stop everything at
// once. On top of the block queue it plays WAV files and WAV images and
// reads WAV headers. Used by the sample buffer, the play command, the
// divide command, and (linked by the program, app/soundLinks) speech and
// the console's tones.
//
// The output device is named, not numbered: "" is the system default, and
// any name of listOutputDevices works (an ALSA PCM, "nulo",
// "arquivo:PATH"), given at start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wav_header.h"

namespace kalimbro {

// Program start: every switch to its first value, nothing queued, the
// device closed, `outputDevice` the one to open, no trouble handler.
void initPlayback(std::string_view outputDevice = {});
// Program end: stops what plays and closes the device.
void endPlayback();

// Queues `data` in blocks of at most 8192 bytes, waiting while
// maxQueuedBlocks blocks are queued. 0, or the device's error code when it
// cannot be opened in this format, or ENODEV when the device failed before
// all was queued (the rest is not queued). A key waiting with stopOnKey on
// stops everything and gives 0. The speedUp switch applies unless
// `trueSpeed`: the sound a user edits is always heard at its true speed and
// pitch. A device that failed is opened again for the next call, so sound
// comes back when the device does.
int playBlock(std::span<const uint8_t> data, int sampleRate, int bitsPerSample, int channels,
              bool trueSpeed = false);
// Processes pending messages; stops playback when stopOnKey is on and a key
// waits (the key stays queued), or when nothing is queued. True while
// blocks are queued.
bool isPlaying();
// Drops every queued block at once.
void stopPlayback();
// 0 when played or stopped by a key; -1 when the file cannot be opened, is
// not a WAV file or yields no data; otherwise the device's error code.
int playWavFile(std::string_view fileName);
// Plays a complete WAV file image held in memory; a malformed image plays
// nothing.
void playWavImage(std::span<const uint8_t> image);
// The format chunk's first 16 bytes (PCM only, an extensible PCM format
// included), the size of the data really in the file (see walkWavHeader)
// and the file offset of the first data byte. False for anything else.
bool readWavInfo(std::string_view fileName, WavFormat& format, uint64_t& dataBytes,
                 int64_t& dataOffset);

// Every output device name, blanks around it removed.
void listOutputDevices(std::vector<std::string>& list);
// The first listed device whose name equals `name` without regard to case;
// `device` receives it as listed.
bool findOutputDevice(std::string_view name, std::string& device);
std::string outputDevice();
// A new name takes effect at once: what plays is stopped and the device
// is opened again with the next block.
void setOutputDevice(std::string_view name);

// What the engine has to tell the user about the output device.
enum class OutputTrouble {
  cannotOpen,  // it could not be opened (no sound server, no sound card)
  stopped,     // it failed while it played (its server went away, a driver failure)
};
// The program's way of telling it (main says a catalogue message). The
// engine calls it on the main thread as a play call ends, never from inside
// message processing, and at most once per failure episode: from the first
// failure until the device has played a block again. Sound played while it
// runs (the message spoken) never calls it again. Empty: nobody is told.
using OutputTroubleHandler = std::function<void(OutputTrouble)>;
void setOutputTroubleHandler(OutputTroubleHandler handler);

// Switches. stopOnKey: a key waiting stops playback (on at start).
// playAsync: playWavFile returns without waiting for the end (off).
// speedUp: every block plays at its rate x 1.5 (off). fastMode: mono
// sound plays faster at the same pitch (off). maxQueuedBlocks: 1..16 (16).
bool stopOnKey();
void setStopOnKey(bool on);
bool playAsync();
void setPlayAsync(bool on);
bool speedUp();
void setSpeedUp(bool on);
bool fastMode();
void setFastMode(bool on);
int maxQueuedBlocks();
void setMaxQueuedBlocks(int count);

// Fast mode's shortening of mono speech, in place: 16-bit data become 8-bit
// first, then about one pitch period is left out after every kept one.
// Returns the new length in bytes.
size_t compressForSpeed(std::span<uint8_t> data, size_t length, int bitsPerSample, int sampleRate);

// The console's tones: loops a WAV image on a device of its own (opened on
// outputDevice()), so a tone sounds beside whatever the engine plays. A
// malformed image plays nothing.
void playLooping(const std::vector<uint8_t>& wavImage);
// Stops the looping image and closes its device.
void stopLooping();

}  // namespace kalimbro
