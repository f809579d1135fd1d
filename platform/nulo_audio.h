// The "nulo" pseudo device: output is discarded and input is silence, both
// at the real rate of the sound. For machines without a sound card and for
// tests.
#pragma once

#include "platform/paced_audio.h"

namespace kalimbro {

class NuloOutput final : public PacedOutput {
 public:
  ~NuloOutput() override { close(); }

 protected:
  int openSink(const AudioFormat&) override { return 0; }
  void consume(std::span<const uint8_t>) override {}
  void closeSink() override {}
};

class NuloInput final : public PacedInput {
 public:
  ~NuloInput() override { close(); }

 protected:
  int openSource(const AudioFormat& format) override;
  void produce(std::span<uint8_t> out) override;
  void closeSource() override {}

 private:
  uint8_t silence_ = 0;
};

}  // namespace kalimbro
