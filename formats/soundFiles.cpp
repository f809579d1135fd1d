// Sound files of every kind: the choice of reader and writer, and reading
// and writing through libsndfile in blocks straight into and out of the
// store.
#include "formats/soundFiles.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "formats/chapterTags.h"
#include "formats/sampleReduction.h"
#include "formats/wavMarkers.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/prefault.h"
#include "platform/wav_header.h"
#include "platform/worker_thread.h"

namespace kalimbro {
namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

bool bytesAre(std::span<const uint8_t> bytes, size_t at, std::string_view expected) {
  return bytes.size() >= at + expected.size() &&
         std::memcmp(bytes.data() + at, expected.data(), expected.size()) == 0;
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// ---- libsndfile ------------------------------------------------------------------------

struct CloseSndfile {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using Sndfile = std::unique_ptr<SNDFILE, CloseSndfile>;

// The file's own format as this program names it; nothing for a kind or an
// encoding that is not read here.
std::optional<SoundFileFormat> formatOf(const SF_INFO& info) {
  int major = info.format & SF_FORMAT_TYPEMASK;
  if (major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) major = SF_FORMAT_WAV;  // WAV's variants
  const int encoding = info.format & SF_FORMAT_SUBMASK;
  const auto rows = soundKindRows();
  // A lossy kind's row names its encoding too (Vorbis and Opus share Ogg).
  const auto row = std::ranges::find_if(rows, [&](const SoundKindRow& r) {
    return r.sndfileFormat != 0 && r.sndfileFormat == (r.keepsEverySample ? major : major | encoding);
  });
  if (row == rows.end()) return std::nullopt;
  SoundFileFormat format{row->kind, 0, false};
  if (!row->keepsEverySample) return format;
  switch (encoding) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8: format.bitsPerSample = 8; break;
    case SF_FORMAT_PCM_16: format.bitsPerSample = 16; break;
    case SF_FORMAT_PCM_24: format.bitsPerSample = 24; break;
    case SF_FORMAT_PCM_32: format.bitsPerSample = 32; break;
    case SF_FORMAT_FLOAT: format.bitsPerSample = 32; format.floatingPoint = true; break;
    case SF_FORMAT_DOUBLE: format.bitsPerSample = 64; format.floatingPoint = true; break;
    default: return std::nullopt;  // compressed WAV, A-law, u-law ...
  }
  return format;
}

// ---- Markers ------------------------------------------------------------------------------

// libsndfile's cue list of any length is the count, then the points, laid
// out as in this one.
constexpr size_t kFirstCuePoint = offsetof(SF_CUES, cue_points);

size_t cueListBytes(size_t points) { return kFirstCuePoint + points * sizeof(SF_CUE_POINT); }

// The file's cue points (WAV) or markers (AIFF) as the sound's markers: the
// number, the frame and the name.
std::vector<SoundMarker> markersIn(SNDFILE* file) {
  uint32_t count = 0;
  if (!sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof count) || count == 0) return {};
  std::vector<uint8_t> list(cueListBytes(count));
  if (!sf_command(file, SFC_GET_CUE, list.data(), static_cast<int>(list.size()))) return {};
  uint32_t listed = 0;
  std::memcpy(&listed, list.data(), sizeof listed);
  std::vector<SoundMarker> markers;
  for (size_t i = 0; i < std::min(count, listed); ++i) {
    SF_CUE_POINT point;
    std::memcpy(&point, list.data() + cueListBytes(i), sizeof point);
    const auto number = static_cast<uint32_t>(point.indx);
    const std::string_view title(point.name, strnlen(point.name, sizeof point.name));
    markers.push_back({number, point.sample_offset, markerNameFrom(title, number)});
  }
  return markers;
}

// The sound's markers as an AIFF file's markers, numbered and named as the
// program's own WAV files have them. Before any frame is written.
bool setMarkersOf(SNDFILE* file, const std::vector<SoundMarker>& markers) {
  if (markers.empty()) return true;
  std::vector<uint8_t> list(cueListBytes(markers.size()));
  const auto count = static_cast<uint32_t>(markers.size());
  std::memcpy(list.data(), &count, sizeof count);
  for (size_t i = 0; i < markers.size(); ++i) {
    SF_CUE_POINT point{};
    point.indx = static_cast<int32_t>(markers[i].number);
    point.position = static_cast<uint32_t>(markers[i].frame);
    point.fcc_chunk = 0x61746164;  // "data", little-endian
    point.sample_offset = static_cast<uint32_t>(markers[i].frame);
    std::snprintf(point.name, sizeof point.name, "%s", markerTitle(markers[i]).c_str());
    std::memcpy(list.data() + cueListBytes(i), &point, sizeof point);
  }
  return sf_command(file, SFC_SET_CUE, list.data(), static_cast<int>(list.size())) == SF_TRUE;
}

// What puts the sound's markers into a new file of `kind` once libsndfile
// has written it: cue points with their labels after a WAV file's last
// chunk (libsndfile writes no labels), chapters into the tags of the
// others; nothing where libsndfile wrote them or the kind keeps none.
FinishNewFile markersWriter(const TAmostras& sound, SoundKind kind) {
  switch (soundKindRow(kind).markers) {
    case MarkerPlace::wavCues:
      return [&sound](const std::string& file) { return addWavCuePoints(file, sound.markers()); };
    case MarkerPlace::chapterTags:
      return [kind, chapters = chaptersOf(sound.markers(), sound.sampleRate(), sound.count())](
                 const std::string& file) { return writeChapterTags(file, kind, chapters); };
    default: return {};
  }
}

// The encoders of lossy kinds keep what they are handed until they have
// coded it: short blocks stay in the processor's cache.
constexpr int64_t kEncoderBlockFrames = 8192;

// Frames first..end-1 of a file, and the dither of their reduction.
struct FrameRange {
  int64_t first = 0;
  int64_t end = 0;
  uint32_t ditherStream = 0;
};

// A file's frames a block at a time as the memory's 16-bit values (1 or 2
// channels): 8- and 16-bit files of one or two channels straight, deeper,
// wider and lossy ones reduced.
class BlockReader {
 public:
  BlockReader(int32_t fileChannels, const SoundFileFormat& format, uint32_t ditherStream)
      : fileChannels_(fileChannels),
        straight_(isPcmKind(format.kind) && format.bitsPerSample <= 16 && fileChannels <= 2),
        floats_(!isPcmKind(format.kind) || format.floatingPoint),
        block_(readBlockFrames(fileChannels)),
        reducer_(fileChannels, ditherStream) {
    const auto values = static_cast<size_t>(block_ * fileChannels);
    if (!straight_ && floats_) floatValues_.resize(values);
    if (!straight_ && !floats_) ints_.resize(values);
  }
  int32_t channels() const { return reducer_.channels(); }
  int64_t block() const { return block_; }
  // Up to `n` frames (at most a block) into `out`: how many the file gave,
  // fewer than `n` at its end.
  int64_t read(SNDFILE* file, int16_t* out, int64_t n) {
    if (straight_) return std::max<sf_count_t>(sf_readf_short(file, out, n), 0);
    const int64_t got = std::max<sf_count_t>(
        floats_ ? sf_readf_float(file, floatValues_.data(), n) : sf_readf_int(file, ints_.data(), n), 0);
    const auto values = static_cast<size_t>(got * fileChannels_);
    if (floats_) {
      reducer_.floats({floatValues_.data(), values}, out);
    } else {
      reducer_.ints({ints_.data(), values}, out);
    }
    return got;
  }

