// What kalimbro says, heard through the "arquivo" output device: the sound
// the program plays is written to a WAV file at its real rate, so the file
// holds what a user would have heard, and no more once a key cut it short.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/e2e/harness.h"

namespace kalimbro::e2e {
namespace {

constexpr std::string_view kTitle = "Gravador de Som Varelu";
constexpr std::string_view kPrompt = "Gravador, qual sua opção? ";
constexpr int kSpeechRate = 11025;  // 8-bit mono: one byte per sample

struct Heard {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bits = 0;
  std::string data;
};

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
uint16_t le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

// The sound of the output file so far; nothing while it has no data.
std::optional<Heard> readHeard(const std::filesystem::path& file) {
  const std::optional<std::string> bytes = readFile(file);
  if (!bytes || bytes->size() < 12 || bytes->compare(0, 4, "RIFF") != 0) return std::nullopt;
  Heard heard;
  size_t pos = 12;
  while (pos + 8 <= bytes->size()) {
    const std::string id = bytes->substr(pos, 4);
    const uint32_t size = le32(*bytes, pos + 4);
    pos += 8;
    if (id == "fmt " && pos + 16 <= bytes->size()) {
      heard.channels = le16(*bytes, pos + 2);
      heard.sampleRate = le32(*bytes, pos + 4);
      heard.bits = le16(*bytes, pos + 14);
    } else if (id == "data") {
      heard.data = bytes->substr(pos, std::min<size_t>(size, bytes->size() - pos));
      return heard;
    }
    pos += size;
  }
  return std::nullopt;
}

size_t heardBytes(const std::filesystem::path& file) {
  const std::optional<Heard> heard = readHeard(file);
  return heard ? heard->data.size() : 0;
}

// Bytes of 8-bit sound that stand clearly apart from silence (128).
size_t loudBytes(const std::string& data) {
  size_t loud = 0;
  for (const char c : data) loud += std::abs(static_cast<uint8_t>(c) - 128) > 4 ? 1 : 0;
  return loud;
}

class Speech : public testing::Test {
 protected:
  void start(std::vector<Setting> more = {}) {
    Options options;
    options.settings = std::move(more);
    // A working file on the command line: start-up goes straight from the
    // title to the prompt, without the file selector.
    options.args = {"voz.wav"};
    options.files = {{"voz.wav", wavBytes(11025, 16, 1, std::vector<int16_t>(1102, 0))}};
    output = "saida.wav";
    // A relative name: the device's file lands in the session's own
    // working directory.
    options.settings.push_back({"SOM", "SAIDA", "arquivo:" + output.string()});
    // Words are heard in their own format, not sped up.
    options.settings.push_back({"SINTETIZADOR", "RAPIDINHO5", "N"});
    std::string error;
    s = Session::start(options, &error);
    ASSERT_NE(s, nullptr) << error;
    output = s->workDir() / output;
  }

  // Waits until the file has stopped growing for a second: speech ended.
  void waitForSilence() {
    size_t last = heardBytes(output);
    for (int i = 0; i < 60; ++i) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      s->waitForQuiet(milliseconds(50), milliseconds(100));
      const size_t now = heardBytes(output);
      if (now == last) return;
      last = now;
    }
  }

  std::unique_ptr<Session> s;
  std::filesystem::path output;
};

TEST_F(Speech, StartUpIsHeard) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(s->waitForText(kPrompt, milliseconds(30000)));
  waitForSilence();
  const std::optional<Heard> heard = readHeard(output);
  ASSERT_TRUE(heard.has_value()) << "nothing was played to " << output;
  EXPECT_EQ(heard->channels, 1);
  EXPECT_EQ(heard->sampleRate, static_cast<uint32_t>(kSpeechRate));
  EXPECT_EQ(heard->bits, 8);
  // The title, the version and the prompt take seconds to say, and most of
  // it is voice, not silence.
  EXPECT_GT(heard->data.size(), static_cast<size_t>(2 * kSpeechRate));
  EXPECT_GT(loudBytes(heard->data), heard->data.size() / 4);
}

TEST_F(Speech, TheEspeakEngineSpeaksThroughTheSameDevice) {
  ASSERT_NO_FATAL_FAILURE(start({{"TRADUTOR", "SAPI", "S"}, {"SERVFALA", "TIPOSAPI", "3"}}));
  ASSERT_TRUE(s->waitForText(kPrompt, milliseconds(30000)));
  waitForSilence();
  const std::optional<Heard> heard = readHeard(output);
  ASSERT_TRUE(heard.has_value()) << "nothing was played to " << output;
  EXPECT_GT(heard->data.size(), static_cast<size_t>(2 * kSpeechRate));
  EXPECT_GT(loudBytes(heard->data), heard->data.size() / 4);
}

TEST_F(Speech, AKeyCutsTheTitleShort) {
  // Heard in full: everything up to the moment the prompt is shown.
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(s->waitForText(kPrompt, milliseconds(30000)));
  const size_t fullTitle = heardBytes(output);
  ASSERT_GT(fullTitle, static_cast<size_t>(kSpeechRate)) << "the title was not heard";
  s.reset();

  // A key as soon as the title shows.
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(s->waitForText(kTitle, milliseconds(30000)));
  ASSERT_TRUE(s->type("x"));
  ASSERT_TRUE(s->waitForText(kPrompt, milliseconds(30000)));
  const size_t cutTitle = heardBytes(output);
  EXPECT_LT(cutTitle, fullTitle / 3) << "heard in full: " << fullTitle << " bytes";
  // The key was only there to stop speech: the prompt still waits for one.
  EXPECT_TRUE(s->isRunning());
}

}  // namespace
}  // namespace kalimbro::e2e
