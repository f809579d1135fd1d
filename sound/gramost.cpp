// The sound in memory: store growth, editing operations, WAV loading and saving.
#include "sound/gramost.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "formats/wavMarkers.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/prefault.h"
#include "platform/wav_header.h"
#include "sound/userSide.h"

namespace kalimbro {
namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();


// File data are little-endian; the store holds native values.
void nativeToLittleEndian(int16_t* values, size_t n) {
  if (std::endian::native == std::endian::little) return;
  for (size_t i = 0; i < n; ++i)
    values[i] = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(values[i])));
}

// ---- Block arithmetic ---------------------------------------------------------
//
// The editing operations keep extended-precision results: a product or sum
// truncated toward zero, then clamped. Two cheaper routes reach the same
// integers.

// A gain that is a whole number of 256ths, below 64 in size: a 16-bit value
// times it, and the sum of two such products, are exact both in extended
// precision and as 32-bit integers over 256, so that integer division
// (truncating toward zero) gives the same value. Volume changes (1.25, 0.75)
// and plain mixing (1.0) take this route.
std::optional<int32_t> gainIn256ths(long double gain) {
  const long double scaled = gain * 256.0L;
  if (!(std::fabs(scaled) < 16384.0L)) return std::nullopt;
  const auto whole = static_cast<int32_t>(scaled);
  if (static_cast<long double>(whole) != scaled) return std::nullopt;
  return whole;
}

int16_t scaledIn256ths(int32_t sum) { return clampSample(sum / 256); }

// Any other gain up to 64 in size: computed in double precision, a sample
// value differs from the extended one by far less than kNearWhole, so both
// truncate alike unless the value lies that close to a whole number other
// than 0 (which truncation does not cross); only such values are computed
// again in extended precision.
constexpr long double kLargestApproximatedGain = 64.0L;
constexpr double kNearWhole = 0x1p-20;

bool approximable(long double gain) { return std::fabs(gain) <= kLargestApproximatedGain; }

// Both without branches, so that loops over them vectorise.
bool truncatesAsExact(double v) {
  const double size = std::fabs(v);  // below 2^23 for the gains taken here
  const double fraction = size - static_cast<double>(static_cast<int32_t>(size));
  return (size < 1.0 - kNearWhole) | ((fraction > kNearWhole) & (fraction < 1.0 - kNearWhole));
}

int16_t clampTruncatedApproximation(double v) {
  return static_cast<int16_t>(static_cast<int32_t>(std::min(std::max(v, -32768.0), 32767.0)));
}

// A gain ramp over a short run of values in double precision, into `out`:
// value k belongs to the frame (k >> shift) after the run's first, whose
// gain is start + (base + that frame) x slope. False when any value lies
// too near a whole number to be trusted. Whole numbers convert exactly in
// 32 bits, and the loop vectorises where the processor has AVX2.
[[gnu::target_clones("avx2", "default")]]
bool rampApproximately(int16_t* out, const int16_t* in, int32_t n, int shift, double start, double base,
                       double slope) {
  int64_t safe = 1;
  for (int32_t k = 0; k < n; ++k) {
    const double scaled = in[k] * (start + (base + static_cast<double>(k >> shift)) * slope);
    safe &= truncatesAsExact(scaled);
    out[k] = clampTruncatedApproximation(scaled);
  }
  return safe != 0;
}

// Frames [from, to) of a sound resampled by linear interpolation between
// the two input frames around each position, in extended precision; the
// position of frame `from` is `pos`, and each frame's is the previous one's
// plus `step`, added frame by frame. Returns the position of frame `to`.
// The processors with SSE3 truncate extended values without switching the
// rounding mode, several times faster.
[[gnu::target_clones("sse3", "default")]]
long double resampleLinearly(const int16_t* in, int64_t inFrames, int channels, int16_t* out, int64_t from,
                             int64_t to, long double pos, long double step) {
  const auto at = [&](int64_t frame, int c) { return frame < inFrames ? in[frame * channels + c] : 0; };
  for (int64_t j = from; j < to; ++j, pos += step) {
    const int64_t k = static_cast<int64_t>(pos);  // pos >= 0: its whole part
    const long double f = pos - static_cast<long double>(k);
    for (int c = 0; c < channels; ++c) {
      const int a = at(k, c);
      out[j * channels + c] = f == 0 ? static_cast<int16_t>(a) : clampTruncated(f * (at(k + 1, c) - a) + a);
    }
  }
  return pos;
}

// The positions of `n` frames in a conversion as resampleLinearly walks
// them, the sum of the steps kept in extended precision: each position's
// whole part, and its fraction rounded to double.
[[gnu::target_clones("sse3", "default")]]
long double resamplePositions(int64_t* whole, double* fraction, int64_t n, long double pos, long double step) {
  for (int64_t i = 0; i < n; ++i, pos += step) {
    const int64_t k = static_cast<int64_t>(pos);
    whole[i] = k;
    fraction[i] = static_cast<double>(pos - static_cast<long double>(k));
  }
  return pos;
}

