// vrgrav: the recording engine. Captures sound from the input device
// (platform/audio.h) straight into a WAV file on disk: the device keeps a
// ring of capture buffers, every poll appends the buffers it has filled to
// the file, and the end rewrites the header with the real size. Nothing is
// held in memory, so a recording is bounded by disk space only. Its caller
// is the sample buffer's recording, which polls every 50 ms until ESC and
// then loads the file.
//
// The input device is named: "" is the system default, otherwise any
// device name the audio seam knows (an ALSA PCM, "nulo", "arquivo:PATH"),
// given at start.
#pragma once

#include <string>
#include <string_view>

namespace kalimbro {

void initRecording(std::string_view inputDevice = {});
std::string inputDevice();
void setInputDevice(std::string_view name);

// Opens the input device and creates `fileName` (replacing it) with a
// placeholder header. 0 = ready; -1 = the file cannot be created or
// written, or is no regular file (the device is closed again); anything
// else = the device's error code (the file is not touched). `bufferCount`
// capture buffers (1..16) of `bufferSize` bytes make the ring. Until the
// recording stops, a signal that ends the program writes the header for
// what the file holds.
int recStart(std::string_view fileName, int sampleRate, int bitsPerSample, int channels, int bufferCount,
             int bufferSize);
// Starts capturing.
void recBegin();
// Appends every buffer the device has filled (at most a ring's worth) to
// the file and brings its header up to date. False when a write failed or
// the device stopped working (recInputLost): capture then stops at once.
bool recPoll();
// Stops the device, writes what it still holds (a partly filled last
// buffer with its recorded bytes only), closes it and writes the final
// header. True only when every write since recStart succeeded and the
// device worked to the end.
bool recStop();
// Whether the input device stopped working during the last recording
// (its sound server went away); what it delivered before is in the file.
bool recInputLost();

}  // namespace kalimbro
