// vrfalasom: what speech needs of the sound side, as one small interface.
// Speech plays recorded sounds (WAV files), sounds built in memory (WAV
// images: number words, clicks, beeps) and words of the family's
// synthesizer, asks whether anything still sounds and stops it, and turns
// the playback switches of the speed levels and the line editor. The
// program's player is the playback engine (vrwav) with the word
// synthesizer (vrsintese), linked at start (app/soundLinks); tests put a
// recording fake in its place.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kalimbro {

class SpeechPlayer {
 public:
  virtual ~SpeechPlayer() = default;

  // The family's word synthesizer: 0 when it is ready at this speed level
  // (1-5), else its error code; its voice, for the start-up error message.
  virtual int startWords(int speedLevel) = 0;
  virtual void releaseWords() = 0;
  virtual std::string wordsVoiceName() = 0;

  // Plays a WAV file; the playback engine's result (0 played or cut short
  // by a key, -1 not a playable file, else the device's error). Waits for
  // the end unless playAsync is on.
  virtual int playFile(std::string_view path) = 0;
  // Queues a complete WAV image held in memory; does not wait.
  virtual void playImage(std::span<const uint8_t> image) = 0;
  // Synthesizes `text` (Windows-1252) and queues its sound; does not wait.
  // A key pressed while it is synthesized cuts it short.
  virtual void playWords(std::string_view text) = 0;

  // True while anything queued still sounds. A key waiting stops it (the
  // key stays queued).
  virtual bool isPlaying() = 0;
  virtual void stop() = 0;

  // The playback engine's switches: speedUp (rate x 1.5), fastMode (mono
  // speech faster at the same pitch), playAsync (playFile returns at once).
  virtual bool speedUp() = 0;
  virtual void setSpeedUp(bool on) = 0;
  virtual bool fastMode() = 0;
  virtual void setFastMode(bool on) = 0;
  virtual bool playAsync() = 0;
  virtual void setPlayAsync(bool on) = 0;
};

// The program's player, as linked at start; until then (and after
// nullptr) a player that sounds nothing.
void setProgramSpeechPlayer(SpeechPlayer* player);
SpeechPlayer& programSpeechPlayer();

}  // namespace kalimbro