// The interpolation of frames from..from+n-1 at those positions, in double
// precision; false when any value lies too near a whole number to be
// trusted (the rounding of the fraction moves a value by far less).
[[gnu::target_clones("avx2", "default")]]
bool interpolateApproximately(const int16_t* in, int64_t inFrames, int channels, int16_t* out, int64_t from,
                              const int64_t* whole, const double* fraction, int64_t n) {
  int64_t safe = 1;
  const auto value = [&](int64_t i, int c) {
    const int64_t k = whole[i];
    const double a = k < inFrames ? in[k * channels + c] : 0;
    const double b = k + 1 < inFrames ? in[(k + 1) * channels + c] : 0;
    const double v = fraction[i] * (b - a) + a;
    // On a frame, or between equal values, both precisions give a exactly.
    safe &= (fraction[i] == 0) | (a == b) | truncatesAsExact(v);
    return clampTruncatedApproximation(v);
  };
  // Mono apart: a loop of one value per frame vectorises.
  if (channels == 1) {
    for (int64_t i = 0; i < n; ++i) out[from + i] = value(i, 0);
  } else {
    for (int64_t i = 0; i < n; ++i)
      for (int c = 0; c < channels; ++c) out[(from + i) * channels + c] = value(i, c);
  }
  return safe != 0;
}

// resampleLinearly's frames a run at a time: positions first, then the
// values in double precision, the run taken again in extended precision
// when a value is too near a whole number.
long double resampleInRuns(const int16_t* in, int64_t inFrames, int channels, int16_t* out, int64_t from,
                           int64_t to, long double pos, long double step) {
  // A whole step from a whole position stays on the frames: every value is
  // a frame's own, and the sum of whole steps is exact.
  if (step == std::floor(step) && pos == std::floor(pos) && step < 0x1p62L) {
    const int64_t first = static_cast<int64_t>(pos), by = static_cast<int64_t>(step);
    for (int64_t j = from; j < to; ++j) {
      const int64_t k = first + (j - from) * by;
      for (int c = 0; c < channels; ++c) out[j * channels + c] = k < inFrames ? in[k * channels + c] : 0;
    }
    return pos + static_cast<long double>(to - from) * step;
  }
  constexpr int64_t kRun = 2048;
  std::array<int64_t, kRun> whole;
  std::array<double, kRun> fraction;
  for (int64_t begin = from; begin < to; begin += kRun) {
    const int64_t n = std::min(kRun, to - begin);
    const long double next = resamplePositions(whole.data(), fraction.data(), n, pos, step);
    if (!interpolateApproximately(in, inFrames, channels, out, begin, whole.data(), fraction.data(), n))
      resampleLinearly(in, inFrames, channels, out, begin, begin + n, pos, step);
    pos = next;
  }
  return pos;
}

}  // namespace

void WorkClicker::blockDone() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextClick_) return;
  userSide().click();
  nextClick_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
}

// ---- The store ------------------------------------------------------------------

// Every resize of the store comes here. A request beyond the memory limit, or
// one the allocator cannot meet, leaves the store as it was and sets
// outOfMemory; values gained by growing are silent.
bool TAmostras::reserveValues(int64_t values) {
  outOfMemory_ = true;
  if (values < 0) return false;
  if (memoryLimit_ > 0 && values > memoryLimit_) return false;
  if (values == 0) {
    store_.reset();
    storeValues_ = 0;
  } else if (values != storeValues_) {
    if (static_cast<uint64_t>(values) > SIZE_MAX / sizeof(int16_t)) return false;
    // A new store comes zeroed from calloc, which leaves the fresh pages of
    // a large store untouched: the headroom costs no memory until it is used.
    const bool fresh = store_ == nullptr;
    void* resized = fresh ? std::calloc(static_cast<size_t>(values), sizeof(int16_t))
                          : std::realloc(store_.get(), static_cast<size_t>(values) * sizeof(int16_t));
    if (resized == nullptr) return false;
    (void)store_.release();
    store_.reset(static_cast<int16_t*>(resized));
    if (!fresh && values > storeValues_)
      std::memset(store_.get() + storeValues_, 0,
                  static_cast<size_t>(values - storeValues_) * sizeof(int16_t));
    storeValues_ = values;
  }
  outOfMemory_ = false;
  return true;
}