 private:
  int32_t fileChannels_;
  bool straight_;
  bool floats_;
  int64_t block_;
  SampleReducer reducer_;
  std::vector<int32_t> ints_;
  std::vector<float> floatValues_;
};

// The frames of `range` from `file`, which stands at its first, into
// `store`, until the file ends or `stop` is set. The frame it reached:
// range.end unless it stopped before. `clicker`: on the thread the user
// hears.
int64_t readFrameRange(SNDFILE* file, int32_t fileChannels, const SoundFileFormat& format, std::span<int16_t> store,
                       FrameRange range, const std::atomic<bool>& stop, WorkClicker* clicker) {
  BlockReader reader(fileChannels, format, range.ditherStream);
  const int32_t channels = reader.channels();
  int16_t* const start = store.data() + range.first * channels;
  PagePrefaulter prefaulter(start, static_cast<size_t>((range.end - range.first) * channels) * sizeof(int16_t));
  int64_t done = range.first;
  while (done < range.end && !stop) {
    const int64_t n = std::min(reader.block(), range.end - done);
    const int64_t got = reader.read(file, store.data() + done * channels, n);
    done += got;
    prefaulter.filled(static_cast<size_t>((done - range.first) * channels) * sizeof(int16_t));
    if (clicker != nullptr) clicker->blockDone();
    if (got < n) break;
  }
  return done;
}

// Every frame of `file`, whose length is not known, added to `loaded` a
// block at a time to the file's end. False when memory is refused.
bool readToEnd(SNDFILE* file, int32_t fileChannels, const SoundFileFormat& format, TAmostras& loaded) {
  BlockReader reader(fileChannels, format, 0);
  std::vector<int16_t> values(static_cast<size_t>(reader.block() * reader.channels()));
  WorkClicker clicker;
  for (;; clicker.blockDone()) {
    const int64_t got = reader.read(file, values.data(), reader.block());
    if (!loaded.appendValues({values.data(), static_cast<size_t>(got * reader.channels())})) return false;
    if (got < reader.block()) return true;
  }
}

// Decoding is most of the time a Vorbis or Opus file takes to read: from a
// minute on, the second half is read at the same time, from a second
// opening of the file that seeks to it.
constexpr int64_t kSplitReadSeconds = 60;

// A second opening of the file standing at frame `at`; none when the file
// cannot be opened again, is not the same, or cannot seek there.
struct SecondOpening {
  UniqueFd fd;
  Sndfile file;
};

SecondOpening openAgainAt(std::string_view fileName, const SF_INFO& info, int64_t at) {
  SecondOpening again{openRegularFile(fileName), nullptr};
  if (!again.fd.valid()) return {};
  SF_INFO againInfo{};
  again.file.reset(sf_open_fd(again.fd.get(), SFM_READ, &againInfo, SF_FALSE));
  if (!again.file || againInfo.frames != info.frames || againInfo.channels != info.channels ||
      againInfo.format != info.format || sf_seek(again.file.get(), at, SEEK_SET) != at)
    return {};
  return again;
}

// Reads the frames of `file` into the store of `loaded`, made for as many
// as the file announced, in the memory's format (1 or 2 channels). The
// frames it gave: fewer than announced when it ends before.
int64_t readFrames(std::string_view fileName, SNDFILE* file, const SF_INFO& info, const SoundFileFormat& format,
                   TAmostras& loaded) {
  const int64_t frames = loaded.count();
  const std::span<int16_t> store = loaded.samplesToChange();
  // Set when the first half ends early: what the second reads is then of
  // no use.
  std::atomic<bool> stop = false;
  WorkClicker clicker;
  const int64_t half = frames / 2;
  SecondOpening second;
  if (!isPcmKind(format.kind) && frames >= kSplitReadSeconds * info.samplerate)
    second = openAgainAt(fileName, info, half);
  if (!second.file) return readFrameRange(file, info.channels, format, store, {0, frames}, stop, &clicker);

  std::atomic<bool> secondDone = false;
  int64_t secondReached = half;
  const auto readSecondHalf = [&] {
    secondReached = readFrameRange(second.file.get(), info.channels, format, store, {half, frames, 1}, stop, nullptr);
    secondDone = true;
  };
  std::thread secondHalf = startWorkerThread(readSecondHalf);
  if (!secondHalf.joinable()) readSecondHalf();
  const int64_t firstReached = readFrameRange(file, info.channels, format, store, {0, half}, stop, &clicker);
  if (firstReached < half) stop = true;
  while (!secondDone) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    clicker.blockDone();
  }
  if (secondHalf.joinable()) secondHalf.join();
  return firstReached < half ? firstReached : secondReached;
}

