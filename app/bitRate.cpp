// The bit rate of a lossy file written by save-as.
#include "app/bitRate.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "app/klMsg.h"
#include "console/vrfala.h"
#include "console/vrini.h"
#include "platform/number_text.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

constexpr std::string_view kSection = "KALIMBRO";

// One row per lossy kind: its setting, the rates its encoder reaches and
// what a new file got before any choice. The per-channel kinds scale with
// the sound's channels; LAME's average rate is the whole file's.
struct LossyKind {
  SoundKind kind;
  std::string_view setting;
  int32_t lowestKbps, highestKbps, newFileKbps;
  bool perChannel;
};
constexpr LossyKind kLossyKinds[] = {
    // LAME's --abr range; LAME's own rate for a new file.
    {SoundKind::mp3, "TAXA_MP3", 8, 310, 128, false},
    // libsndfile's Opus levels, 256 down to 6 kb/s a channel; 32 a channel.
    {SoundKind::opus, "TAXA_OPUS", 6, 256, 32, true},
    // Vorbis qualities 0 to 10 at 44.1 kHz; quality 4.
    {SoundKind::vorbis, "TAXA_VORBIS", 32, 250, 64, true},
    // ffmpeg's AAC, 64 kb/s a channel.
    {SoundKind::aac, "TAXA_M4A", 8, 256, 64, true},
};

const LossyKind* lossyKind(SoundKind kind) {
  for (const LossyKind& row : kLossyKinds)
    if (row.kind == kind) return &row;
  return nullptr;
}

// "Este tipo de arquivo vai de 6 a 256 kb/s".
void sayRange(const BitRateRange& range) {
  sayMessage("KLTAXFOR", 0);
  writeSpeakInt(range.lowestKbps);
  sayMessage("KLTAXATE", 0);
  writeSpeakInt(range.highestKbps);
  sayMessage("KLTAXKBS", 1);
}

}  // namespace

std::optional<BitRateRange> bitRateRange(SoundKind kind, int32_t channels) {
  const LossyKind* row = lossyKind(kind);
  if (row == nullptr) return std::nullopt;
  const int32_t times = row->perChannel ? std::max(channels, 1) : 1;
  return BitRateRange{row->lowestKbps * times, row->highestKbps * times, row->newFileKbps * times};
}

int32_t offeredKbps(SoundKind kind, const BitRateRange& range) {
  const LossyKind* row = lossyKind(kind);
  if (row == nullptr) return range.newFileKbps;
  const std::optional<int32_t> chosen = wholeNumber32(iniRead(kSection, row->setting));
  if (!chosen || *chosen <= 0) return range.newFileKbps;
  return std::clamp(*chosen, range.lowestKbps, range.highestKbps);
}

std::optional<int32_t> askBitRate(SoundKind kind, const BitRateRange& range) {
  const int32_t offered = offeredKbps(kind, range);
  for (;;) {
    const std::optional<std::string> typed = askValue("KLTAXPER", "KLAJTAXA", AnswerAt::sameLine, std::to_string(offered));
    if (!typed) return std::nullopt;
    const bool enter = trimmed(*typed, kNumberBlanks).empty();
    const std::optional<int32_t> kbps = enter ? offered : wholeNumber32(*typed);
    if (!kbps || *kbps < range.lowestKbps || *kbps > range.highestKbps) {
      sayRange(range);
      continue;
    }
    // The next save-as offers it; a settings file that cannot be written
    // only loses the offer.
    if (const LossyKind* row = lossyKind(kind)) iniWrite(kSection, row->setting, std::to_string(*kbps));
    return *kbps * 1000;
  }
}

}  // namespace kalimbro