// Room for frame `index` (>= capacity): 30000 frames while the index is
// below 25000, else the index times 1.2, truncated. A sound that fits is
// never refused for the headroom: the growth stops at the memory limit, and
// when the allocator refuses the headroom the exact room is asked for.
bool TAmostras::growFor(int64_t index) {
  if (index >= kMaxFrames) {  // count would not fit its 32 bits
    outOfMemory_ = true;
    return false;
  }
  const int64_t needed = index + 1;
  int64_t preferred = index < 25000 ? 30000 : std::min(index * 6 / 5, kMaxFrames);
  if (memoryLimit_ > 0) preferred = std::max(needed, std::min(preferred, memoryLimit_ / channels_));
  int64_t granted = preferred;
  if (!reserveValues(granted * channels_)) {
    granted = needed;
    if (preferred == needed || !reserveValues(granted * channels_)) return false;
  }
  capacity_ = static_cast<int32_t>(granted);
  return true;
}

// ---- What the witness is told ------------------------------------------------------

void TAmostras::noteChange(int64_t first, int64_t end) {
  ++changes_;
  recentChanges_[changes_ % recentChanges_.size()] = {changes_, first, end, count_};
}

std::optional<std::vector<FrameChange>> TAmostras::changesSince(uint64_t seen) const {
  if (seen > changes_ || changes_ - seen > recentChanges_.size()) return std::nullopt;
  std::vector<FrameChange> changes;
  for (uint64_t n = seen + 1; n <= changes_; ++n) {
    const FrameChange& change = recentChanges_[n % recentChanges_.size()];
    if (change.number != n) return std::nullopt;
    changes.push_back(change);
  }
  return changes;
}

TAmostras::Told TAmostras::tellFramesWillChange(int64_t first, int64_t end) {
  first = std::clamp<int64_t>(first, 0, count_);
  end = std::clamp<int64_t>(end, first, count_);
  noteChange(first, end);
  if (witness_ != nullptr) witness_->framesWillChange(*this, first, end);
  return Told(*this);
}

TAmostras::Told TAmostras::tellAllWillChange() {
  noteChange(0, count_);
  if (witness_ != nullptr) {
    witness_->framesWillChange(*this, 0, count_);
    witness_->formatWillChange(*this);
  }
  return Told(*this);
}

void TAmostras::setFrameTold(int64_t index, PackedFrame frame) {
  const Told told = index < count_ ? tellFramesWillChange(index, index + 1) : tellFramesWillChange(count_, count_);
  setFrame(index, frame);
}

std::span<int16_t> TAmostras::samplesToChange() { return samplesToChange(0, count_); }

std::span<int16_t> TAmostras::samplesToChange(int64_t first, int64_t end) {
  const Told told = tellFramesWillChange(first, end);
  return {store_.get(), static_cast<size_t>(count_) * static_cast<size_t>(channels_)};
}

std::span<int16_t> TAmostras::samplesToShorten(int64_t frames) {
  const std::span<int16_t> values = samplesToChange();
  count_ = static_cast<int32_t>(std::clamp<int64_t>(frames, 0, count_));
  return values;
}

bool TAmostras::fitStore() {
  if (capacity_ > count_ && !reserveValues(int64_t{count_} * channels_)) return false;
  capacity_ = count_;
  return true;
}

void TAmostras::setBitsPerSample(int32_t bits) {
  if (bits == bitsPerSample_) return;
  ++changes_;
  if (witness_ != nullptr) witness_->formatWillChange(*this);
  bitsPerSample_ = bits;
}

void TAmostras::clear() {
  markers_.clear();
  if (capacity_ == 0) return;
  const Told told = tellAllWillChange();
  stopPlaying();
  store_.reset();
  storeValues_ = 0;
  capacity_ = 0;
  count_ = 0;
}

void TAmostras::createSized(int32_t channels, int32_t sampleRate, int32_t bitsPerSample,
                            int64_t frames) {
  const Told told = tellAllWillChange();
  clear();
  channels_ = channels == 2 ? 2 : 1;  // the store knows mono and stereo only
  sampleRate_ = sampleRate;
  bitsPerSample_ = bitsPerSample;
  captureBuffers_ = 4;
  frames = std::max<int64_t>(frames, 0);
  if (frames > kMaxFrames) {
    outOfMemory_ = true;
    return;
  }
  if (!reserveValues(frames * channels_)) return;
  capacity_ = static_cast<int32_t>(frames);
  count_ = static_cast<int32_t>(frames);
}

void TAmostras::createCopy(const TAmostras& source) {
  if (&source == this) return;
  const Told told = tellAllWillChange();
  clear();
  channels_ = source.channels_;
  sampleRate_ = source.sampleRate_;
  bitsPerSample_ = source.bitsPerSample_;
  copyFramesFrom(source);
}