// The layout of a RIFF/WAVE file; nothing for any other file.
std::optional<WavLayout> wavLayoutOf(int fd) {
  FdSource source(fd);
  WavLayout layout;
  if (walkWavHeader(source, layout) != WavWalk::ok) return std::nullopt;
  return layout;
}

// The frames the COMM chunk of an AIFF file announces (libsndfile counts
// only those its sound data holds); nothing for another file.
std::optional<int64_t> aiffAnnouncedFrames(int fd) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
  FdSource source(fd);
  std::array<uint8_t, 12> form;
  if (!source.readExact(form.data(), form.size()) || !bytesAre(form, 0, "FORM") ||
      !(bytesAre(form, 8, "AIFF") || bytesAre(form, 8, "AIFC")))
    return std::nullopt;
  for (;;) {
    std::array<uint8_t, 8> chunk;
    if (!source.readExact(chunk.data(), chunk.size())) return std::nullopt;
    const uint32_t size = bigEndian32(chunk.data() + 4);
    if (bytesAre(chunk, 0, "COMM")) {
      std::array<uint8_t, 6> fields;  // the channels, then the frames
      if (!source.readExact(fields.data(), fields.size())) return std::nullopt;
      return bigEndian32(fields.data() + 2);
    }
    if (!source.skipExact(uint64_t{size} + size % 2)) return std::nullopt;  // a pad byte after an odd size
  }
}

