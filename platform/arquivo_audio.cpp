// The "arquivo:PATH" pseudo device.
#include "platform/arquivo_audio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fd.h"
#include "platform/paths.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

constexpr int64_t kMaxRiffBytes = 0xFFFFFFFFLL;

// Where the sound of a PCM WAV file lies.
struct SoundLayout {
  AudioFormat format;
  int64_t dataSizeField = 0;  // offset of the data chunk's size field
  int64_t dataStart = 0;
  int64_t dataBytes = 0;      // as far as the file really holds them
};

// Walks the chunks of a RIFF/WAVE file up to the data chunk. False for
// anything but PCM in a format the devices accept.
bool readSoundLayout(int fd, int64_t fileSize, SoundLayout& layout) {
  if (lseek(fd, 0, SEEK_SET) != 0) return false;
  FdSource source(fd);
  WavLayout wav;
  if (walkWavHeader(source, wav) != WavWalk::ok || wav.format.formatTag != kWavFormatPcm) return false;
  layout.format = {static_cast<int>(wav.format.sampleRate), wav.format.bitsPerSample, wav.format.channels};
  if (!isSupportedAudioFormat(layout.format)) return false;
  layout.dataStart = static_cast<int64_t>(wav.dataOffset);
  layout.dataSizeField = layout.dataStart - 4;
  layout.dataBytes = std::min<int64_t>(wav.dataBytes, fileSize - layout.dataStart);
  return true;
}

int openError() { return errno != 0 ? errno : EIO; }

}  // namespace

void AudioFormatConverter::convert(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  if (from_ == to_) {
    out.insert(out.end(), in.begin(), in.end());
    return;
  }
  const size_t frameBytes = static_cast<size_t>(from_.frameBytes());
  size_t i = 0;
  if (!partial_.empty()) {
    while (partial_.size() < frameBytes && i < in.size()) partial_.push_back(in[i++]);
    if (partial_.size() < frameBytes) return;
    convertFrame(partial_.data(), out);
    partial_.clear();
  }
  for (; i + frameBytes <= in.size(); i += frameBytes) convertFrame(in.data() + i, out);
  partial_.assign(in.begin() + static_cast<std::ptrdiff_t>(i), in.end());
}

void AudioFormatConverter::convertFrame(const uint8_t* frame, std::vector<uint8_t>& out) {
  auto sample = [this, frame](int channel) -> int {
    if (from_.bitsPerSample == 8) return (frame[channel] - 128) * 256;
    return static_cast<int16_t>(readLe16(frame + 2 * channel));
  };
  const int left = sample(0);
  const int right = from_.channels == 2 ? sample(1) : left;
  const int values[2] = {to_.channels == 1 ? (left + right) / 2 : left, right};
  // Output frame k is the input frame at the same instant:
  // k x inRate / outRate, truncated. One input frame may give none, one or
  // several output frames.
  const int64_t index = inFrames_++;
  while (outFrames_ * from_.sampleRate / to_.sampleRate == index) {
    for (int c = 0; c < to_.channels; ++c) {
      const int v = values[c];
      if (to_.bitsPerSample == 8) {
        out.push_back(static_cast<uint8_t>((v >> 8) + 128));
      } else {
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      }
    }
    ++outFrames_;
  }
}

int ArquivoOutput::openSink(const AudioFormat& format) {
  errno = 0;
  fd_ = ::open(nativePath(path_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return openError();
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    const int rc = openError();
    closeSink();
    return rc;
  }
  AudioFormat fileFormat = format;
  if (st.st_size == 0) {
    const auto header = makeWavHeader(0, static_cast<uint32_t>(format.sampleRate),
                                      static_cast<uint16_t>(format.channels),
                                      static_cast<uint16_t>(format.bitsPerSample));
    if (!writeAllAt(fd_, 0, header.data(), header.size())) {
      const int rc = openError();
      closeSink();
      return rc;
    }
    dataSizeField_ = 40;
    dataStart_ = 44;
    dataBytes_ = 0;
  } else {
    // Only a PCM file whose data chunk runs to the end can grow; anything
    // else is left alone.
    SoundLayout layout;
    if (!readSoundLayout(fd_, st.st_size, layout) || layout.dataStart + layout.dataBytes != st.st_size) {
      closeSink();
      return EINVAL;
    }
    fileFormat = layout.format;
    dataSizeField_ = layout.dataSizeField;
    dataStart_ = layout.dataStart;
    dataBytes_ = layout.dataBytes;
  }
  converter_ = AudioFormatConverter(format, fileFormat);
  return 0;
}

void ArquivoOutput::consume(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return;
  scratch_.clear();
  converter_.convert(bytes, scratch_);
  // The RIFF size is 32 bits: what no header could describe is not written.
  const int64_t room = kMaxRiffBytes - (dataStart_ - 8) - dataBytes_;
  const size_t count = static_cast<size_t>(std::clamp<int64_t>(room, 0, static_cast<int64_t>(scratch_.size())));
  if (count == 0 || !writeAllAt(fd_, dataStart_ + dataBytes_, scratch_.data(), count)) return;
  dataBytes_ += static_cast<int64_t>(count);
  uint8_t size[4];
  writeLe32(size, static_cast<uint32_t>(dataStart_ - 8 + dataBytes_));
  writeAllAt(fd_, 4, size, 4);
  writeLe32(size, static_cast<uint32_t>(dataBytes_));
  writeAllAt(fd_, dataSizeField_, size, 4);
}

void ArquivoOutput::closeSink() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int ArquivoInput::openSource(const AudioFormat& format) {
  errno = 0;
  fd_ = ::open(nativePath(path_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return openError();
  struct stat st;
  SoundLayout layout;
  if (fstat(fd_, &st) != 0 || !readSoundLayout(fd_, st.st_size, layout)) {
    closeSource();
    return EINVAL;
  }
  fileFormat_ = layout.format;
  converter_ = AudioFormatConverter(fileFormat_, format);
  position_ = layout.dataStart;
  remaining_ = layout.dataBytes - layout.dataBytes % fileFormat_.frameBytes();
  ready_.clear();
  return 0;
}

void ArquivoInput::produce(std::span<uint8_t> out) {
  constexpr int64_t kChunkFrames = 4096;
  const int64_t frameBytes = fileFormat_.frameBytes();
  while (ready_.size() < out.size()) {
    // The file's own frames first, then silence in the file's format, so
    // that the conversion keeps its pace across the end.
    int64_t bytes = std::min(remaining_, kChunkFrames * frameBytes);
    if (bytes > 0) {
      chunk_.resize(static_cast<size_t>(bytes));
      if (!readAllAt(fd_, position_, chunk_.data(), chunk_.size())) {
        remaining_ = 0;
        continue;
      }
      position_ += bytes;
      remaining_ -= bytes;
    } else {
      bytes = kChunkFrames * frameBytes;
      chunk_.assign(static_cast<size_t>(bytes), fileFormat_.silenceByte());
    }
    converter_.convert(chunk_, ready_);
  }
  std::copy_n(ready_.begin(), out.size(), out.begin());
  ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(out.size()));
}

void ArquivoInput::closeSource() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace kalimbro
