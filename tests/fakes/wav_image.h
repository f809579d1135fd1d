// WAV file images for tests: the canonical header with its data, and the
// pieces to build unusual files chunk by chunk (as byte strings).
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wav_header.h"

namespace kalimbro {

inline std::vector<uint8_t> wavImage(int rate, int bits, int channels, const std::vector<uint8_t>& data) {
  const auto header = makeWavHeader(static_cast<uint32_t>(data.size()), static_cast<uint32_t>(rate),
                                    static_cast<uint16_t>(channels), static_cast<uint16_t>(bits));
  // Filled in place: growing a vector made from the header trips a false
  // out-of-bounds warning of GCC 12 where this is inlined.
  std::vector<uint8_t> image(header.size() + data.size());
  std::copy(header.begin(), header.end(), image.begin());
  std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(header.size()));
  return image;
}

inline std::string le16(uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
inline std::string le32(uint32_t v) { return le16(uint16_t(v & 0xFFFF)) + le16(uint16_t(v >> 16)); }
inline std::string chunk(const std::string& id, const std::string& body) {
  return id + le32(uint32_t(body.size())) + body;
}
inline std::string pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
  const uint16_t align = uint16_t(channels * bits / 8);
  return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}
// An extensible format chunk's body: the common fields with tag 0xFFFE,
// then the extension, whose subformat GUID begins with `subformat` (1 PCM,
// 3 float).
inline std::string extensibleFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subformat = 1) {
  return pcmFormat(channels, rate, bits, 0xFFFE) + le16(22) + le16(bits) + le32(channels == 2 ? 3 : 4) +
         le16(subformat) + std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
}
inline std::string riff(const std::string& chunks) {
  return "RIFF" + le32(uint32_t(chunks.size() + 4)) + "WAVE" + chunks;
}

// The cue points libsndfile, a reader other than the program's, finds in a
// file (id, frame and label); nothing when it finds none or cannot open the
// file.
inline std::vector<WavCuePoint> cuePointsSeenBySndfile(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  SF_CUES cues{};
  std::vector<WavCuePoint> points;
  if (sf_command(file, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE) {
    for (uint32_t i = 0; i < cues.cue_count; ++i)
      points.push_back({static_cast<uint32_t>(cues.cue_points[i].indx), cues.cue_points[i].sample_offset,
                        cues.cue_points[i].name});
  }
  sf_close(file);
  return points;
}

}  // namespace kalimbro