SoundLoad failed(LoadFailure failure) { return SoundLoad{failure, {}, {}}; }

// ---- Writing ------------------------------------------------------------------------------

// The rates an Opus file carries.
constexpr std::array<int32_t, 5> kOpusRates = {8000, 12000, 16000, 24000, 48000};
int32_t opusRateFor(int32_t rate) {
  for (const int32_t r : kOpusRates)
    if (r >= rate) return r;
  return kOpusRates.back();
}
// libsndfile's compression level for an Opus file of `bitRate` bits per
// second (0: 32 kb/s per channel); its bit rate goes from 256 kb/s per
// channel at level 0 to 6 kb/s at level 1.
double opusLevel(int32_t bitRate, int32_t channels) {
  constexpr double kNewFileBitsPerChannel = 32000, kMost = 256000, kLeast = 6000;
  const double perChannel = bitRate > 0 ? static_cast<double>(bitRate) / channels : kNewFileBitsPerChannel;
  return std::clamp((kMost - perChannel) / (kMost - kLeast), 0.0, 1.0);
}
// libsndfile's level for a Vorbis file of `bitRate` (its quality is one
// minus the level); 0: quality 0.4 (oggenc's 4). Vorbis aims at a quality,
// not a rate: the rates of qualities 0 to 1 for each channel of a 44.1 kHz
// sound, tenth by tenth, lead from one to the other.
double vorbisLevel(int32_t bitRate, int32_t channels) {
  constexpr std::array<double, 11> kKbpsPerChannel = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 250};
  if (bitRate <= 0) return 0.6;
  const double perChannel = static_cast<double>(bitRate) / 1000 / channels;
  double quality = 1;
  for (size_t q = 1; q < kKbpsPerChannel.size(); ++q) {
    if (perChannel > kKbpsPerChannel[q]) continue;
    const double low = kKbpsPerChannel[q - 1], high = kKbpsPerChannel[q];
    quality = (static_cast<double>(q - 1) + std::clamp((perChannel - low) / (high - low), 0.0, 1.0)) / 10;
    break;
  }
  return 1 - quality;
}

