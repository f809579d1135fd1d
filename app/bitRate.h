// bitRate: the bit rate save-as asks for when it writes a lossy file (MP3,
// Opus, Vorbis, M4A): each kind's range, the rate offered on Enter, and the
// last rate the user chose for each kind, kept in the settings file
// ([KALIMBRO] TAXA_MP3, TAXA_OPUS, TAXA_VORBIS, TAXA_M4A, in kb/s). Used by
// save-as.
#pragma once

#include <cstdint>
#include <optional>

#include "formats/soundFiles.h"

namespace kalimbro {

// The rates a kind takes for a sound of `channels`, in kb/s, and the rate
// a new file of the kind gets when the user never chose one.
struct BitRateRange {
  int32_t lowestKbps;
  int32_t highestKbps;
  int32_t newFileKbps;
};
// Nothing for the kinds that keep the samples exactly (WAV, FLAC, AIFF).
std::optional<BitRateRange> bitRateRange(SoundKind kind, int32_t channels);
// Enter's rate: the last one chosen for the kind, held to the range, else
// the new file's.
int32_t offeredKbps(SoundKind kind, const BitRateRange& range);
// Asks the rate in kb/s until one in the range is typed (Enter: the offered
// one; outside the range the user hears the range) and remembers it for
// the kind. Bits per second; nothing when the user gave up ("Desistiu...").
std::optional<int32_t> askBitRate(SoundKind kind, const BitRateRange& range);

}  // namespace kalimbro