// Into this empty buffer of the source's channel count, the store grown
// once; when the room is refused the buffer stays empty with outOfMemory set.
void TAmostras::copyFramesFrom(const TAmostras& source) {
  const int64_t n = source.count_;
  if (n > 0) {
    setFrame(n - 1, 0);
    if (count_ != n) return;
    std::memcpy(store_.get(), source.store_.get(), static_cast<size_t>(n * channels_) * sizeof(int16_t));
  }
  markers_ = source.markers_;
}

// ---- Markers ------------------------------------------------------------------------

std::string markerTitle(const SoundMarker& marker) {
  return marker.name.empty() ? "Marcador " + std::to_string(marker.number) : marker.name;
}

std::string markerNameFrom(std::string_view title, uint32_t number) {
  return title == markerTitle({number, 0, {}}) ? std::string() : std::string(title);
}

uint32_t TAmostras::placeMarker(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, count_);
  uint32_t highest = 0;
  for (const SoundMarker& m : markers_) {
    if (m.frame == frame) return m.number;
    highest = std::max(highest, m.number);
  }
  const SoundMarker marker{highest + 1, frame, {}};
  markers_.insert(std::upper_bound(markers_.begin(), markers_.end(), marker,
                                   [](const SoundMarker& a, const SoundMarker& b) { return a.frame < b.frame; }),
                  marker);
  return marker.number;
}

bool TAmostras::removeMarker(uint32_t number) {
  return std::erase_if(markers_, [&](const SoundMarker& m) { return m.number == number; }) > 0;
}

bool TAmostras::nameMarker(uint32_t number, std::string name) {
  const auto marker = std::ranges::find(markers_, number, &SoundMarker::number);
  if (marker == markers_.end()) return false;
  marker->name = std::move(name);
  return true;
}

void TAmostras::setMarkers(std::vector<SoundMarker> markers) {
  std::erase_if(markers, [&](const SoundMarker& m) { return m.frame < 0 || m.frame > count_; });
  std::stable_sort(markers.begin(), markers.end(),
                   [](const SoundMarker& a, const SoundMarker& b) { return a.frame < b.frame; });
  markers_.clear();
  for (const SoundMarker& m : markers) {
    if (std::none_of(markers_.begin(), markers_.end(), [&](const SoundMarker& k) { return k.number == m.number; }))
      markers_.push_back(m);
  }
}

void TAmostras::moveMarkers(int64_t oldEnd, int64_t newEnd) {
  if (newEnd < oldEnd)
    std::erase_if(markers_, [&](const SoundMarker& m) { return m.frame >= newEnd && m.frame < oldEnd; });
  for (SoundMarker& m : markers_)
    if (m.frame >= oldEnd) m.frame += newEnd - oldEnd;
}

// ---- Editing ------------------------------------------------------------------------

void TAmostras::deleteRange(int64_t start, int64_t length) {
  if (start < 0 || count_ == 0 || start >= count_ || length <= 0) return;
  resizeFrames(start, std::min<int64_t>(length, count_ - start), 0);
}

void TAmostras::insertSilence(int64_t position, int64_t length) {
  if (position < 0 || count_ == 0 || length <= 0) return;
  position = std::min<int64_t>(position, count_);
  const int64_t oldCount = count_;
  if (length > kMaxFrames - oldCount) {
    outOfMemory_ = true;
    return;
  }
  const Told told = tellFramesWillChange(position, position);
  setFrame(oldCount + length - 1, 0);
  if (count_ != oldCount + length) return;  // no room: the sound stays as it was
  int16_t* s = store_.get();
  const int64_t ch = channels_;
  std::memmove(s + (position + length) * ch, s + position * ch,
               static_cast<size_t>((oldCount - position) * ch) * sizeof(int16_t));
  std::memset(s + position * ch, 0, static_cast<size_t>(length * ch) * sizeof(int16_t));
  moveMarkers(position, position + length);
}

bool TAmostras::resizeFrames(int64_t start, int64_t oldLength, int64_t newLength) {
  const int64_t ch = channels_;
  start = std::clamp<int64_t>(start, 0, count_);
  oldLength = std::clamp<int64_t>(oldLength, 0, count_ - start);
  newLength = std::max<int64_t>(newLength, 0);
  const int64_t oldCount = count_;
  const int64_t newCount = oldCount - oldLength + newLength;
  if (newCount > kMaxFrames) {
    outOfMemory_ = true;
    return false;
  }
  const Told told = tellFramesWillChange(start, start + oldLength);
  if (newCount > capacity_) {
    if (!reserveValues(newCount * ch)) return false;
    capacity_ = static_cast<int32_t>(newCount);
  }
  // The tail moves once, to its new place.
  int16_t* s = store_.get();
  if (const int64_t tail = oldCount - start - oldLength; tail > 0)
    std::memmove(s + (start + newLength) * ch, s + (start + oldLength) * ch, static_cast<size_t>(tail * ch) * sizeof(int16_t));
  if (newLength > oldLength)
    std::memset(s + (start + oldLength) * ch, 0, static_cast<size_t>((newLength - oldLength) * ch) * sizeof(int16_t));
  count_ = static_cast<int32_t>(newCount);
  moveMarkers(start + oldLength, start + newLength);
  if (newCount < oldCount && !fitStore())
    std::memset(store_.get() + newCount * ch, 0, static_cast<size_t>(storeValues_ - newCount * ch) * sizeof(int16_t));
  return true;
}