// libsndfile's format for a file of `format` into `info` (its channels and
// rate set); false where libsndfile does not write it. 8 bits are signed
// where the kind takes them so, else unsigned (WAV).
bool setSndfileFormat(const SoundFileFormat& format, SF_INFO& info) {
  const SoundKindRow& row = soundKindRow(format.kind);
  if (row.sndfileFormat == 0) return false;
  if (!row.keepsEverySample) {
    info.format = row.sndfileFormat;
    return sf_format_check(&info) != 0;
  }
  std::vector<int> encodings;
  if (format.floatingPoint) {
    if (format.bitsPerSample == 32) encodings = {SF_FORMAT_FLOAT};
    if (format.bitsPerSample == 64) encodings = {SF_FORMAT_DOUBLE};
  } else {
    switch (format.bitsPerSample) {
      case 8: encodings = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8}; break;
      case 16: encodings = {SF_FORMAT_PCM_16}; break;
      case 24: encodings = {SF_FORMAT_PCM_24}; break;
      case 32: encodings = {SF_FORMAT_PCM_32}; break;
      default: break;
    }
  }
  for (const int encoding : encodings) {
    info.format = row.sndfileFormat | encoding;
    if (sf_format_check(&info)) return true;
  }
  return false;
}

// libsndfile writes through a FileReplacer: in order, but for the header,
// which it writes again at the end with the sizes filled in; those bytes
// become rewrites of what was written. Nothing is read back.
class ReplacerIo {
 public:
  explicit ReplacerIo(FileReplacer& out) : out_(out) {}
  SF_VIRTUAL_IO* callbacks() { return &callbacks_; }

 private:
  static ReplacerIo& of(void* self) { return *static_cast<ReplacerIo*>(self); }
  static sf_count_t length(void* self) { return static_cast<sf_count_t>(of(self).out_.size()); }
  static sf_count_t tell(void* self) { return of(self).at_; }
  static sf_count_t read(void*, sf_count_t, void*) { return 0; }
  static sf_count_t seek(sf_count_t offset, int whence, void* self) {
    ReplacerIo& io = of(self);
    const sf_count_t base = whence == SEEK_CUR ? io.at_ : whence == SEEK_END ? length(self) : 0;
    if (offset < -base) return -1;
    io.at_ = base + offset;
    return io.at_;
  }
  static sf_count_t write(const void* data, sf_count_t n, void* self) {
    ReplacerIo& io = of(self);
    const auto end = static_cast<sf_count_t>(io.out_.size());
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (n <= 0) return 0;
    // Up to the end, bytes already written; past it, a gap of zeros first.
    const sf_count_t over = std::min(n, std::max<sf_count_t>(end - io.at_, 0));
    if (over > 0 && !io.out_.rewrite(static_cast<uint64_t>(io.at_), bytes, static_cast<size_t>(over))) return 0;
    static constexpr std::array<uint8_t, 4096> kZeros{};
    for (sf_count_t gap = io.at_ - end; gap > 0; gap -= static_cast<sf_count_t>(kZeros.size()))
      if (!io.out_.write(kZeros.data(), static_cast<size_t>(std::min<sf_count_t>(gap, kZeros.size())))) return 0;
    if (n > over && !io.out_.write(bytes + over, static_cast<size_t>(n - over))) return 0;
    io.at_ += n;
    return n;
  }

  FileReplacer& out_;
  sf_count_t at_ = 0;
  SF_VIRTUAL_IO callbacks_ = {length, seek, read, write, tell};
};

// Every frame, in blocks of `block` frames straight from the store.
bool writeFrames(SNDFILE* file, const TAmostras& sound, int64_t block) {
  const int32_t channels = sound.channels();
  const int16_t* values = sound.samples().data();
  const int64_t frames = sound.count();
  WorkClicker clicker;
  for (int64_t done = 0; done < frames; clicker.blockDone()) {
    const int64_t n = std::min(block, frames - done);
    if (sf_writef_short(file, values + done * channels, n) != n) return false;
    done += n;
  }
  return true;
}

