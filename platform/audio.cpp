// The audio seams: choosing a backend by name and carrying done reports to
// the main thread.
#include "platform/audio.h"

#include "platform/alsa_audio.h"
#include "platform/arquivo_audio.h"
#include "platform/eventloop.h"
#include "platform/nulo_audio.h"

namespace kalimbro {
namespace {

AudioOutputFactory& outputOverride() {
  static AudioOutputFactory factory;
  return factory;
}

AudioInputFactory& inputOverride() {
  static AudioInputFactory factory;
  return factory;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

constexpr std::string_view kNulo = "nulo";
constexpr std::string_view kArquivo = "arquivo:";

bool isArquivo(std::string_view device) {
  return device.size() >= kArquivo.size() && equalsIgnoringCase(device.substr(0, kArquivo.size()), kArquivo);
}

}  // namespace

bool isSupportedAudioFormat(const AudioFormat& f) {
  return (f.bitsPerSample == 8 || f.bitsPerSample == 16) && (f.channels == 1 || f.channels == 2) &&
         f.sampleRate >= 1000 && f.sampleRate <= 192000;
}

std::unique_ptr<AudioOutput> makeAudioOutput(std::string_view device) {
  if (outputOverride()) return outputOverride()(device);
  if (equalsIgnoringCase(device, kNulo)) return std::make_unique<NuloOutput>();
  if (isArquivo(device)) return std::make_unique<ArquivoOutput>(device.substr(kArquivo.size()));
  return std::make_unique<AlsaOutput>(device.empty() ? std::string_view("default") : device);
}

std::unique_ptr<AudioInput> makeAudioInput(std::string_view device) {
  if (inputOverride()) return inputOverride()(device);
  if (equalsIgnoringCase(device, kNulo)) return std::make_unique<NuloInput>();
  if (isArquivo(device)) return std::make_unique<ArquivoInput>(device.substr(kArquivo.size()));
  return std::make_unique<AlsaInput>(device.empty() ? std::string_view("default") : device);
}

void setAudioOutputFactory(AudioOutputFactory factory) { outputOverride() = std::move(factory); }
void setAudioInputFactory(AudioInputFactory factory) { inputOverride() = std::move(factory); }

std::vector<std::string> audioOutputDeviceNames() {
  std::vector<std::string> names = alsaOutputDeviceNames();
  names.emplace_back(kNulo);
  names.emplace_back(kArquivo);
  return names;
}

AudioDoneQueue::AudioDoneQueue(AudioOutput::DoneHandler handler) : state_(std::make_shared<State>()) {
  state_->handler = std::move(handler);
}

AudioDoneQueue::~AudioDoneQueue() { state_->closed = true; }

void AudioDoneQueue::post(int block, int status) {
  eventLoop().post([state = state_, block, status] {
    if (!state->closed) state->handler(block, status);
  });
}

}  // namespace kalimbro