bool TAmostras::append(const TAmostras& other) {
  if (other.sampleRate_ != sampleRate_) return false;
  const int64_t n = count_;
  const int64_t otherCount = other.count_;
  if (otherCount == 0) return true;
  const Told told = tellFramesWillChange(n, n);
  setFrame(n + otherCount - 1, 0);
  if (count_ == n + otherCount && other.channels_ == channels_) {
    std::memcpy(store_.get() + n * channels_, other.store_.get(),
                static_cast<size_t>(otherCount * channels_) * sizeof(int16_t));
    return true;
  }
  // Mixed channel counts, or no room for all of it: frame by frame, so that a
  // mono destination averages and as much as fits is kept.
  for (int64_t i = 0; i < otherCount; ++i) {
    setFrame(n + i, other.getFrame(i));
    if (n + i >= capacity_) break;
  }
  return true;
}

bool TAmostras::reserveFrames(int64_t frames) {
  if (frames <= capacity_) return true;
  const bool refusedBefore = outOfMemory_;
  if (frames > kMaxFrames || !reserveValues(frames * channels_)) {
    outOfMemory_ = refusedBefore;
    return false;
  }
  capacity_ = static_cast<int32_t>(frames);
  return true;
}

bool TAmostras::appendValues(std::span<const int16_t> values) {
  const int64_t frames = static_cast<int64_t>(values.size()) / channels_;
  const int64_t n = count_;
  if (frames == 0) return true;
  if (frames > kMaxFrames - n) {
    outOfMemory_ = true;
    return false;
  }
  const Told told = tellFramesWillChange(n, n);
  setFrame(n + frames - 1, 0);
  if (count_ != n + frames) return false;
  std::memcpy(store_.get() + n * channels_, values.data(), static_cast<size_t>(frames * channels_) * sizeof(int16_t));
  return true;
}

bool TAmostras::mixAt(const TAmostras& other, int64_t offset, long double ownGain,
                      long double otherGain) {
  if (other.sampleRate_ != sampleRate_ || offset > count_) return false;
  const int64_t otherCount = other.count_;
  if (otherCount == 0) return true;
  const int64_t end = offset + otherCount;
  const Told told = tellFramesWillChange(offset, end);
  if (end > count_ && end <= kMaxFrames) setFrame(end - 1, 0);  // the store grows once
  if (count_ < end || other.channels_ != channels_) {
    mixFrameByFrame(other, offset, ownGain, otherGain);
    return true;
  }
  // Same layout on both sides: value j of the other sound meets value j
  // past the offset, in the order of the frames (the other sound may be
  // this one).
  const int64_t ch = channels_;
  int16_t* own = store_.get() + offset * ch;
  const int16_t* added = other.store_.get();
  const auto ownIn256ths = gainIn256ths(ownGain);
  const auto otherIn256ths = gainIn256ths(otherGain);
  if (ownIn256ths && otherIn256ths) {
    const int32_t a = *ownIn256ths, b = *otherIn256ths;
    inBlocks(0, otherCount * ch, [&](int64_t begin, int64_t stop) {
      for (int64_t j = begin; j < stop; ++j) own[j] = scaledIn256ths(own[j] * a + added[j] * b);
    });
    return true;
  }
  const bool approximate = approximable(ownGain) && approximable(otherGain);
  const double a = static_cast<double>(ownGain), b = static_cast<double>(otherGain);
  inBlocks(0, otherCount * ch, [&](int64_t begin, int64_t stop) {
    for (int64_t j = begin; j < stop; ++j) {
      const double mixed = own[j] * a + added[j] * b;
      own[j] = approximate && truncatesAsExact(mixed)
                   ? clampTruncatedApproximation(mixed)
                   : clampTruncated(own[j] * ownGain + added[j] * otherGain);
    }
  });
  return true;
}

// Any layout, and as far as the store can grow when it cannot hold it all.
void TAmostras::mixFrameByFrame(const TAmostras& other, int64_t offset, long double ownGain,
                                long double otherGain) {
  const int64_t otherCount = other.count_;  // the other sound may be this one, growing
  for (int64_t i = 0; i < otherCount; ++i) {
    const FrameValues a = unpackFrame(getFrame(offset + i));
    const FrameValues b = unpackFrame(other.getFrame(i));
    const int16_t left = clampTruncated(a.left * ownGain + b.left * otherGain);
    const int16_t right = clampTruncated(a.right * ownGain + b.right * otherGain);
    setFrame(offset + i, packFrame(left, right));
    if (offset + i >= capacity_) break;
  }
}

