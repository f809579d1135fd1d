// gramost: the sound in memory (class TAmostras). One contiguous store of
// signed 16-bit values, left and right interleaved for stereo, handed out and
// taken in as packed frames. The file commands load and save it, the record
// commands fill it, the play command plays ranges of it, and the remove, mix,
// effect and divide commands edit it; the long edits work on whole runs of
// the store rather than frame by frame.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_replacer.h"
#include "platform/wav_header.h"

namespace kalimbro {

// A frame packed in 32 bits: the left value in the low 16 bits, the right
// value in the high 16 bits, both signed. Silence is 0; a mono sound hands out
// frames with equal halves.
using PackedFrame = uint32_t;

// What the input device had to do with a failed recordFromDevice.
enum class InputFault {
  none,
  unavailable,  // it could not be opened: nothing was recorded, no file made
  lost,         // it stopped working during the recording: what came before is kept
};

struct FrameValues {
  int16_t left;
  int16_t right;
};

// Built from the low 16 bits of each argument.
constexpr PackedFrame packFrame(int32_t left, int32_t right) {
  return (static_cast<uint32_t>(left) & 0xFFFFu) | (static_cast<uint32_t>(right) << 16);
}
constexpr FrameValues unpackFrame(PackedFrame frame) {
  return {static_cast<int16_t>(frame & 0xFFFFu), static_cast<int16_t>(frame >> 16)};
}
constexpr int16_t clampSample(int64_t v) {
  return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
// A real sample value truncated toward zero, then limited to 16 bits (NaN
// gives silence).
constexpr int16_t clampTruncated(long double v) {
  if (!(v == v)) return 0;
  if (v <= -32768.0L) return -32768;
  if (v >= 32767.0L) return 32767;
  return static_cast<int16_t>(v);
}

// One change to a sound's frames: first..end-1 changed, removed or had
// frames inserted before `end`, when the sound held `countBefore` frames.
struct FrameChange {
  uint64_t number = 0;
  int64_t first = 0;
  int64_t end = 0;
  int64_t countBefore = 0;
};

// A numbered place in a sound, kept with it and moving with its frames.
struct SoundMarker {
  uint32_t number = 0;
  int64_t frame = 0;
  std::string name = {};  // Windows-1252; empty for a marker known by its number alone
  bool operator==(const SoundMarker&) const = default;
};
// What a file calls a marker: its name, or "Marcador N" for one without.
std::string markerTitle(const SoundMarker& marker);
// The name that a title read from a file gives marker `number`: none for
// the title an unnamed marker gets (or none at all).
std::string markerNameFrom(std::string_view title, uint32_t number);

inline constexpr std::array<int32_t, 7> kAcceptedSampleRates = {8000,  11025, 16000, 22050,
                                                                 32000, 44100, 48000};
constexpr bool isAcceptedSampleRate(int64_t rate) {
  for (const int32_t r : kAcceptedSampleRates)
    if (r == rate) return true;
  return false;
}

// Long work is heard: a click each second (userSide().click()), the clock
// being read only between blocks of work so that the work itself does not
// slow down.
class WorkClicker {
 public:
  void blockDone();

 private:
  std::chrono::steady_clock::time_point nextClick_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
};

// Values per block of the editing loops: about a millisecond of work.
inline constexpr int64_t kWorkBlockValues = int64_t{1} << 20;

// Runs work(begin, end) over first..end-1 in blocks, ascending, with the
// click each second.
template <typename Work>
void inBlocks(int64_t first, int64_t end, Work work) {
  WorkClicker clicker;
  for (int64_t begin = first; begin < end; begin += kWorkBlockValues) {
    work(begin, std::min(end, begin + kWorkBlockValues));
    clicker.blockDone();
  }
}

// The arithmetic of applyGainRamp(first, last, startGain, endGain) on
// frames from..to-1 of `values` (`channels` values a frame) only, telling
// nobody: a long ramp can be worked a run at a time, in any order, with the
// same values.
void rampFrames(std::span<int16_t> values, int32_t channels, int64_t first, int64_t last, long double startGain,
                long double endGain, int64_t from, int64_t to);

class TAmostras;

// Told of every change to a sound before it is made, while the sound still
// holds what the change replaces: the edit history keeps it that way.
class SoundWitness {
 public:
  // Frames first..end-1 (within the sound) are about to be changed or
  // removed, and frames may be inserted at `first` up to `end`; first ==
  // end: only an insertion there. A change that may grow the sound at its
  // end reaches the end.
  virtual void framesWillChange(const TAmostras& sound, int64_t first, int64_t end) = 0;
  // The channels, rate or bits are about to change; a change of channels
  // also tells framesWillChange of every frame.
  virtual void formatWillChange(const TAmostras& sound) = 0;
  // The sound is being destroyed.
  virtual void soundGoes(const TAmostras& sound) = 0;

 protected:
  ~SoundWitness() = default;
};

class TAmostras {
 public:
  // An empty sound: mono, 22050 Hz, 16 bits, 4 capture buffers, no memory limit.
  TAmostras() = default;
  ~TAmostras() {
    if (witness_ != nullptr) std::exchange(witness_, nullptr)->soundGoes(*this);
    clear();
  }
  TAmostras(const TAmostras&) = delete;
  TAmostras& operator=(const TAmostras&) = delete;

  // Re-initialises the buffer with `frames` silent frames in this format
  // (exactly that much room). When the room is refused the buffer is empty
  // with `outOfMemory` set.
  void createSized(int32_t channels, int32_t sampleRate, int32_t bitsPerSample, int64_t frames);
  // Becomes a copy of `source`: its format and every frame. The memory limit
  // and the capture buffers are this buffer's own.
  void createCopy(const TAmostras& source);
  // Releases the store (stopping the playback engine first when there was
  // one); the format stays.
  void clear();

  int32_t count() const { return count_; }
  int32_t capacity() const { return capacity_; }
  int32_t channels() const { return channels_; }
  int32_t sampleRate() const { return sampleRate_; }
  int32_t bitsPerSample() const { return bitsPerSample_; }
  // The most 16-bit values the store may hold; 0 means no limit.
  int64_t memoryLimit() const { return memoryLimit_; }
  void setMemoryLimit(int64_t values) { memoryLimit_ = values; }
  // Set when the last request to resize the store was refused.
  bool outOfMemory() const { return outOfMemory_; }
  int32_t playedOffset() const { return playedOffset_; }
  int32_t captureBuffers() const { return captureBuffers_; }
  // Set by recordFromDevice.
  InputFault inputFault() const { return inputFault_; }
  // The count x channels values of the sound.
  std::span<const int16_t> samples() const {
    return {store_.get(), static_cast<size_t>(count_) * static_cast<size_t>(channels_)};
  }
  // The same values, to be changed in place by effects that work on whole
  // runs of them; a mono value is a frame, a stereo frame is two. The
  // witness hears of a change to every frame, or to frames first..end-1
  // only, which are then all the caller may change.
  std::span<int16_t> samplesToChange();
  std::span<int16_t> samplesToChange(int64_t first, int64_t end);
  // For work that removes frames while the sound is heard: the witness
  // hears of a change to every frame and the sound ends at `frames` (held
  // to 0..count) at once, the values after it staying in the store for the
  // work to move. The work leaves them silent, as the store past the sound
  // always is; fitStore then gives their room back. The span holds the
  // values of the frames before the change.
  std::span<int16_t> samplesToShorten(int64_t frames);
  // The store shrinks to the sound; false, the store as it was, when the
  // allocator refuses.
  bool fitStore();

  // The one witness of this sound's changes; nullptr: none.
  void setWitness(SoundWitness* witness) { witness_ = witness; }
  // Grows with every change to the frames or the format, so that what is
  // worked out from the sound (its pauses, its levels) knows when to work
  // it out again.
  uint64_t changeCount() const { return changes_; }
  // Where the changes after the first `seen` were made, oldest first; the
  // frames before `first` were untouched and those from `end` on moved by
  // the difference between the count before that change and the count
  // before the next one (or now). Nothing when that is no longer known (too
  // many changes since, or one made frame by frame or to the format).
  std::optional<std::vector<FrameChange>> changesSince(uint64_t seen) const;

  // The markers, in the order of their frames (0..count). Frames removed
  // or inserted before a marker move it; removing its frame removes it.
  // WAV files keep them as cue points, named by their labels.
  const std::vector<SoundMarker>& markers() const { return markers_; }
  // A marker at `frame` (held to 0..count): the number of the one already
  // there, or a new one numbered after the highest.
  uint32_t placeMarker(int64_t frame);
  // False when there is no marker of that number.
  bool removeMarker(uint32_t number);
  // False when there is no marker of that number.
  bool nameMarker(uint32_t number, std::string name);
  // Replaces the markers; those outside 0..count and a number given twice
  // are dropped.
  void setMarkers(std::vector<SoundMarker> markers);

  // Silence outside 0..count-1.
  PackedFrame getFrame(int64_t index) const;
  // Grows the store when index >= capacity (30000 frames below index 25000,
  // else index x 1.2); a refused growth drops the write. Mono stores the
  // average of the halves, added first and then halved.
  void setFrame(int64_t index, PackedFrame frame);
  // Removes frames start..start+length-1, clipped to the sound; the store
  // shrinks to fit.
  void deleteRange(int64_t start, int64_t length);
  // Opens `length` silent frames before `position` (at the end when past it);
  // nothing in an empty sound.
  void insertSilence(int64_t position, int64_t length);
  // Adds every frame of `other` at the end; false when the rates differ.
  bool append(const TAmostras& other);
  // Room for `frames` frames (in this format) before they are added; a
  // store made fresh for it costs no memory until they come. False, the
  // store and `outOfMemory` as they were, when memory is refused.
  bool reserveFrames(int64_t frames);
  // Adds the whole frames of `values` (in this sound's layout) at the end,
  // the store growing as setFrame grows it; false, nothing added, when
  // memory is refused.
  bool appendValues(std::span<const int16_t> values);
  // Frame offset+i := own x ownGain + other's frame i x otherGain, truncated
  // and clipped, growing the sound where `other` reaches past its end; false
  // when the rates differ or offset > count.
  bool mixAt(const TAmostras& other, int64_t offset, long double ownGain, long double otherGain);
  // Frames first..last times a gain going linearly from startGain to
  // endGain; nothing unless last > first.
  void applyGainRamp(int64_t first, int64_t last, long double startGain, long double endGain);

  // Frames start..start+oldLength-1 (within the sound) become newLength
  // frames: the first of them stay, the others are silent; what follows
  // moves once. False, the sound unchanged, when memory is refused.
  bool resizeFrames(int64_t start, int64_t oldLength, int64_t newLength);

  void setBitsPerSample(int32_t bits);
  // Mono to stereo doubles each value; stereo to mono adds the halved values.
  void setChannels(int32_t channels);
  // Only one of the accepted rates is taken; the frames are not touched.
  void setSampleRate(int32_t rate);
  // Becomes `source` resampled to newRate (any positive rate) by linear
  // interpolation; the last frame is silent.
  void convertFrom(const TAmostras& source, int32_t newRate);

  // Replaces sound and format with a WAV file. On false the sound and format
  // are as they were, and `outOfMemory` tells whether memory was refused.
  bool loadWav(std::string_view fileName);
  // Puts back frames and markers written by saveWav in this sound's own
  // format (an effect's scratch copy), read straight into this store, so
  // that the sound is never held twice. nullopt, nothing touched, when the
  // file is not such a WAV file or memory is refused; false when a read
  // failed on the way, the frames then partly the file's.
  std::optional<bool> reloadWav(std::string_view fileName);
  // Writes the canonical header and the data at `bitsPerSample` (8 or 16;
  // 0: the sound's own). On false the file that was there before is
  // untouched.
  bool saveWav(std::string_view fileName, FlushToDisk flush = FlushToDisk::yes, int32_t bitsPerSample = 0) const;
  // Takes over the store and format of a buffer loaded apart (which is left
  // empty), so that a failed load never touches the sound in memory. The
  // memory limit and capture buffers stay this buffer's own.
  void takeOver(TAmostras& loaded);

  // Playing and recording, over the playback and recording engines
  // (gramost_play.cpp).
  // Hands frames start..start+length-1 to the playback engine as 16-bit
  // stereo blocks of 2048 frames; returns once the last block is queued (or
  // at once when a key stops playback). False when the output device could
  // not take them (it could not be opened, or failed meanwhile); a range
  // reaching past the end plays nothing and is no failure. A short tick is
  // added at each of the `ticks` frames (the markers passed).
  bool playRange(int64_t start, int64_t length, std::span<const int64_t> ticks = {});
  // Every frame, waiting until the engine is idle. `ready(end)`, when
  // given, is called before the frames up to `end` are handed over, a
  // piece of kPlayPieceFrames at a time, so that an effect still at work
  // keeps ahead of them.
  static constexpr int64_t kPlayPieceFrames = 32 * 2048;
  void playAll(const std::function<void(int64_t end)>& ready = {});
  void stopPlaying();
  // Records from the input device into `tempFileName`, in this buffer's
  // format, until ESC or a failed write; then loads what reached the file.
  // False when the device cannot start, a write failed or the file cannot
  // be loaded (`outOfMemory` tells when memory was refused, `inputFault`
  // when the device was at fault); the part that was recorded is loaded all
  // the same when it fits.
  bool recordFromDevice(std::string_view tempFileName);
  void setCaptureBuffers(int32_t n);

 private:
  struct FreeStore {
    void operator()(int16_t* p) const { std::free(p); }
  };

  // Keeps the witness from hearing the inner steps of a change it has been
  // told of.
  class Told {
   public:
    explicit Told(TAmostras& sound)
        : sound_(sound), witness_(std::exchange(sound.witness_, nullptr)), inTold_(std::exchange(sound.inTold_, true)) {}
    ~Told() {
      sound_.witness_ = witness_;
      sound_.inTold_ = inTold_;
    }
    Told(const Told&) = delete;
    Told& operator=(const Told&) = delete;

   private:
    TAmostras& sound_;
    SoundWitness* witness_;
    bool inTold_;
  };
  // Counts a change and keeps where it is made.
  void noteChange(int64_t first, int64_t end);
  [[nodiscard]] Told tellFramesWillChange(int64_t first, int64_t end);
  [[nodiscard]] Told tellAllWillChange();
  void setFrameTold(int64_t index, PackedFrame frame);

  // Frames from `oldEnd` on now start at `newEnd`: the markers between
  // them go when frames were removed, those after move.
  void moveMarkers(int64_t oldEnd, int64_t newEnd);
  bool growFor(int64_t index);
  bool reserveValues(int64_t values);
  bool readData(ByteSource& source, uint64_t dataBytes);
  void copyFramesFrom(const TAmostras& source);
  void mixFrameByFrame(const TAmostras& other, int64_t offset, long double ownGain, long double otherGain);

  std::unique_ptr<int16_t[], FreeStore> store_;
  // Values in the store: capacity_ x channels_, more only after a refused
  // shrink; every value past count_ x channels_ is 0.
  int64_t storeValues_ = 0;
  int32_t count_ = 0;
  int64_t memoryLimit_ = 0;
  bool outOfMemory_ = false;
  int32_t channels_ = 1;
  int32_t sampleRate_ = 22050;
  int32_t bitsPerSample_ = 16;
  int32_t capacity_ = 0;
  // Kept for the play and record operations of this class: the offset of the
  // last frame handed to the playback engine, and the number of capture
  // buffers a recording uses (2..8).
  int32_t playedOffset_ = 0;
  int32_t captureBuffers_ = 4;
  InputFault inputFault_ = InputFault::none;
  SoundWitness* witness_ = nullptr;
  uint64_t changes_ = 0;
  // The last changes told, by number modulo their count.
  std::array<FrameChange, 32> recentChanges_{};
  // Inside a change already told: its inner steps are not changes of their own.
  bool inTold_ = false;
  std::vector<SoundMarker> markers_;
};

// A sound written to a WAV file a piece at a time, so that the writing can
// be spread between other work (saveWav writes all of it at once). The file
// takes the old one's place only when complete; the sound must not change
// meanwhile.
class WavWriter {
 public:
  // The header; false when the file cannot be written at all. The data are
  // written at `bitsPerSample` (8 or 16; 0: the sound's own).
  bool open(const TAmostras& sound, std::string_view fileName, FlushToDisk flush = FlushToDisk::yes,
            int32_t bitsPerSample = 0);
  // Up to `values` more values; false on a failed write.
  bool writeSome(size_t values);
  bool done() const { return written_ == values_.size(); }
  // Puts the file in place once every value is written.
  bool commit();

 private:
  FileReplacer out_;
  std::span<const int16_t> values_;
  size_t written_ = 0;
  int32_t bits_ = 16;
  bool stereo_ = false;
  std::vector<uint8_t> piece_;
  // What follows the data: the markers' chunks.
  std::vector<uint8_t> trailing_;
};

// Frame access is the inner loop of every effect: kept inline.

inline PackedFrame TAmostras::getFrame(int64_t index) const {
  if (index < 0 || index >= count_) return 0;
  if (channels_ == 1) {
    const int16_t v = store_[index];
    return packFrame(v, v);
  }
  return packFrame(store_[2 * index], store_[2 * index + 1]);
}

inline void TAmostras::setFrame(int64_t index, PackedFrame frame) {
  if (index < 0) return;
  if (witness_ != nullptr) [[unlikely]] {
    setFrameTold(index, frame);
    return;
  }
  // Frame by frame: counted, but too many to keep where.
  if (!inTold_) ++changes_;
  if (index >= capacity_ && !growFor(index)) return;
  const FrameValues v = unpackFrame(frame);
  if (channels_ == 1) {
    store_[index] = static_cast<int16_t>((v.left + v.right) / 2);
  } else {
    store_[2 * index] = v.left;
    store_[2 * index + 1] = v.right;
  }
  if (index >= count_) count_ = static_cast<int32_t>(index + 1);
}

}  // namespace kalimbro
