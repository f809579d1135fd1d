// The "arquivo:PATH" pseudo device. Output is appended to the WAV file PATH
// (made when missing or empty; an existing file keeps its own format and
// what is played is converted to it), whose header is rewritten after every
// write so that the file is always a valid WAV file. Input is read from the
// WAV file PATH, converted to the format asked for, with silence after its
// end. Both run at the real rate of the sound. End-to-end tests listen
// through it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/paced_audio.h"

namespace kalimbro {

// Streams PCM from one format to another: bits (8 <-> 16, the high byte
// plus 128 going down), channels (mono is the average of left and right)
// and rate (each output frame takes the input frame at its instant).
class AudioFormatConverter {
 public:
  AudioFormatConverter() = default;
  AudioFormatConverter(const AudioFormat& from, const AudioFormat& to) : from_(from), to_(to) {}
  // Appends the conversion of `in` to `out`; a frame split between two
  // calls is completed by the next one.
  void convert(std::span<const uint8_t> in, std::vector<uint8_t>& out);

 private:
  void convertFrame(const uint8_t* frame, std::vector<uint8_t>& out);

  AudioFormat from_;
  AudioFormat to_;
  std::vector<uint8_t> partial_;
  int64_t inFrames_ = 0;
  int64_t outFrames_ = 0;
};

class ArquivoOutput final : public PacedOutput {
 public:
  explicit ArquivoOutput(std::string_view path) : path_(path) {}
  ~ArquivoOutput() override { close(); }

 protected:
  int openSink(const AudioFormat& format) override;
  void consume(std::span<const uint8_t> bytes) override;
  void closeSink() override;

 private:
  std::string path_;  // Windows-1252
  int fd_ = -1;
  AudioFormatConverter converter_;
  std::vector<uint8_t> scratch_;
  int64_t dataStart_ = 0;
  int64_t dataBytes_ = 0;
  int64_t dataSizeField_ = 0;
};

class ArquivoInput final : public PacedInput {
 public:
  explicit ArquivoInput(std::string_view path) : path_(path) {}
  ~ArquivoInput() override { close(); }

 protected:
  int openSource(const AudioFormat& format) override;
  void produce(std::span<uint8_t> out) override;
  void closeSource() override;

 private:
  std::string path_;  // Windows-1252
  int fd_ = -1;
  AudioFormat fileFormat_;
  AudioFormatConverter converter_;
  int64_t position_ = 0;   // file offset of the next source byte
  int64_t remaining_ = 0;  // source data bytes not read yet
  std::vector<uint8_t> ready_;
  std::vector<uint8_t> chunk_;
};

}  // namespace kalimbro