void rampFrames(std::span<int16_t> values, int32_t channels, int64_t first, int64_t last, long double startGain,
                long double endGain, int64_t from, int64_t to) {
  if (last <= first || to <= from) return;
  const int64_t ch = channels;
  int16_t* s = values.data();
  if (const auto gain = gainIn256ths(startGain); gain && startGain == endGain) {
    for (int64_t j = from * ch; j < to * ch; ++j) s[j] = scaledIn256ths(s[j] * *gain);
    return;
  }
  const long double step =
      (endGain - startGain) / (static_cast<long double>(last) - static_cast<long double>(first));
  const auto gainAt = [&](int64_t i) {
    return startGain + (static_cast<long double>(i) - static_cast<long double>(first)) * step;
  };
  const bool approximate = approximable(startGain) && approximable(endGain);
  const double start = static_cast<double>(startGain), slope = static_cast<double>(step);
  // Per frame, as the gain changes every frame.
  const auto exactly = [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) {
      const double gain = start + static_cast<double>(i - first) * slope;
      for (int16_t* v = s + i * ch; v < s + (i + 1) * ch; ++v) {
        const double scaled = *v * gain;
        *v = approximate && truncatesAsExact(scaled) ? clampTruncatedApproximation(scaled)
                                                     : clampTruncated(*v * gainAt(i));
      }
    }
  };
  if (!approximate) return exactly(from, to);
  // Short runs at once when every value is safe in double precision, else
  // frame by frame.
  constexpr int64_t kRunFrames = 2048;
  std::array<int16_t, kRunFrames * 2> scaled;
  for (int64_t run = from; run < to; run += kRunFrames) {
    const int64_t end = std::min(to, run + kRunFrames);
    const auto n = static_cast<int32_t>((end - run) * ch);
    if (rampApproximately(scaled.data(), s + run * ch, n, static_cast<int>(ch - 1), start,
                          static_cast<double>(run - first), slope)) {
      std::memcpy(s + run * ch, scaled.data(), static_cast<size_t>(n) * sizeof(int16_t));
    } else {
      exactly(run, end);
    }
  }
}

void TAmostras::applyGainRamp(int64_t first, int64_t last, long double startGain,
                              long double endGain) {
  if (last <= first) return;
  const Told told = tellFramesWillChange(first, last + 1);
  const int64_t begin = std::max<int64_t>(first, 0);
  const int64_t inside = std::max(begin, std::min<int64_t>(last + 1, count_));
  const std::span<int16_t> values(store_.get(), static_cast<size_t>(count_ * channels_));
  inBlocks(begin, inside, [&](int64_t from, int64_t to) {
    rampFrames(values, channels_, first, last, startGain, endGain, from, to);
  });
  // Past the end: silence times any gain is silence, written all the same,
  // so that the sound grows to `last` as frame-by-frame writing makes it.
  for (int64_t i = inside; i <= last; ++i) {
    setFrame(i, 0);
    if (i >= capacity_) break;
  }
}