// Every frame resampled to `rate` by linear interpolation between the two
// frames around each new one (the last frame held past the end), a block
// at a time.
bool writeResampled(SNDFILE* file, const TAmostras& sound, int32_t rate) {
  const int32_t channels = sound.channels();
  const int16_t* in = sound.samples().data();
  const int64_t inFrames = sound.count();
  const int64_t from = sound.sampleRate();
  // Whole frames of the new rate within the sound.
  const int64_t outFrames = static_cast<int64_t>(static_cast<__int128>(inFrames) * rate / from);
  const int64_t block = kEncoderBlockFrames;
  std::vector<int16_t> out(static_cast<size_t>(block * channels));
  // The position of the next new frame: frame `at` of the sound and
  // `part`/rate of the way to the next.
  int64_t at = 0, part = 0;
  WorkClicker clicker;
  for (int64_t done = 0; done < outFrames; clicker.blockDone()) {
    const int64_t n = std::min(block, outFrames - done);
    for (int64_t j = 0; j < n; ++j) {
      const int64_t next = std::min(at + 1, inFrames - 1);
      for (int32_t c = 0; c < channels; ++c) {
        const int64_t a = in[at * channels + c], b = in[next * channels + c];
        out[static_cast<size_t>(j * channels + c)] = static_cast<int16_t>(a + (b - a) * part / rate);
      }
      part += from;
      at += part / rate;
      part %= rate;
    }
    if (sf_writef_short(file, out.data(), n) != n) return false;
    done += n;
  }
  return true;
}

}  // namespace

// ---- Formats ---------------------------------------------------------------------------------

SoundFileFormat newFileFormat(SoundKind kind, int32_t bitsPerSample) {
  if (!isPcmKind(kind)) return {kind, 0, false};
  return {kind, bitsPerSample == 8 ? 8 : 16, false};
}

// ---- Loading ---------------------------------------------------------------------------------

SoundLoad loadSound(std::string_view fileName, TAmostras& sound) {
  UniqueFd fd = openRegularFile(fileName);
  if (!fd.valid()) return failed(LoadFailure::unreadable);
  const std::optional<WavLayout> wav = wavLayoutOf(fd.get());
  const bool wavCutShort = wav && wav->dataCutShort;
  // The 8- and 16-bit PCM WAV files of one or two channels that loadWav has
  // always read; one cut short before its first frame is no sound at all.
  if (wav && isPlainPcm(wav->format)) {
    fd.reset();
    if (wavCutShort && wav->dataBytes == 0) return failed(LoadFailure::unreadable);
    if (!sound.loadWav(fileName)) return failed(sound.outOfMemory() ? LoadFailure::memory : LoadFailure::unreadable);
    return SoundLoad{LoadFailure::none, {SoundKind::wav, sound.bitsPerSample(), false}, {}, wavCutShort};
  }

  const std::optional<int64_t> aiffFrames = aiffAnnouncedFrames(fd.get());
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) return failed(LoadFailure::unreadable);
  SF_INFO info{};
  const Sndfile file(sf_open_fd(fd.get(), SFM_READ, &info, SF_FALSE));
  if (!file) return failed(LoadFailure::unreadable);
  const std::optional<SoundFileFormat> format = formatOf(info);
  if (!format || info.channels < 1 || info.samplerate < 1 || info.frames < 0)
    return failed(LoadFailure::unreadable);
  // A FLAC file written through a pipe leaves its length out.
  const bool lengthKnown = info.frames != SF_COUNT_MAX;
  if (lengthKnown && info.frames > kMaxFrames) return failed(LoadFailure::memory);

  SoundLoad result{LoadFailure::none, *format, {}};
  const bool pcm = isPcmKind(format->kind);
  if (pcm && (format->bitsPerSample > 16 || format->floatingPoint)) {
    result.reduced.fileBits = format->bitsPerSample;
    result.reduced.fileFloat = format->floatingPoint;
  }
  if (info.channels > 2) result.reduced.fileChannels = info.channels;

  // Into a buffer of its own: the sound in memory stays as it was until the
  // whole file is read.
  TAmostras loaded;
  loaded.setMemoryLimit(sound.memoryLimit());
  loaded.createSized(std::min(info.channels, 2), info.samplerate,
                     pcm && format->bitsPerSample == 8 ? 8 : 16, 0);
  if (!lengthKnown) {
    if (!readToEnd(file.get(), info.channels, *format, loaded)) return failed(LoadFailure::memory);
    // The last page of an Ogg file tells its length: without it the file's
    // end is missing.
    result.cutShort = !pcm;
  } else if (info.frames > 0) {
    loaded.setFrame(info.frames - 1, 0);
    if (loaded.count() != info.frames) return failed(LoadFailure::memory);
    const int64_t got = readFrames(fileName, file.get(), info, *format, loaded);
    loaded.deleteRange(got, info.frames - got);
    result.cutShort = got < info.frames;
  }
  // libsndfile reads a WAV or AIFF file cut short to its end without a word.
  result.cutShort = result.cutShort || wavCutShort || (aiffFrames && *aiffFrames > loaded.count());
  if (result.cutShort && loaded.count() == 0) return failed(LoadFailure::unreadable);
  loaded.setMarkers(soundKindRow(format->kind).markers == MarkerPlace::chapterTags
                        ? markersOfChapters(readChapterTags(nativePath(fileName), format->kind), loaded.sampleRate())
                        : markersIn(file.get()));
  sound.takeOver(loaded);
  return result;
}

