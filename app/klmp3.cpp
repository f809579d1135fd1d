// MP3 conversion with LAME.
#include "app/klmp3.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/programState.h"
#include "formats/chapterTags.h"
#include "formats/wavMarkers.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// What LAME takes as an average rate, in kb/s.
constexpr int32_t kLowestKbps = 8, kHighestKbps = 310;

// "-b", "-B", or the same with the number joined ("-b128").
bool isRateLimit(std::string_view word) { return word.starts_with("-b") || word.starts_with("-B"); }

// LAME with its option words, then the input and the output file.
Conversion runLame(std::vector<std::string> words, std::string_view inputFile, std::string_view outputFile,
                   FlushToDisk flush, const FinishNewFile& finish = {}) {
  std::vector<std::string> args{program().settings.lameProgram};
  for (std::string& word : words) args.push_back(std::move(word));
  args.push_back(fileArgument(inputFile));
  return runConverter(std::move(args), outputFile, flush, {}, fileArgument, finish);
}

}  // namespace

Conversion runAndWait(std::string_view options, std::string_view inputFile, std::string_view outputFile,
                      FlushToDisk flush, const FinishNewFile& finish) {
  return runLame(splitWords(options), inputFile, outputFile, flush, finish);
}

Conversion mp3ToWav(std::string_view mp3File, std::string_view wavFile) {
  // The MP3's chapters become the copy's cue points.
  const std::vector<Chapter> chapters = readChapterTags(nativePath(mp3File), SoundKind::mp3);
  const FinishNewFile withMarkers = [&](const std::string& wav) {
    return chapters.empty() || addChapterCuePoints(wav, chapters);
  };
  // The decoded copy can always be made again from the MP3.
  return runAndWait(program().settings.lameDecodeOptions, mp3File, wavFile, FlushToDisk::no, withMarkers);
}

std::vector<std::string> lameEncodeWords(std::string_view options, int32_t bitRate) {
  std::vector<std::string> words = splitWords(options);
  if (bitRate <= 0) return words;
  std::vector<std::string> kept;
  for (size_t i = 0; i < words.size(); ++i) {
    // Only LAME's two-letter options: "--bitwidth" and the like stay.
    if (words[i].size() >= 2 && words[i][0] == '-' && words[i][1] != '-' && isRateLimit(words[i])) {
      if (words[i].size() == 2 && i + 1 < words.size()) ++i;  // its number
      continue;
    }
    kept.push_back(words[i]);
  }
  // Given last, the rate wins over a mode the options may set.
  kept.push_back("--abr");
  kept.push_back(std::to_string(std::clamp(bitRate / 1000, kLowestKbps, kHighestKbps)));
  return kept;
}

Conversion wavToMp3(std::string_view wavFile, std::string_view mp3File, int32_t bitRate) {
  std::vector<std::string> words = lameEncodeWords(program().settings.lameEncodeOptions, bitRate);
  // The WAV's cue points become the MP3's chapters.
  const std::optional<WavMarkers> wav = readWavMarkers(wavFile);
  if (!wav || wav->markers.empty()) return runLame(std::move(words), wavFile, mp3File, FlushToDisk::yes);
  const std::vector<Chapter> chapters = chaptersOf(wav->markers, wav->sampleRate, wav->frames);
  return runLame(std::move(words), wavFile, mp3File, FlushToDisk::yes, [&](const std::string& mp3) {
    return writeChapterTags(mp3, SoundKind::mp3, chapters);
  });
}

std::optional<int32_t> mp3FrameBitRate(std::span<const uint8_t> frame, uint64_t audioBytes) {
  // Layer III bit rates in kb/s by index, MPEG-1 and MPEG-2 (and 2.5).
  constexpr std::array<int32_t, 15> kMpeg1 = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  constexpr std::array<int32_t, 15> kMpeg2 = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  constexpr std::array<std::array<int32_t, 3>, 4> kRates = {{{11025, 12000, 8000}, {0, 0, 0},
                                                             {22050, 24000, 16000}, {44100, 48000, 32000}}};
  if (frame.size() < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) return std::nullopt;
  const int version = (frame[1] >> 3) & 3, layer = (frame[1] >> 1) & 3;
  const int rateIndex = frame[2] >> 4, sampleIndex = (frame[2] >> 2) & 3;
  if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3) return std::nullopt;
  const bool mpeg1 = version == 3, mono = (frame[3] >> 6) == 3;
  const int32_t headerRate = 1000 * (mpeg1 ? kMpeg1 : kMpeg2)[static_cast<size_t>(rateIndex)];
  // A Xing header (a variable rate) follows the side information and
  // counts the frames; "Info" is LAME's for a constant rate.
  const size_t xing = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (frame.size() < xing + 12 || std::memcmp(&frame[xing], "Xing", 4) != 0) return headerRate;
  const auto word = [&](size_t at) {
    return uint32_t{frame[at]} << 24 | uint32_t{frame[at + 1]} << 16 | uint32_t{frame[at + 2]} << 8 | frame[at + 3];
  };
  const uint32_t flags = word(xing + 4), frames = word(xing + 8);
  if ((flags & 1) == 0 || frames == 0) return headerRate;
  if ((flags & 2) != 0 && frame.size() >= xing + 16) audioBytes = word(xing + 12);
  const int64_t sampleRate = kRates[static_cast<size_t>(version)][static_cast<size_t>(sampleIndex)];
  const int64_t samples = int64_t{frames} * (mpeg1 ? 1152 : 576);
  return static_cast<int32_t>(static_cast<int64_t>(audioBytes) * 8 * sampleRate / samples);
}

std::optional<int32_t> mp3BitRate(std::string_view mp3File) {
  const UniqueFd fd = openRegularFile(mp3File);
  if (!fd.valid()) return std::nullopt;
  // An ID3v2 tag (cover art and all) comes first; its size is in 7-bit bytes.
  std::array<uint8_t, 10> tag{};
  uint64_t start = 0;
  if (pread(fd.get(), tag.data(), tag.size(), 0) == static_cast<ssize_t>(tag.size()) &&
      std::memcmp(tag.data(), "ID3", 3) == 0) {
    start = 10 + ((uint64_t{tag[6]} & 0x7F) << 21 | (uint64_t{tag[7]} & 0x7F) << 14 |
                  (uint64_t{tag[8]} & 0x7F) << 7 | (uint64_t{tag[9]} & 0x7F));
    if ((tag[5] & 0x10) != 0) start += 10;  // a footer
  }
  std::array<uint8_t, 4096> bytes{};
  const ssize_t got = pread(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(start));
  const std::optional<uint64_t> size = fileSize(mp3File);
  if (got <= 0 || !size || *size <= start) return std::nullopt;
  // The first frame may follow some padding.
  for (size_t at = 0; at + 4 <= static_cast<size_t>(got); ++at) {
    const std::span<const uint8_t> frame(bytes.data() + at, static_cast<size_t>(got) - at);
    if (const std::optional<int32_t> rate = mp3FrameBitRate(frame, *size - start - at)) return rate;
  }
  return std::nullopt;
}

std::string_view conversionFailureMessage(Conversion conversion) {
  return conversion == Conversion::gaveUp ? "KLDESIST" : "KLERRCNV";
}

}  // namespace kalimbro