void TAmostras::setChannels(int32_t channels) {
  if (channels == channels_ || (channels != 1 && channels != 2)) return;
  const Told told = tellAllWillChange();
  const int64_t n = count_;
  if (channels == 2) {
    if (!reserveValues(n * 2)) return;
    int16_t* s = store_.get();
    for (int64_t i = n - 1; i >= 0; --i) s[2 * i] = s[2 * i + 1] = s[i];
    channels_ = 2;
    capacity_ = count_;
    return;
  }
  int16_t* s = store_.get();
  // Each half is halved before the addition (setFrame adds first).
  for (int64_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(s[2 * i] / 2 + s[2 * i + 1] / 2);
  channels_ = 1;
  if (!reserveValues(n)) {
    std::memset(store_.get() + n, 0, static_cast<size_t>(storeValues_ - n) * sizeof(int16_t));
  }
  capacity_ = count_;
}

void TAmostras::setSampleRate(int32_t rate) {
  if (!isAcceptedSampleRate(rate) || rate == sampleRate_) return;
  ++changes_;
  if (witness_ != nullptr) witness_->formatWillChange(*this);
  sampleRate_ = rate;
}

void TAmostras::convertFrom(const TAmostras& source, int32_t newRate) {
  if (&source == this) {
    TAmostras original;
    original.createCopy(*this);
    convertFrom(original, newRate);
    return;
  }
  const Told told = tellAllWillChange();
  clear();
  createSized(source.channels_, source.sampleRate_, source.bitsPerSample_, 0);
  const int64_t sourceCount = source.count_;

  if (newRate == source.sampleRate_) {
    copyFramesFrom(source);
    return;
  }

  if (newRate <= 0 || source.sampleRate_ <= 0) return;  // no sensible step: stays empty
  // Any working rate: mixing brings a second sound to the rate of the first,
  // whatever rate that one was recorded at.
  sampleRate_ = newRate;
  const long double step =
      static_cast<long double>(source.sampleRate_) / static_cast<long double>(newRate);
  const long double frames = std::trunc(static_cast<long double>(sourceCount) / step);
  const int64_t n = frames > static_cast<long double>(kMaxFrames) ? kMaxFrames + 1
                                                                  : static_cast<int64_t>(frames);
  setFrame(n - 1, 0);
  // All of it or nothing: a conversion cut short is never used.
  if (count_ != n) return;
  long double pos = 0;
  // The last frame stays silent.
  inBlocks(0, n - 1, [&](int64_t from, int64_t to) {
    pos = resampleInRuns(source.store_.get(), sourceCount, channels_, store_.get(), from, to, pos, step);
  });
  std::vector<SoundMarker> markers = source.markers_;
  for (SoundMarker& m : markers) m.frame = m.frame * newRate / source.sampleRate_;
  setMarkers(std::move(markers));
}

// ---- Files ------------------------------------------------------------------------

void TAmostras::takeOver(TAmostras& loaded) {
  if (&loaded == this) return;
  const Told told = tellAllWillChange();
  clear();
  store_ = std::move(loaded.store_);
  storeValues_ = loaded.storeValues_;
  count_ = loaded.count_;
  capacity_ = loaded.capacity_;
  channels_ = loaded.channels_;
  sampleRate_ = loaded.sampleRate_;
  bitsPerSample_ = loaded.bitsPerSample_;
  outOfMemory_ = false;
  markers_ = std::move(loaded.markers_);
  loaded.markers_.clear();
  loaded.storeValues_ = 0;
  loaded.count_ = 0;
  ++loaded.changes_;
  loaded.capacity_ = 0;
}

// Reads `dataBytes` of PCM data in this buffer's format into its empty
// store, sized as a frame-by-frame load would size it. The bytes of an
// incomplete last frame must be there but are not kept.
bool TAmostras::readData(ByteSource& source, uint64_t dataBytes) {
  const uint64_t frameBytes =
      static_cast<uint64_t>(channels_) * static_cast<uint64_t>(bitsPerSample_ / 8);
  const int64_t frames = static_cast<int64_t>(std::min<uint64_t>(dataBytes / frameBytes, kMaxFrames + 1));
  if (frames == 0) return false;  // shorter than one frame
  if (const auto left = source.remaining(); left && *left < dataBytes) return false;  // cut short
  setFrame(frames - 1, 0);
  if (count_ != frames) return false;  // memory refused, or more frames than a sound holds
  int16_t* store = store_.get();
  const size_t values = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
  // Straight into the store in large pieces, 8-bit data through a
  // conversion area.
  std::vector<uint8_t> piece(bitsPerSample_ == 8 ? std::min<size_t>(values, kWorkBlockValues) : 0);
  PagePrefaulter prefaulter(store, values * sizeof(int16_t));
  WorkClicker clicker;
  for (size_t done = 0; done < values; prefaulter.filled(done * sizeof(int16_t)), clicker.blockDone()) {
    const size_t n = std::min<size_t>(values - done, kWorkBlockValues);
    if (bitsPerSample_ == 16) {
      if (!source.readExact(store + done, n * sizeof(int16_t))) return false;
      nativeToLittleEndian(store + done, n);
    } else {
      if (!source.readExact(piece.data(), n)) return false;
      for (size_t i = 0; i < n; ++i) store[done + i] = sampleFrom8Bit(piece[i]);
    }
    done += n;
  }
  return source.skipExact(dataBytes - static_cast<uint64_t>(frames) * frameBytes);
}

bool TAmostras::loadWav(std::string_view fileName) {
  outOfMemory_ = false;
  const UniqueFd file = openRegularFile(fileName);
  if (!file.valid()) return false;
  FdSource source(file.get());
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok) return false;

  // PCM only, mono or stereo, 8 or 16 bits, at a rate that can divide a time.
  const WavFormat& format = layout.format;
  if (!isPlainPcm(format)) return false;
  if (format.sampleRate == 0 || format.sampleRate > static_cast<uint32_t>(kMaxFrames)) return false;

  // The file goes into a fresh store: the sound in memory survives a failure.
  TAmostras loaded;
  loaded.memoryLimit_ = memoryLimit_;
  loaded.channels_ = format.channels;
  loaded.sampleRate_ = static_cast<int32_t>(format.sampleRate);
  loaded.bitsPerSample_ = format.bitsPerSample;
  if (layout.dataBytes > 0 && !loaded.readData(source, layout.dataBytes)) {
    outOfMemory_ = loaded.outOfMemory_;
    return false;
  }
  loaded.setMarkers(markersAfterData(source, layout));
  takeOver(loaded);
  return true;
}