// ---- Saving ---------------------------------------------------------------------------------

bool saveSound(std::string_view fileName, const TAmostras& sound, const SoundFileFormat& format,
               FlushToDisk flush) {
  if (format.kind == SoundKind::wav && !format.floatingPoint &&
      (format.bitsPerSample == 8 || format.bitsPerSample == 16))
    return sound.saveWav(fileName, flush, format.bitsPerSample);

  const SoundKindRow& row = soundKindRow(format.kind);
  SF_INFO info{};
  info.channels = sound.channels();
  info.samplerate = format.kind == SoundKind::opus ? opusRateFor(sound.sampleRate()) : sound.sampleRate();
  if (sound.sampleRate() < 1 || !setSndfileFormat(format, info)) return false;
  if (row.sizesIn32Bits) {
    const uint64_t dataBytes = static_cast<uint64_t>(sound.samples().size()) *
                               static_cast<uint64_t>(format.bitsPerSample / 8);
    if (dataBytes > UINT32_MAX - 4096) return false;
  }

  FileReplacer out;
  if (!out.open(fileName, flush)) return false;
  ReplacerIo io(out);
  {
    Sndfile file(sf_open_virtual(io.callbacks(), SFM_WRITE, &info, &io));
    if (!file) return false;
    // Full scale is 1.0 in a float file; libsndfile would otherwise write
    // the 16-bit values as they are.
    if (format.floatingPoint) sf_command(file.get(), SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
    if (row.markers == MarkerPlace::sndfileCues && !setMarkersOf(file.get(), sound.markers())) return false;
    if (format.kind == SoundKind::opus || format.kind == SoundKind::vorbis) {
      double level = format.kind == SoundKind::opus ? opusLevel(format.bitRate, sound.channels())
                                                    : vorbisLevel(format.bitRate, sound.channels());
      if (!sf_command(file.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level)) return false;
    }
    const int64_t block = isPcmKind(format.kind) ? readBlockFrames(sound.channels()) : kEncoderBlockFrames;
    const bool written = info.samplerate == sound.sampleRate() ? writeFrames(file.get(), sound, block)
                                                               : writeResampled(file.get(), sound, info.samplerate);
    if (!written) return false;
    // Closing writes what libsndfile still holds (the header's sizes, the
    // last Ogg page); a failure there is a failed save.
    if (sf_close(file.release()) != 0) return false;
  }
  return sound.markers().empty() ? out.commit() : out.commit(markersWriter(sound, format.kind));
}

}  // namespace kalimbro