std::optional<bool> TAmostras::reloadWav(std::string_view fileName) {
  outOfMemory_ = false;
  const UniqueFd file = openRegularFile(fileName);
  if (!file.valid()) return std::nullopt;
  FdSource source(file.get());
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok) return std::nullopt;
  const WavFormat& format = layout.format;
  if (format.formatTag != kWavFormatPcm || format.channels != channels_ || format.bitsPerSample != bitsPerSample_ ||
      format.sampleRate != static_cast<uint32_t>(sampleRate_))
    return std::nullopt;
  const uint64_t frameBytes = static_cast<uint64_t>(channels_) * static_cast<uint64_t>(bitsPerSample_ / 8);
  const uint64_t frames = layout.dataBytes / frameBytes;
  if (frames == 0 || frames > static_cast<uint64_t>(kMaxFrames)) return std::nullopt;
  if (const auto left = source.remaining(); !left || *left < layout.dataBytes) return std::nullopt;
  // Resized first: the store then holds exactly what readData fills.
  const Told told = tellFramesWillChange(0, count_);
  if (!resizeFrames(0, count_, static_cast<int64_t>(frames))) return std::nullopt;
  if (!readData(source, layout.dataBytes)) return false;
  setMarkers(markersAfterData(source, layout));
  return true;
}

bool TAmostras::saveWav(std::string_view fileName, FlushToDisk flush, int32_t bitsPerSample) const {
  WavWriter writer;
  if (!writer.open(*this, fileName, flush, bitsPerSample)) return false;
  WorkClicker clicker;
  while (!writer.done()) {
    if (!writer.writeSome(kWorkBlockValues)) return false;
    clicker.blockDone();
  }
  return writer.commit();
}

// ---- WavWriter ----------------------------------------------------------------------

bool WavWriter::open(const TAmostras& sound, std::string_view fileName, FlushToDisk flush,
                     int32_t bitsPerSample) {
  const int32_t bits = bitsPerSample != 0 ? bitsPerSample : sound.bitsPerSample();
  if (bits != 8 && bits != 16) return false;
  const std::span<const int16_t> values = sound.samples();
  const uint64_t dataBytes = static_cast<uint64_t>(values.size()) * static_cast<uint64_t>(bits / 8);
  std::vector<WavCuePoint> cues;
  for (const SoundMarker& m : sound.markers())
    cues.push_back({m.number, static_cast<uint32_t>(m.frame), markerTitle(m)});
  trailing_ = cueChunks(cues, dataBytes);
  // More than a WAV file can describe.
  if (dataBytes + trailing_.size() > UINT32_MAX - 36) return false;
  if (!out_.open(fileName, flush)) return false;
  auto header =
      makeWavHeader(static_cast<uint32_t>(dataBytes), static_cast<uint32_t>(sound.sampleRate()),
                    static_cast<uint16_t>(sound.channels()), static_cast<uint16_t>(bits));
  writeLe32(header.data() + 4, static_cast<uint32_t>(36 + dataBytes + trailing_.size()));
  if (!out_.write(header.data(), header.size())) return false;
  values_ = values;
  written_ = 0;
  bits_ = bits;
  stereo_ = sound.channels() == 2;
  return true;
}

// Straight from the store where the file's layout is the store's;
// otherwise through a conversion area.
bool WavWriter::writeSome(size_t most) {
  const size_t n = std::min(most, values_.size() - written_);
  const int16_t* from = values_.data() + written_;
  bool ok;
  if (bits_ == 16 && std::endian::native == std::endian::little) {
    ok = out_.write(from, n * sizeof(int16_t));
  } else if (bits_ == 16) {
    piece_.resize(n * sizeof(int16_t));
    std::memcpy(piece_.data(), from, piece_.size());
    nativeToLittleEndian(reinterpret_cast<int16_t*>(piece_.data()), n);
    ok = out_.write(piece_.data(), piece_.size());
  } else {
    piece_.resize(n);
    if (stereo_) {
      for (size_t i = 0; i < n; ++i) piece_[i] = stereoSampleTo8Bit(from[i]);
    } else {
      for (size_t i = 0; i < n; ++i) piece_[i] = monoSampleTo8Bit(from[i]);
    }
    ok = out_.write(piece_.data(), n);
  }
  written_ += n;
  return ok;
}

bool WavWriter::commit() {
  return done() && (trailing_.empty() || out_.write(trailing_.data(), trailing_.size())) && out_.commit();
}

}  // namespace kalimbro
